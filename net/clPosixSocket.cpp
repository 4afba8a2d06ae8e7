#include "net/clPosixSocket.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "net/clSocketError.h"

namespace kz {

void Socket::Reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd)
    ::close(fd_);
  fd_ = fd;
}

EventFd::EventFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!fd_.Valid())
    RaiseLastSocketError();
}

void EventFd::Signal() noexcept {
  const std::uint64_t one = 1;
  // A full counter (not reachable in practice) still leaves the event set.
  [[maybe_unused]] ssize_t n = ::write(fd_.Get(), &one, sizeof one);
}

bool EventFd::Reset() noexcept {
  std::uint64_t value = 0;
  return ::read(fd_.Get(), &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

std::int64_t TickCount() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::optional<in_addr> ParseDottedAddress(std::string_view text) {
  if (text.empty() || text.size() > 15)
    return std::nullopt;
  const std::string copy(text);
  in_addr address{};
  if (::inet_pton(AF_INET, copy.c_str(), &address) != 1)
    return std::nullopt;
  if (address.s_addr == INADDR_NONE)
    return std::nullopt;
  return address;
}

bool IsDottedAddress(std::string_view text) {
  return ParseDottedAddress(text).has_value();
}

std::string FormatAddress(in_addr address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

std::string GetLocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0)
    return {};
  return name;
}

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const TclPumpHook>& HookSlot() {
  static std::shared_ptr<const TclPumpHook> hook;
  return hook;
}

// Lets the waits skip the lock while no hook is installed (the usual case off a UI).
std::atomic<bool> hookInstalled{false};

std::shared_ptr<const TclPumpHook> CurrentHook() {
  if (!hookInstalled.load(std::memory_order_acquire))
    return nullptr;
  std::lock_guard lock(HookMutex());
  return HookSlot();
}

// When this thread last ran the hook, so that a busy transfer (whose poll() never times
// out) still runs it once a slice, and an idle one does not run it twice in a row.
thread_local std::int64_t lastPump = 0;

void Pump(const TclPumpHook& hook) {
  lastPump = TickCount();
  hook();
}

}  // namespace

TclPumpHook SetPumpHook(TclPumpHook hook) {
  auto next = hook ? std::make_shared<const TclPumpHook>(std::move(hook)) : nullptr;
  std::lock_guard lock(HookMutex());
  hookInstalled.store(next != nullptr, std::memory_order_release);
  auto previous = std::exchange(HookSlot(), std::move(next));
  return previous ? *previous : TclPumpHook();
}

WaitOutcome WaitForEvents(int fd, short events, int abortFd, std::int64_t startTicks,
                          int timeoutMs) {
  int remaining = -1;
  if (timeoutMs >= 0) {
    const std::int64_t left = timeoutMs - (TickCount() - startTicks);
    if (left <= 0)
      RaiseSocketError(kTimeoutErrorText, kTimeoutErrorCode);
    remaining = static_cast<int>(std::min<std::int64_t>(left, 1 << 30));
  }
  const auto hook = CurrentHook();
  int slice = remaining;
  if (hook) {
    slice = remaining < 0 ? kPumpSliceMs : std::min(remaining, kPumpSliceMs);
    if (TickCount() - lastPump >= kPumpSliceMs)
      Pump(*hook);
  }

  pollfd fds[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
  const int n = ::poll(fds, 2, slice);
  if (n < 0) {
    if (errno == EINTR)
      return {};
    RaiseLastSocketError();
  }
  if (n == 0) {
    if (!hook)
      RaiseSocketError(kTimeoutErrorText, kTimeoutErrorCode);
    Pump(*hook);
    if (timeoutMs >= 0 && TickCount() - startTicks >= timeoutMs) {
      RaiseSocketError(kTimeoutErrorText, kTimeoutErrorCode);
    }
    return {};
  }
  if (fds[1].revents != 0) {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t r = ::read(abortFd, &value, sizeof value);
    return {WaitResult::kAbort, 0};
  }
  return {WaitResult::kDescriptor, fds[0].revents};
}

void PauseFor(std::int64_t ms, int abortFd) {
  const std::int64_t end = TickCount() + ms;
  for (;;) {
    const std::int64_t left = end - TickCount();
    if (left <= 0)
      return;
    const auto hook = CurrentHook();
    const int slice = static_cast<int>(std::min<std::int64_t>(left, hook ? kPumpSliceMs : left));
    pollfd abortPoll{abortFd, POLLIN, 0};
    const int n = ::poll(&abortPoll, 1, slice);
    if (n > 0)
      return;
    if (n == 0 && hook)
      Pump(*hook);
  }
}

}  // namespace kz
