// bench-transport [MiB]: moves MiB (default 256) over loopback, in both directions,
// through TclTcpClientConnection and through a plain blocking send()/recv() loop with the
// same 8192-byte batches, in one run, and prints MB/s and the ratio ours / plain (the
// best of five alternating rounds of each).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "net/clSocket.h"

namespace {

using kz::bench::ConnectPlain;
using kz::bench::CountingSink;
using kz::bench::Listen;
using kz::bench::PatternSource;
using kz::bench::Seconds;

constexpr std::size_t kBatch = 8192;
constexpr int kRounds = 5;

void SendBlocking(int fd, std::int64_t total) {
  std::vector<char> buffer(kBatch, 'k');
  while (total > 0) {
    const ssize_t n =
        ::send(fd, buffer.data(), std::min<std::int64_t>(kBatch, total), MSG_NOSIGNAL);
    if (n <= 0)
      throw std::runtime_error("send failed");
    total -= n;
  }
}

std::int64_t RecvBlocking(int fd) {
  std::vector<char> buffer(kBatch);
  std::int64_t got = 0;
  for (;;) {
    const ssize_t n = ::recv(fd, buffer.data(), kBatch, 0);
    if (n <= 0)
      return got;
    got += n;
  }
}

// The peer side is always the same plain blocking loop; only the measured side changes.
double PlainReceive(std::int64_t total) {
  int port = 0;
  kz::UniqueFd listener = Listen(port);
  std::thread peer([&] {
    kz::UniqueFd s(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    SendBlocking(s.Get(), total);
  });
  kz::UniqueFd c = ConnectPlain(port);
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t got = RecvBlocking(c.Get());
  const double t = Seconds(start);
  peer.join();
  if (got != total)
    throw std::runtime_error("plain receive lost bytes");
  return t;
}

double OursReceive(std::int64_t total) {
  int port = 0;
  kz::UniqueFd listener = Listen(port);
  std::thread peer([&] {
    kz::UniqueFd s(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    SendBlocking(s.Get(), total);
  });
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.SetBatchSize(static_cast<int>(kBatch));
  c.Open("127.0.0.1", port);
  CountingSink sink;
  const auto start = std::chrono::steady_clock::now();
  while (c.Active())
    c.ReadData(&sink);
  const double t = Seconds(start);
  peer.join();
  if (sink.Size() != total)
    throw std::runtime_error("receive through the connection lost bytes");
  return t;
}

double PlainSend(std::int64_t total) {
  int port = 0;
  kz::UniqueFd listener = Listen(port);
  std::int64_t got = 0;
  std::thread peer([&] {
    kz::UniqueFd s(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    got = RecvBlocking(s.Get());
  });
  kz::UniqueFd c = ConnectPlain(port);
  const auto start = std::chrono::steady_clock::now();
  SendBlocking(c.Get(), total);
  ::shutdown(c.Get(), SHUT_WR);
  peer.join();
  const double t = Seconds(start);
  if (got != total)
    throw std::runtime_error("plain send lost bytes");
  return t;
}

double OursSend(std::int64_t total) {
  int port = 0;
  kz::UniqueFd listener = Listen(port);
  std::int64_t got = 0;
  std::thread peer([&] {
    kz::UniqueFd s(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    got = RecvBlocking(s.Get());
  });
  TclTcpClientConnection c;
  c.SetNetworkStream(std::make_unique<TclNetworkStream>());
  c.SetBatchSize(static_cast<int>(kBatch));
  c.Open("127.0.0.1", port);
  PatternSource source(total);
  const auto start = std::chrono::steady_clock::now();
  c.WriteData(&source);
  ::shutdown(c.Socket(), SHUT_WR);
  peer.join();
  const double t = Seconds(start);
  if (got != total)
    throw std::runtime_error("send through the connection lost bytes");
  return t;
}

void Report(const char* what, std::int64_t total, double ours, double plain) {
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("%-8s ours %8.1f MB/s   plain send()/recv() %8.1f MB/s   ratio %.2fx\n", what,
              mb / ours, mb / plain, plain / ours);
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  if (mib <= 0) {
    std::fprintf(stderr, "usage: bench-transport [MiB]\n");
    return 2;
  }
  const std::int64_t total = static_cast<std::int64_t>(mib) << 20;
  try {
    std::printf("bench-transport: %ld MiB over loopback, %zu-byte batches, best of %d rounds\n",
                mib, kBatch, kRounds);
    // The rounds alternate between the two sides so that load from elsewhere on the
    // machine hits both alike; the best time of each side counts.
    double plainRecv = 1e30, oursRecv = 1e30, plainSend = 1e30, oursSend = 1e30;
    for (int round = 0; round < kRounds; ++round) {
      plainRecv = std::min(plainRecv, PlainReceive(total));
      oursRecv = std::min(oursRecv, OursReceive(total));
      plainSend = std::min(plainSend, PlainSend(total));
      oursSend = std::min(oursSend, OursSend(total));
    }
    Report("receive", total, oursRecv, plainRecv);
    Report("send", total, oursSend, plainSend);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench-transport: %s\n", e.what());
    return 1;
  }
  return 0;
}
