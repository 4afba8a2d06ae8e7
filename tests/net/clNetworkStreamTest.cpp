// The plain stream's drain: a read takes everything that arrives until the socket would
// block, and only then reports that it has emptied the socket.
#include "net/clNetworkStream.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "NetTestPeers.h"
#include "net/clConnection.h"

namespace {

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
