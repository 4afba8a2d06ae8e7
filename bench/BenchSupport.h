// Pieces the transport benchmarks share: streams that count or yield bytes without holding
// them, loopback sockets for the plain side, and a timer.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>

#include "core/Stream.h"
#include "core/UniqueFd.h"

namespace kz::bench {

// CountingSink accepts every byte and only counts them.
class CountingSink : public TStream {
 public:
  using TStream::Write;
  std::size_t Read(std::span<char>) override { return 0; }
  std::size_t Write(std::span<const char> data) override {
    count_ += static_cast<std::int64_t>(data.size());
    return data.size();
  }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return count_; }
  std::int64_t Size() override { return count_; }
  void SetSize(std::int64_t size) override { count_ = size; }

 private:
  std::int64_t count_ = 0;
};

// PatternSource yields `size` bytes of a fixed pattern without holding them.
class PatternSource : public TStream {
 public:
  explicit PatternSource(std::int64_t size) : size_(size) {}
  using TStream::Write;
  std::size_t Read(std::span<char> buffer) override {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), size_ - pos_));
    std::memset(buffer.data(), 'k', n);
    pos_ += static_cast<std::int64_t>(n);
    return n;
  }
  std::size_t Write(std::span<const char>) override { return 0; }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t base = origin == SeekOrigin::Begin ? 0
                              : origin == SeekOrigin::End ? size_
                                                          : pos_;
    pos_ = std::clamp<std::int64_t>(base + offset, 0, size_);
    return pos_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override {}

 private:
  std::int64_t size_;
  std::int64_t pos_ = 0;
};

// Listen opens a listening socket on 127.0.0.1 with a port the system picks, stored in `port`.
inline UniqueFd Listen(int& port) {
  UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(s.Get(), 4) != 0) {
    throw std::runtime_error("listen failed");
  }
  socklen_t length = sizeof a;
  ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return s;
}

// ConnectPlain connects a blocking socket to 127.0.0.1:port.
inline UniqueFd ConnectPlain(int port) {
  UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("connect failed");
  }
  return s;
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace kz::bench
