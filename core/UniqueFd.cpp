#include "core/UniqueFd.h"

#include <unistd.h>

namespace kz {

void UniqueFd::Reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd)
    ::close(fd_);
  fd_ = fd;
}

int UniqueFd::Close() noexcept {
  const int fd = Release();
  return fd >= 0 ? ::close(fd) : 0;
}

}  // namespace kz
