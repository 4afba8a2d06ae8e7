// Socket-level operations of the plain stream, the host resolver and the error texts.
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

struct EndPointRow {
  std::string name, host;
  int port;
  std::string wantAddress;  // empty: an error is expected
  int wantCode = 0;
};
void PrintTo(const EndPointRow& row, std::ostream* os) {
  *os << row.name;
}

class NetEndPoint : public testing::TestWithParam<EndPointRow> {};

TEST_P(NetEndPoint, Builds) {
  const EndPointRow& row = GetParam();
  try {
    const sockaddr_in a = TclNetworkStream::CreateEndPoint(row.host, row.port);
    EXPECT_EQ(row.wantCode, 0);
    EXPECT_EQ(a.sin_family, AF_INET);
    EXPECT_EQ(ntohs(a.sin_port), row.port);
    EXPECT_EQ(kz::FormatAddress(a.sin_addr), row.wantAddress);
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode, row.wantCode) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetEndPoint,
    testing::Values(EndPointRow{"EmptyIsAny", "", 25, "0.0.0.0"},
                    EndPointRow{"Broadcast", "255.255.255.255", 9, "255.255.255.255"},
                    EndPointRow{"Dotted", "192.168.1.10", 0, "192.168.1.10"},
                    EndPointRow{"HostName", "mail.example.org", 25, "", -2},
                    EndPointRow{"ShortForm", "127.1", 25, "", -2},
                    EndPointRow{"NegativePort", "127.0.0.1", -1, "", -3},
                    EndPointRow{"PortTooLarge", "127.0.0.1", 65536, "", -3}),
    [](const testing::TestParamInfo<EndPointRow>& info) { return info.param.name; });

TEST(NetDottedAddress, TestFollowsTheHostAddressRules) {
  EXPECT_TRUE(kz::IsDottedAddress("192.168.1.10"));
  EXPECT_TRUE(kz::IsDottedAddress("0.0.0.0"));
  EXPECT_FALSE(kz::IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(kz::IsDottedAddress("256.1.1.1"));
  EXPECT_FALSE(kz::IsDottedAddress("localhost"));
  EXPECT_FALSE(kz::IsDottedAddress(""));
  EXPECT_FALSE(kz::IsDottedAddress("1.2.3.4 "));
}

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

TEST(NetErrorCodes, LookupCodesStayClearOfErrnoAndOwnCodes) {
  for (int eai : {EAI_AGAIN, EAI_FAIL, EAI_NONAME, EAI_MEMORY, EAI_FAMILY, EAI_SERVICE}) {
    const int code = kz::GaiErrorCode(eai, 0);
    EXPECT_GT(code, 4095);
    EXPECT_EQ(kz::SocketErrorText(code), gai_strerror(eai));
  }
  EXPECT_EQ(kz::GaiErrorCode(EAI_SYSTEM, EMFILE), EMFILE);
  EXPECT_EQ(kz::SocketErrorText(EADDRINUSE), "Address already in use");
}

TEST(NetSocket, BindOverARangeSkipsPortsInUse) {
  kz::UniqueFd taken = nettest::ListenLoopback(0);
  const int busy = nettest::LocalPort(taken.Get());
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.CreateSocket(SOCK_STREAM, IPPROTO_TCP);
  nettest::ExpectThrows([&] { c.NetworkStream()->Bind("127.0.0.1", busy, busy); }, EADDRINUSE);
  // The next port may happen to be busy too; then the range must say so.
  try {
    c.NetworkStream()->Bind("127.0.0.1", busy, busy + 1);
    EXPECT_EQ(c.NetworkStream()->Connection()->Socket(), c.Socket());
    EXPECT_EQ(nettest::LocalPort(c.Socket()), busy + 1);
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode, EADDRINUSE);
  }
  for (auto [first, last] : {std::pair{0, 10}, std::pair{20, 19}}) {
    nettest::ExpectThrows([&] { c.NetworkStream()->Bind("127.0.0.1", first, last); }, -3);
  }
}

TEST(NetSocket, ListenAndAcceptServeAClient) {
  TclTcpConnection server;
  server.SetNetworkStream(std::make_unique<TclNetworkStream>());
  server.CreateSocket(SOCK_STREAM, IPPROTO_TCP);
  TclNetworkStream& stream = *server.NetworkStream();
  stream.Bind("127.0.0.1", 0);
  stream.Listen();
  ASSERT_GT(stream.Port(), 0);

  TclTcpClientConnection client;
  client.SetNetworkStream(std::make_unique<TclNetworkStream>());
  client.Open("127.0.0.1", stream.Port());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stream.Accept();
  EXPECT_TRUE(server.Active());
  EXPECT_EQ(server.PeerIP(), "127.0.0.1");
  EXPECT_EQ(server.PeerPort(), client.Port());

  TMemoryStream hello(std::string("EHLO test\r\n"));
  client.WriteData(&hello);
  TMemoryStream got;
  while (got.Size() < 11)
    server.ReadData(&got);
  EXPECT_EQ(got.Data(), "EHLO test\r\n");
}

TEST(NetSocket, DatagramsCarryTheSender) {
  TclTcpConnection a;
  a.SetNetworkStream(std::make_unique<TclNetworkStream>());
  a.CreateSocket(SOCK_DGRAM, IPPROTO_UDP);
  a.NetworkStream()->Bind("127.0.0.1", 0);
  a.NetworkStream()->Broadcast();
  a.NetworkStream()->ConnectEnd();
  const int port = a.Port();

  TMemoryStream none;
  std::string from;
  int fromPort = 0;
  EXPECT_FALSE(a.NetworkStream()->ReadFrom(&none, from, fromPort));  // nothing yet: would block

  TMemoryStream datagram(std::string("ping"));
  EXPECT_TRUE(a.NetworkStream()->WriteTo(&datagram, "127.0.0.1", port));
  EXPECT_EQ(datagram.Remaining(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TMemoryStream in;
  ASSERT_TRUE(a.NetworkStream()->ReadFrom(&in, from, fromPort));
  EXPECT_EQ(in.Data(), "ping");
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_EQ(fromPort, port);
}

}  // namespace
