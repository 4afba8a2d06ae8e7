// The host resolver: dotted addresses, lookups, errors and abort.
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

TEST(NetResolver, DottedAddressNeedsNoLookup) {
  TclHostIPResolver resolver;
  // A time-out of 0 would fail any real lookup at once.
  EXPECT_EQ(resolver.GetIPAddress("192.168.1.10", 0), "192.168.1.10");
}

TEST(NetResolver, LooksUpLocalhost) {
  TclHostIPResolver resolver;
  EXPECT_EQ(resolver.GetIPAddress("localhost", 5000), "127.0.0.1");
  std::vector<std::string> list{"keep"};
  resolver.GetIPAddressList("127.0.0.1", list, 5000);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1], "127.0.0.1");
}

TEST(NetResolver, BroadcastTextGoesToTheLookup) {
  TclHostIPResolver resolver;
  EXPECT_EQ(resolver.GetIPAddress("255.255.255.255", 5000), "255.255.255.255");
}

TEST(NetResolver, UnresolvableNameRaisesTheLookupError) {
  TclHostIPResolver resolver;
  // An empty label fails inside the resolver library, without asking any name server.
  nettest::ExpectThrows([&] { resolver.GetIPAddress("bad..name", 5000); },
                        kz::kGaiErrorBase + (-EAI_NONAME), gai_strerror(EAI_NONAME));
}

TEST(NetResolver, AbortFromThePumpHookEndsTheLookup) {
  TclHostIPResolver resolver;
  std::this_thread::sleep_for(std::chrono::milliseconds(kz::kPumpSliceMs + 5));
  kz::PumpHook previous = kz::SetPumpHook([&] { resolver.Abort(); });
  nettest::ExpectThrows([&] { resolver.GetIPAddress("localhost", -1); }, ECANCELED);
  kz::SetPumpHook(previous);
  EXPECT_EQ(resolver.GetIPAddress("localhost", 5000), "127.0.0.1");  // usable again
}

}  // namespace
