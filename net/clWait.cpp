#include "net/clWait.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "net/clPumpHook.h"
#include "net/clSocketError.h"

namespace kz {

std::int64_t TickCount() {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  return std::chrono::duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
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
  const bool pumping = PumpInstalled();
  int slice = remaining;
  if (pumping) {
    slice = remaining < 0 ? kPumpSliceMs : std::min(remaining, kPumpSliceMs);
    PumpIfDue();
  }

  pollfd fds[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
  const int n = ::poll(fds, 2, slice);
  if (n < 0) {
    if (errno == EINTR)
      return {};
    RaiseLastSocketError();
  }
  if (n == 0) {
    if (!pumping)
      RaiseSocketError(kTimeoutErrorText, kTimeoutErrorCode);
    Pump();
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
    const bool pumping = PumpInstalled();
    const int slice = static_cast<int>(std::min<std::int64_t>(left, pumping ? kPumpSliceMs : left));
    pollfd abortPoll{abortFd, POLLIN, 0};
    const int n = ::poll(&abortPoll, 1, slice);
    if (n > 0)
      return;
    if (n == 0 && pumping)
      Pump();
  }
}

}  // namespace kz
