// The one blocking wait of the whole transport, and its millisecond clock.
//
// WaitForEvents polls one descriptor (a socket, or the eventfd of a name lookup) together
// with an abort eventfd. While a pump hook is installed (net/clPumpHook.h) the wait runs
// in short slices and calls the hook between them; without a hook it blocks in poll() for
// the whole remaining time.
#pragma once

#include <poll.h>

#include <cstdint>

namespace kz {

// TickCount: milliseconds of a monotonic clock.
std::int64_t TickCount();

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
