// The plain stream: end points, bind, listen and accept, datagrams, and the drain of a read,
// which takes everything that arrives until the socket would block.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
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

struct DrainCase {
  const char* name;
  std::size_t first;  // bytes in the socket before the read starts
  std::size_t more;   // bytes the peer sends while the read stores the first batch
  int pauseMs;        // how long storing the first batch takes
};

void PrintTo(const DrainCase& row, std::ostream* out) {
  *out << row.name;
}

class NetStreamDrain : public ::testing::TestWithParam<DrainCase> {};

// Stores what it is given; on the first write it lets the peer send more and waits until
// that has been sent (loopback delivers it at once), then takes `pauseMs` more.
struct SlowSink : TMemoryStream {
  std::atomic<bool>* sendMore = nullptr;
  std::atomic<bool>* sent = nullptr;
  int pauseMs = 0;
  bool first = true;
  using TStream::Write;
  std::size_t Write(std::span<const char> data) override {
    if (first) {
      first = false;
      sendMore->store(true);
      for (int i = 0; i < 500 && !sent->load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs + 5));
    }
    return TMemoryStream::Write(data);
  }
};

TEST_P(NetStreamDrain, ReadTakesWhatArrivesUntilTheSocketWouldBlock) {
  const DrainCase& row = GetParam();
  std::atomic<bool> sendMore{false}, sent{false}, done{false};
  nettest::ScriptedPeer peer([&](int fd) {
    nettest::SendAll(fd, std::string(row.first, 'a'));
    while (!sendMore.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    nettest::SendAll(fd, std::string(row.more, 'b'));
    sent = true;
    while (!done.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.Open("127.0.0.1", peer.Port());
  // Everything the peer sent first is in the socket before the read starts.
  for (int i = 0; i < 500; ++i) {
    int queued = 0;
    if (::ioctl(c.Socket(), FIONREAD, &queued) == 0 && queued >= static_cast<int>(row.first))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  SlowSink sink;
  sink.sendMore = &sendMore;
  sink.sent = &sent;
  sink.pauseMs = row.pauseMs;
  EXPECT_FALSE(c.NetworkStream()->Read(&sink));  // it ended on a receive that would block
  EXPECT_EQ(sink.Data(), std::string(row.first, 'a') + std::string(row.more, 'b'));
  EXPECT_FALSE(c.NetworkStream()->NeedClose());
  done = true;
}

INSTANTIATE_TEST_SUITE_P(Rows, NetStreamDrain,
                         ::testing::Values(DrainCase{"ShortFirstReceive", 100, 100, 0},
                                           DrainCase{"FullBatchesThenMore", 3 * 8192, 5000, 0},
                                           DrainCase{"DrainLongerThanAPumpSlice", 2 * 8192, 100,
                                                     40}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
