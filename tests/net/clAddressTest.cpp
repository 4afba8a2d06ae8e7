// IPv4 address text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "NetTestPeers.h"
#include "net/clSocket.h"

namespace {

TEST(NetDottedAddress, TestFollowsTheHostAddressRules) {
  EXPECT_TRUE(kz::IsDottedAddress("192.168.1.10"));
  EXPECT_TRUE(kz::IsDottedAddress("0.0.0.0"));
  EXPECT_FALSE(kz::IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(kz::IsDottedAddress("256.1.1.1"));
  EXPECT_FALSE(kz::IsDottedAddress("localhost"));
  EXPECT_FALSE(kz::IsDottedAddress(""));
  EXPECT_FALSE(kz::IsDottedAddress("1.2.3.4 "));
}

}  // namespace
