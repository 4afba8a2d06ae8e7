// UniqueFd owns one file descriptor (a file, a socket, an eventfd) and closes it when it
// goes. Move-only; the one descriptor owner of the whole code base.
#pragma once

namespace kz {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  int Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Reset closes the held descriptor (errors are ignored) and takes `fd`.
  void Reset(int fd = -1) noexcept;
  // Close closes the held descriptor and reports close()'s result: 0, or -1 with errno
  // set. Writers call it to learn whether buffered data reached the file.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

}  // namespace kz
