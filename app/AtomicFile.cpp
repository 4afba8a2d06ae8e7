#include "app/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Error.h"

namespace kz {
namespace {

[[noreturn]] void FailWrite(const std::string& path, int err) {
  throw EclError("Nelze zapsat soubor \"" + path + "\": " + std::strerror(err), err);
}

[[noreturn]] void FailTooLarge(const std::string& path, std::size_t maxBytes) {
  const std::string limit = maxBytes % (1u << 20) == 0 ? std::to_string(maxBytes >> 20) + " MiB"
                                                       : std::to_string(maxBytes) + " B";
  throw EclError("Soubor \"" + path + "\" je větší než " + limit + "; nebyl načten.", EFBIG);
}

// Closes a descriptor and removes the temporary file unless released.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TempFile() {
    if (fd_ >= 0)
      ::close(fd_);
    if (!released_)
      ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }
  void Release() { released_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool released_ = false;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view content,
                         const AtomicWriteOptions& options) {
  struct stat st {};
  if (options.refuseSymlink && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    throw EclError("Soubor \"" + path + "\" je symbolický odkaz; nebude přepsán.", ELOOP);
  }
  // mkostemp creates the file 0600, so nothing is ever readable by others; a wider final
  // mode is applied before any content is written.
  TempFile tmp(path + ".tmp-XXXXXX");
  if (tmp.fd() < 0)
    FailWrite(path, errno);
  if (::fchmod(tmp.fd(), static_cast<mode_t>(options.mode)) != 0)
    FailWrite(path, errno);
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(tmp.fd(), content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      FailWrite(path, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(tmp.fd()) != 0)
    FailWrite(path, errno);
  if (tmp.Close() != 0)
    FailWrite(path, errno);
  if (::rename(tmp.path().c_str(), path.c_str()) != 0)
    FailWrite(path, errno);
  tmp.Release();
  // Make the rename itself durable; failure here loses nothing already written.
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes, bool* exists) {
  if (exists)
    *exists = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return {};
    const int err = errno;
    throw EclError("Nelze číst soubor \"" + path + "\": " + std::strerror(err), err);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (exists)
    *exists = true;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::size_t>(st.st_size) > maxBytes) {
    FailTooLarge(path, maxBytes);
  }
  std::string data;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      const int err = errno;
      throw EclError("Nelze číst soubor \"" + path + "\": " + std::strerror(err), err);
    }
    if (n == 0)
      break;
    data.append(chunk, static_cast<std::size_t>(n));
    // A special file may not report its size; stop reading it at the same limit.
    if (data.size() > maxBytes) {
      FailTooLarge(path, maxBytes);
    }
  }
  return data;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void MakeDirectories(const std::string& path, unsigned mode) {
  std::string partial;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    const std::size_t next = path.find('/', pos);
    partial = path.substr(0, next == std::string::npos ? path.size() : next);
    pos = next == std::string::npos ? path.size() + 1 : next + 1;
    if (partial.empty())
      continue;
    if (::mkdir(partial.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
      const int err = errno;
      throw EclError("Nelze vytvořit složku \"" + partial + "\": " + std::strerror(err), err);
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw EclError("\"" + path + "\" není složka.", ENOTDIR);
  }
}

}  // namespace kz
