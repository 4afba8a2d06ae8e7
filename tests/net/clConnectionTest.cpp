// The connection against scripted peers on 127.0.0.1: transfers, limits, closing, time-out,
// abort and the pump hook, progress and the bandwidth cap.
#include "net/clConnection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "NetTestPeers.h"
#include "core/CodePage.h"

using nettest::RecvExactly;
using nettest::ScriptedPeer;
using nettest::SendAll;

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A connection with a plain stream, opened to the peer.
struct Client {
  explicit Client(int port, int timeOut = 5000) {
    connection.SetNetworkStream(std::make_unique<TclNetworkStream>());
    connection.SetTimeOut(timeOut);
    connection.Open("127.0.0.1", port);
  }
  TclTcpClientConnection connection;
};

// Restores the process-wide pump hook at the end of a test.
struct HookGuard {
  explicit HookGuard(kz::PumpHook hook) : previous(kz::SetPumpHook(std::move(hook))) {}
  ~HookGuard() { kz::SetPumpHook(previous); }
  kz::PumpHook previous;
};

TEST(NetConnection, OpenMovesDataBothWaysAndRecordsAddresses) {
  ScriptedPeer peer([](int fd) {
    EXPECT_EQ(RecvExactly(fd, 5), "hello");
    SendAll(fd, "world!");
    RecvExactly(fd, 1, 2000);  // until the client closes
  });
  int ready = 0;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.OnReady = [&](TclConnection*) { ++ready; };
  c.Open("127.0.0.1", peer.Port());
  EXPECT_TRUE(c.Active());
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(c.PeerIP(), "127.0.0.1");
  EXPECT_EQ(c.PeerPort(), peer.Port());
  EXPECT_EQ(c.IP(), "127.0.0.1");
  EXPECT_GT(c.Port(), 0);
  EXPECT_EQ(c.NetworkStream()->PeerPort(), peer.Port());

  TMemoryStream out(std::string("hello"));
  EXPECT_TRUE(c.WriteData(&out));
  EXPECT_EQ(out.Remaining(), 0);
  TMemoryStream in;
  while (in.Size() < 6)
    c.ReadData(&in);
  EXPECT_EQ(in.Data(), "world!");
  EXPECT_FALSE(c.Close(true));
  EXPECT_FALSE(c.Active());
  EXPECT_EQ(c.Socket(), -1);
}

TEST(NetConnection, WithoutDataObjectNothingTouchesTheSocket) {
  // No connection at all: touching the socket would raise.
  TclNetworkStream stream;
  EXPECT_TRUE(stream.Read(nullptr));
  EXPECT_TRUE(stream.Write(nullptr));
  TMemoryStream empty;
  EXPECT_TRUE(stream.Write(&empty));
  TMemoryStream consumed(std::string("abc"));
  consumed.Seek(0, SeekOrigin::End);
  EXPECT_TRUE(stream.Write(&consumed));
}

TEST(NetConnection, ConnectRefusedRaisesTheSystemError) {
  const int port = nettest::FreePort();
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  nettest::ExpectThrows([&] { c.Open("127.0.0.1", port); }, ECONNREFUSED, "Connection refused");
}

TEST(NetConnection, MissingStreamAndBadPortAreRefused) {
  TclTcpClientConnection c;
  nettest::ExpectThrows([&] { c.Open("127.0.0.1", 25); }, -5, "NetworkStream is required");
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  nettest::ExpectThrows([&] { c.Open("127.0.0.1", 0); }, -3, "Invalid port number");
  c.CloseEnd();
  nettest::ExpectThrows([&] { c.Open("no.such.host", 25); }, -2, "Invalid host address");
  c.CloseEnd();
  nettest::ExpectThrows([&] { c.OpenSession(); }, -6, "The connection to the server is not active");
}

TEST(NetConnection, BatchSizeZeroFailsReadsAndWrites) {
  ScriptedPeer peer([](int fd) {
    SendAll(fd, "data");
    RecvExactly(fd, 1, 2000);
  });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  c.SetBatchSize(0);
  TMemoryStream out(std::string("x"));
  nettest::ExpectThrows([&] { c.WriteData(&out); }, -4, "Invalid Batch Size");
  TMemoryStream in;
  nettest::ExpectThrows([&] { c.ReadData(&in); }, -4, "Invalid Batch Size");
}

TEST(NetConnection, BytesToProceedLimitsOneRead) {
  ScriptedPeer peer([](int fd) {
    SendAll(fd, std::string(100, 'a'));
    RecvExactly(fd, 1, 2000);
  });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all 100 bytes are there
  c.SetBytesToProceed(10);
  c.InitProgress(0, 0);
  TMemoryStream in;
  c.ReadData(&in);
  EXPECT_EQ(in.Size(), 10);
  c.SetBytesToProceed(-1);
  c.InitProgress(0, 0);
  while (in.Size() < 100)
    c.ReadData(&in);
  EXPECT_EQ(in.Size(), 100);
}

TEST(NetConnection, PeerClosingDuringReadClosesAndKeepsTheData) {
  ScriptedPeer peer([](int fd) { SendAll(fd, "last words"); });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  TMemoryStream in;
  while (c.Active())
    c.ReadData(&in);
  EXPECT_EQ(in.Data(), "last words");
  EXPECT_EQ(c.Socket(), -1);
  nettest::ExpectThrows([&] { c.ReadData(&in); }, ENOTSOCK, "Socket operation on non-socket");
  TMemoryStream out(std::string("too late"));
  nettest::ExpectThrows([&] { c.WriteData(&out); }, ENOTSOCK, "Socket operation on non-socket");
  EXPECT_EQ(out.Position(), 0);
}

// A listener whose accept queue is full leaves further connects pending.
struct FullListener {
  FullListener() : listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    EXPECT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(listener.Get(), 0), 0);
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    filler.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(filler.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kz::UniqueFd listener, filler;
  int port = 0;
};

TEST(NetConnection, PendingConnectTimesOut) {
  FullListener full;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.SetTimeOut(300);
  const auto start = Clock::now();
  nettest::ExpectThrows([&] { c.Open("127.0.0.1", full.port); }, -1, "Timeout error occured");
  EXPECT_GE(MsSince(start), 290);
  EXPECT_FALSE(c.Active());
}

TEST(NetConnection, AbortedOpenEndsClosed) {
  FullListener full;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.SetTimeOut(-1);
  int pumped = 0;
  HookGuard hook([&] {
    if (++pumped == 3)
      c.Abort();
  });
  c.Open("127.0.0.1", full.port);
  EXPECT_FALSE(c.Active());
  EXPECT_EQ(c.Socket(), -1);
}

TEST(NetConnection, LocalBindingChoosesTheSourceAddress) {
  nettest::EchoServer echo;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.SetLocalBinding(" 127.0.0.2 ");
  c.Open("127.0.0.1", echo.Port());
  EXPECT_EQ(c.IP(), "127.0.0.2");
  EXPECT_EQ(c.NetworkStream()->IP(), "127.0.0.2");
}

TEST(NetConnection, ReadUntilCloseCollectsEverySegment) {
  ScriptedPeer peer([](int fd) {
    for (const char* part : {"one ", "two ", "three"}) {
      SendAll(fd, part);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  Client client(peer.Port());
  client.connection.SetIsReadUntilClose(true);
  TMemoryStream in;
  client.connection.ReadData(&in);
  EXPECT_EQ(in.Data(), "one two three");
  EXPECT_FALSE(client.connection.Active());
}

TEST(NetConnection, InactivityRaisesTheTimeOut) {
  ScriptedPeer peer([](int fd) { RecvExactly(fd, 1, 3000); });
  Client client(peer.Port(), 200);
  TMemoryStream in;
  const auto start = Clock::now();
  nettest::ExpectThrows([&] { client.connection.ReadData(&in); }, -1, "Timeout error occured");
  EXPECT_GE(MsSince(start), 190);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_TRUE(client.connection.Active());  // the caller decides to close
}

TEST(NetConnection, TimeOutMinusOneWaitsForSlowData) {
  ScriptedPeer peer([](int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    SendAll(fd, "late");
    RecvExactly(fd, 1, 2000);
  });
  Client client(peer.Port(), -1);
  TMemoryStream in;
  EXPECT_TRUE(client.connection.ReadData(&in));
  EXPECT_EQ(in.Data(), "late");
}

TEST(NetConnection, AbortFromThePumpHookEndsTheWait) {
  ScriptedPeer peer([](int fd) { RecvExactly(fd, 1, 3000); });
  Client client(peer.Port(), -1);
  TclTcpClientConnection& c = client.connection;
  int pumped = 0;
  HookGuard hook([&] {
    if (++pumped == 4)
      c.Abort();
  });
  TMemoryStream in;
  const auto start = Clock::now();
  c.ReadData(&in);
  EXPECT_TRUE(c.IsAborted());
  EXPECT_GE(pumped, 4);
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_EQ(in.Size(), 0);
}

TEST(NetConnection, HookKeepsRunningAndTimeOutStillCounts) {
  ScriptedPeer peer([](int fd) { RecvExactly(fd, 1, 3000); });
  Client client(peer.Port(), 300);
  int pumped = 0;
  HookGuard hook([&] { ++pumped; });
  TMemoryStream in;
  nettest::ExpectThrows([&] { client.connection.ReadData(&in); }, -1);
  EXPECT_GE(pumped, 3);  // about one call per 25 ms slice
}

TEST(NetConnection, HookRunsDuringABusyTransfer) {
  // Data never stops arriving for 300 ms, so no wait times out; the hook must still run
  // about once a 25 ms slice.
  std::atomic<std::size_t> sent{0};
  ScriptedPeer peer([&](int fd) {
    const std::string chunk(1 << 16, 'd');
    const auto end = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < end) {
      SendAll(fd, chunk);
      sent += chunk.size();
    }
  });
  Client client(peer.Port());
  int pumped = 0;
  HookGuard hook([&] { ++pumped; });
  struct Sink : TStream {
    std::size_t Read(std::span<char>) override { return 0; }
    std::size_t Write(std::span<const char> d) override { return count += d.size(), d.size(); }
    std::int64_t Seek(std::int64_t, SeekOrigin) override { return 0; }
    std::int64_t Size() override { return 0; }
    void SetSize(std::int64_t) override {}
    std::size_t count = 0;
  } sink;
  while (client.connection.Active())
    client.connection.ReadData(&sink);
  EXPECT_EQ(sink.count, sent.load());
  EXPECT_GE(pumped, 4);
}

TEST(NetConnection, HookRunsDuringALongWrite) {
  ScriptedPeer peer([](int fd) {
    char buffer[65536];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  });
  Client client(peer.Port());
  int pumped = 0;
  HookGuard hook([&] { ++pumped; });
  TMemoryStream out(std::string(128 << 20, 'w'));
  const auto start = Clock::now();
  client.connection.WriteData(&out);
  EXPECT_EQ(out.Remaining(), 0);
  EXPECT_GE(pumped, std::max<int>(2, static_cast<int>(MsSince(start) / 25 / 3)));
}

TEST(NetConnection, AbortFromAnotherThreadEndsTheWait) {
  ScriptedPeer peer([](int fd) { RecvExactly(fd, 1, 3000); });
  Client client(peer.Port(), -1);
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.connection.Abort();
  });
  TMemoryStream in;
  client.connection.ReadData(&in);
  aborter.join();
  EXPECT_TRUE(client.connection.IsAborted());
}

TEST(NetConnection, AbortDuringABlockedWriteMakesWriteStringFail) {
  std::atomic<bool> done{false};
  ScriptedPeer peer([&](int) {  // holds the connection open and never reads
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  Client client(peer.Port(), -1);
  int pumped = 0;
  HookGuard hook([&] {
    if (++pumped == 4)
      client.connection.Abort();
  });
  // Far more than the socket buffers hold: the write must block until the abort.
  nettest::ExpectThrows([&] { client.connection.WriteString(std::string(32 << 20, 'w')); },
                        ECONNABORTED, "Software caused connection abort");
  done = true;
}

TEST(NetConnection, ProgressCountsFromInitProgress) {
  ScriptedPeer peer([](int fd) {
    SendAll(fd, std::string(3000, 'p'));
    RecvExactly(fd, 1, 2000);
  });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  c.SetBatchSize(1000);
  std::vector<std::pair<std::int64_t, std::int64_t>> reports;
  c.OnProgress = [&](TclConnection* sender, std::int64_t done, std::int64_t total) {
    EXPECT_EQ(sender, &c);
    reports.emplace_back(done, total);
  };
  c.InitProgress(500, 10000);
  TMemoryStream in;
  while (in.Size() < 3000)
    c.ReadData(&in);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), std::make_pair(std::int64_t{3500}, std::int64_t{10000}));
  for (std::size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GT(reports[i].first, reports[i - 1].first);
    EXPECT_LE(reports[i].first - reports[i - 1].first, 1000);  // one batch per report
  }
  EXPECT_EQ(c.BytesProceed(), 3500);
  EXPECT_EQ(c.NetworkStream()->BytesProceed(), 3000);
}

TEST(NetConnection, BandwidthCapSlowsATransfer) {
  ScriptedPeer peer([](int fd) { EXPECT_EQ(RecvExactly(fd, 4000).size(), 4000u); });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  c.SetBatchSize(1000);
  c.SetBitsPerSec(80000);  // 10 000 bytes a second: 100 ms per batch
  TMemoryStream out(std::string(4000, 'b'));
  const auto start = Clock::now();
  c.WriteData(&out);
  EXPECT_GE(MsSince(start), 380);
  EXPECT_LT(MsSince(start), 3000);
}

TEST(NetConnection, BandwidthPauseFollowsTheBytesMovedNotTheBatch) {
  ScriptedPeer peer([](int fd) {
    SendAll(fd, "250 OK\r\n");
    RecvExactly(fd, 1, 3000);
  });
  Client client(peer.Port());
  TclTcpClientConnection& c = client.connection;
  c.SetBitsPerSec(8000);  // 1000 bytes a second; a whole 8192-byte batch would be 8 s
  TMemoryStream in;
  const auto start = Clock::now();
  c.ReadData(&in);
  EXPECT_EQ(in.Data(), "250 OK\r\n");
  EXPECT_LT(MsSince(start), 1000);
}

TEST(NetConnection, PeerResetDuringWriteRaisesInsteadOfKillingTheProcess) {
  ScriptedPeer peer([](int fd) {
    RecvExactly(fd, 1);  // the client is connected
    linger hard{1, 0};   // close with RST
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  });
  Client client(peer.Port());
  client.connection.WriteString("x");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TMemoryStream out(std::string(4 << 20, 'z'));
  try {
    client.connection.WriteData(&out);
    client.connection.WriteData(&out);
    ADD_FAILURE() << "writing to a reset connection succeeded";
  } catch (const EclSocketError& e) {
    EXPECT_TRUE(e.ErrorCode == EPIPE || e.ErrorCode == ECONNRESET) << e.ErrorCode << e.what();
  }
}

TEST(NetConnection, WriteStringSendsTheAnsiCodePage) {
  const std::string text = "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBEluou\xC4\x8Dk\xC3\xBD\r\n";
  const std::string wire = kz::AnsiEncode(text);
  ScriptedPeer peer([&](int fd) {
    EXPECT_EQ(RecvExactly(fd, wire.size()), wire);
    SendAll(fd, wire);
    RecvExactly(fd, 1, 2000);
  });
  Client client(peer.Port());
  client.connection.WriteString(text);
  std::string back;
  while (back.size() < text.size())
    back += client.connection.ReadString();
  EXPECT_EQ(back, text);
}

TEST(NetConnection, ReplacingTheStreamKeepsThePeerAndFreesTheOldOne) {
  struct Tracked : TclNetworkStream {
    explicit Tracked(bool& freed) : freed_(freed) {}
    ~Tracked() override { freed_ = true; }
    bool& freed_;
  };
  ScriptedPeer peer([](int fd) {
    SendAll(fd, "after");
    RecvExactly(fd, 1, 2000);
  });
  bool freed = false;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<Tracked>(freed));
  c.Open("127.0.0.1", peer.Port());
  c.NetworkStream()->SetHasReadData(true);
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  EXPECT_TRUE(freed);
  EXPECT_EQ(c.NetworkStream()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(c.NetworkStream()->PeerPort(), peer.Port());
  EXPECT_EQ(c.NetworkStream()->Port(), c.Port());
  EXPECT_TRUE(c.NetworkStream()->HasReadData());
  EXPECT_EQ(c.NetworkStream()->Connection(), &c);
  TMemoryStream in;
  while (in.Size() < 5)
    c.ReadData(&in);
  EXPECT_EQ(in.Data(), "after");
}

TEST(NetConnection, FirstNextActionRequestWins) {
  TclNetworkStream stream;
  stream.SetNextAction(saRead);
  stream.SetNextAction(saWrite);
  EXPECT_EQ(stream.NextAction(), saRead);
  stream.ClearNextAction();
  stream.SetNextAction(saWrite);
  EXPECT_EQ(stream.NextAction(), saWrite);
}

TEST(NetConnection, ReopensAfterCloseAndAfterAnAbort) {
  nettest::EchoServer echo;
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  for (int round = 0; round < 2; ++round) {
    c.Open("127.0.0.1", echo.Port());
    ASSERT_TRUE(c.Active());
    TMemoryStream out(std::string("round"));
    c.WriteData(&out);
    TMemoryStream in;
    while (in.Size() < 5)
      c.ReadData(&in);
    EXPECT_EQ(in.Data(), "round");
    c.Abort();
    c.Close(false);
  }
}

}  // namespace
