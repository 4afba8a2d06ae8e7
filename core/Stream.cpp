#include "core/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "core/Error.h"

std::string TStream::ReadAll() {
  std::string result;
  const std::int64_t left = Remaining();
  if (left > 0)
    result.reserve(static_cast<std::size_t>(left));
  char chunk[65536];
  while (std::size_t n = Read(chunk))
    result.append(chunk, n);
  return result;
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  std::vector<char> chunk(65536);
  std::int64_t copied = 0;
  while (count < 0 || copied < count) {
    std::size_t want = chunk.size();
    if (count >= 0)
      want = static_cast<std::size_t>(std::min<std::int64_t>(want, count - copied));
    const std::size_t n = source.Read(std::span<char>(chunk.data(), want));
    if (n == 0)
      break;
    Write(std::span<const char>(chunk.data(), n));
    copied += static_cast<std::int64_t>(n);
  }
  return copied;
}

std::size_t TMemoryStream::Read(std::span<char> buffer) {
  if (pos_ >= data_.size())
    return 0;
  const std::size_t n = std::min(buffer.size(), data_.size() - pos_);
  std::memcpy(buffer.data(), data_.data() + pos_, n);
  pos_ += n;
  return n;
}

std::size_t TMemoryStream::Write(std::span<const char> data) {
  if (data.empty())
    return 0;
  if (pos_ == data_.size()) {
    data_.append(data.data(), data.size());
  } else {
    if (pos_ + data.size() > data_.size())
      data_.resize(pos_ + data.size());
    std::memcpy(data_.data() + pos_, data.data(), data.size());
  }
  pos_ += data.size();
  return data.size();
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current)
    base = static_cast<std::int64_t>(pos_);
  if (origin == SeekOrigin::End)
    base = static_cast<std::int64_t>(data_.size());
  pos_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
  return static_cast<std::int64_t>(pos_);
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  pos_ = std::min(pos_, data_.size());
}

std::string TMemoryStream::TakeData() {
  pos_ = 0;
  return std::exchange(data_, std::string());
}

TFileStream::TFileStream(const std::string& path, Mode mode, unsigned perms) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  fd_.Reset(::open(path.c_str(), flags, static_cast<mode_t>(perms)));
  if (!fd_.Valid())
    Fail("Cannot open file");
}

TFileStream::TFileStream(kz::UniqueFd fd, std::string path)
    : path_(std::move(path)), fd_(std::move(fd)) {}

void TFileStream::Sync() {
  if (::fsync(fd_.Get()) != 0)
    Fail("Cannot write file");
}

void TFileStream::Close() {
  if (fd_.Close() != 0)
    Fail("Cannot write file");
}

void TFileStream::Fail(const char* what) const {
  const int err = errno;
  throw EclError(std::string(what) + " \"" + path_ + "\": " + std::strerror(err), err);
}

std::size_t TFileStream::Read(std::span<char> buffer) {
  std::size_t total = 0;
  while (total < buffer.size()) {
    const ssize_t n = ::read(fd_.Get(), buffer.data() + total, buffer.size() - total);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail("Cannot read file");
    }
    if (n == 0)
      break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

std::size_t TFileStream::Write(std::span<const char> data) {
  std::size_t total = 0;
  while (total < data.size()) {
    const ssize_t n = ::write(fd_.Get(), data.data() + total, data.size() - total);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      Fail("Cannot write file");
    }
    total += static_cast<std::size_t>(n);
  }
  return total;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == SeekOrigin::Current)
    whence = SEEK_CUR;
  if (origin == SeekOrigin::End)
    whence = SEEK_END;
  off_t pos = ::lseek(fd_.Get(), static_cast<off_t>(offset), whence);
  if (pos < 0 && errno == EINVAL)
    pos = ::lseek(fd_.Get(), 0, SEEK_SET);
  if (pos < 0)
    Fail("Cannot seek in file");
  return static_cast<std::int64_t>(pos);
}

std::int64_t TFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_.Get(), &st) != 0)
    Fail("Cannot stat file");
  return static_cast<std::int64_t>(st.st_size);
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_.Get(), static_cast<off_t>(size)) != 0)
    Fail("Cannot resize file");
}
