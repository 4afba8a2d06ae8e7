// Socket error codes and texts.
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

TEST(NetErrorCodes, LookupCodesStayClearOfErrnoAndOwnCodes) {
  for (int eai : {EAI_AGAIN, EAI_FAIL, EAI_NONAME, EAI_MEMORY, EAI_FAMILY, EAI_SERVICE}) {
    const int code = kz::GaiErrorCode(eai, 0);
    EXPECT_GT(code, 4095);
    EXPECT_EQ(kz::SocketErrorText(code), gai_strerror(eai));
  }
  EXPECT_EQ(kz::GaiErrorCode(EAI_SYSTEM, EMFILE), EMFILE);
  EXPECT_EQ(kz::SocketErrorText(EADDRINUSE), "Address already in use");
}

}  // namespace
