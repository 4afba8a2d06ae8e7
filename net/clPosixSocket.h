// The thin POSIX layer under the transport: owning handles for socket descriptors and
// eventfds, IPv4 address text helpers, a millisecond tick count and the one blocking wait
// of the whole stack.
//
// Waiting: WaitForEvents polls one descriptor (a socket, or the eventfd of a name lookup)
// together with an abort eventfd. While a "pump pending UI work" hook is installed the
// wait runs in short slices and calls the hook between them, so a user interface stays
// alive during a transfer; without a hook it blocks in poll() for the whole remaining time.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kz {

// Socket owns one descriptor and closes it in its destructor. Move-only.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) noexcept : fd_(fd) {}
  ~Socket() { Reset(); }
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  int Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Reset closes the held descriptor (errors are ignored) and takes `fd`.
  void Reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

// EventFd is a non-blocking, auto-reset event: Signal sets it, Reset (or a wait that
// reports it) clears it. Creation failure raises EclSocketError with errno.
class EventFd {
 public:
  EventFd();
  int Get() const noexcept { return fd_.Get(); }
  void Signal() noexcept;
  // Reset clears the event and tells whether it was set.
  bool Reset() noexcept;

 private:
  Socket fd_;
};

// TickCount: milliseconds of a monotonic clock.
std::int64_t TickCount();

// ParseDottedAddress reads a strict dotted quad ("192.168.1.10"); it gives no value for
// anything else, and none for "255.255.255.255", which is not an address of a host.
std::optional<in_addr> ParseDottedAddress(std::string_view text);
bool IsDottedAddress(std::string_view text);
std::string FormatAddress(in_addr address);

// GetLocalHostName is this machine's host name, or empty text when it cannot be read.
std::string GetLocalHostName();

// The "pump pending UI work" hook, process-wide: every wait of every connection and
// resolver calls it. The default (an empty hook) does nothing. SetPumpHook returns the
// hook it replaced. The hook may call Abort on a connection or resolver; that ends the
// wait in progress.
using TclPumpHook = std::function<void()>;
TclPumpHook SetPumpHook(TclPumpHook hook);

// The slice of a wait between two calls of an installed hook, in milliseconds.
inline constexpr int kPumpSliceMs = 25;

enum class WaitResult { kNothing, kDescriptor, kAbort };

struct WaitOutcome {
  WaitResult result = WaitResult::kNothing;
  short revents = 0;  // of the descriptor, when result is kDescriptor
};

// WaitForEvents waits until `fd` reports one of `events`, `abortFd` is signalled, or a
// slice ends after the pump hook ran (kNothing: the caller loops and re-checks its abort
// flag). `startTicks` is when the current period of inactivity began; once more than
// `timeoutMs` (-1 = never) have passed since then it raises EclSocketError
// "Timeout error occured", code -1. A signalled abort event is reset. A failing poll()
// raises the errno.
WaitOutcome WaitForEvents(int fd, short events, int abortFd, std::int64_t startTicks,
                          int timeoutMs);

// PauseFor sleeps up to `ms` milliseconds, calling the pump hook between slices; it ends
// early when `abortFd` becomes signalled (which it leaves set for the next wait).
void PauseFor(std::int64_t ms, int abortFd);

}  // namespace kz
