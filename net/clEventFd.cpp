#include "net/clEventFd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "net/clSocketError.h"

namespace kz {

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

}  // namespace kz
