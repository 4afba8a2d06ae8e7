// EventFd: the wake-up event of a wait (an abort, a finished name lookup).
#pragma once

#include "core/UniqueFd.h"

namespace kz {

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
  UniqueFd fd_;
};

}  // namespace kz
