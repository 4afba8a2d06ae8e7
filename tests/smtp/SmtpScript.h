// Scripted SMTP servers for the client's tests: a transcript of what the server sends and
// what the client must send next, checked line by line as it arrives, so that a missing or
// extra command fails at the step where it happens.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "NetTestPeers.h"
#include "core/Stream.h"

namespace smtptest {

struct Step {
  enum Kind { kSend, kDrip, kExpect, kExpectData, kPause, kClose, kExpectClosed } kind;
  std::string bytes;
  int ms = 0;
};

// S: the server sends a reply line (CR LF added). Raw: bytes as they are.
inline Step S(std::string line) {
  return {Step::kSend, line + "\r\n"};
}
inline Step Raw(std::string bytes) {
  return {Step::kSend, std::move(bytes)};
}
// Drip: bytes one at a time, `ms` apart.
inline Step Drip(std::string bytes, int ms = 1) {
  return {Step::kDrip, std::move(bytes), ms};
}
// C: the client must send this line next.
inline Step C(std::string line) {
  return {Step::kExpect, line + "\r\n"};
}
// Data: the client must send these bytes up to and including the final "CR LF . CR LF".
inline Step Data(std::string bytes) {
  return {Step::kExpectData, std::move(bytes)};
}
inline Step Pause(int ms) {
  return {Step::kPause, {}, ms};
}
// Close: the server closes the connection now.
inline Step Close() {
  return {Step::kClose, {}};
}
// Closed: the client must close without sending anything more.
inline Step Closed() {
  return {Step::kExpectClosed, {}};
}

// ReadUntil reads from fd until the bytes read end with `end` (or the peer closes).
inline std::string ReadUntil(int fd, std::string_view end, int timeoutMs = 5000) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
      break;
    char c = 0;
    if (::recv(fd, &c, 1, 0) != 1)
      break;
    got.push_back(c);
  }
  return got;
}

inline void RunScript(int fd, const std::vector<Step>& script) {
  for (const Step& step : script) {
    switch (step.kind) {
      case Step::kSend:
        nettest::SendAll(fd, step.bytes);
        break;
      case Step::kDrip:
        for (char c : step.bytes) {
          nettest::SendAll(fd, std::string(1, c));
          std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        }
        break;
      case Step::kExpect: {
        const std::string got = ReadUntil(fd, "\n");
        EXPECT_EQ(got, step.bytes);
        if (got != step.bytes)
          return;
        break;
      }
      case Step::kExpectData: {
        const std::string got = ReadUntil(fd, "\r\n.\r\n", 20000);
        EXPECT_EQ(got, step.bytes);
        if (got != step.bytes)
          return;
        break;
      }
      case Step::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        break;
      case Step::kClose:
        return;
      case Step::kExpectClosed:
        EXPECT_EQ(nettest::RecvUntilClose(fd, 5000), "");
        return;
    }
  }
}

}  // namespace smtptest

namespace smtptest {

// TrickleStream hands out its text at most `step` bytes per read, so that line ends fall
// on every possible read boundary.
class TrickleStream : public TMemoryStream {
 public:
  TrickleStream(std::string text, std::size_t step) : TMemoryStream(std::move(text)), step_(step) {}
  using TMemoryStream::Write;
  std::size_t Read(std::span<char> buffer) override {
    return TMemoryStream::Read(buffer.first(std::min(buffer.size(), step_)));
  }

 private:
  std::size_t step_;
};

}  // namespace smtptest
