// Byte streams: the one way byte data moves between the encoders, the message writer
// and the network layer. A stream reads and writes at its position and can be sought.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/UniqueFd.h"

enum class SeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Read copies up to buffer.size() bytes from the position on and returns how many it copied.
  virtual std::size_t Read(std::span<char> buffer) = 0;
  // Write stores all of data at the position (growing the stream) and returns data.size().
  virtual std::size_t Write(std::span<const char> data) = 0;
  // Seek moves the position and returns the new one; it never goes below 0.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Begin); }
  std::int64_t Remaining() { return Size() - Position(); }

  std::size_t Write(std::string_view text) { return Write(std::span<const char>(text)); }
  // ReadAll returns every byte from the position to the end.
  std::string ReadAll();
  // CopyFrom appends count bytes of source (from its position; all remaining when count < 0).
  std::int64_t CopyFrom(TStream& source, std::int64_t count = -1);
};

// TMemoryStream keeps its bytes in a string; Data() gives direct access without copying.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  using TStream::Write;
  std::size_t Read(std::span<char> buffer) override;
  std::size_t Write(std::span<const char> data) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  std::string_view Data() const { return data_; }
  std::string& Buffer() { return data_; }
  std::string TakeData();

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

// TFileStream reads and writes a file through its descriptor, which it owns. Failures
// raise EclError with errno and the file's path.
class TFileStream : public TStream {
 public:
  enum class Mode { Read, Create, ReadWrite };
  // Opens path; Create truncates or creates the file with permissions `perms` (before umask).
  TFileStream(const std::string& path, Mode mode, unsigned perms = 0644);
  // Takes over an open descriptor; `path` names the file in error messages.
  TFileStream(kz::UniqueFd fd, std::string path);
  ~TFileStream() override = default;

  int Handle() const { return fd_.Get(); }
  // Sync makes what was written durable (fsync).
  void Sync();
  // Close closes the file and raises when the system reports that buffered data was lost;
  // the stream is unusable afterwards.
  void Close();

  using TStream::Write;
  std::size_t Read(std::span<char> buffer) override;
  std::size_t Write(std::span<const char> data) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

 private:
  [[noreturn]] void Fail(const char* what) const;
  std::string path_;
  kz::UniqueFd fd_;
};
