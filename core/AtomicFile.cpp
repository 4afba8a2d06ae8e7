#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Error.h"
#include "core/ScopeGuard.h"
#include "core/Stream.h"
#include "core/UniqueFd.h"

namespace kz {
namespace {

[[noreturn]] void FailWrite(const std::string& path, int err) {
  throw EclError("Nelze zapsat soubor \"" + path + "\": " + std::strerror(err), err);
}

[[noreturn]] void FailRead(const std::string& path, int err) {
  throw EclError("Nelze číst soubor \"" + path + "\": " + std::strerror(err), err);
}

[[noreturn]] void FailTooLarge(const std::string& path, std::size_t maxBytes) {
  const std::string limit = maxBytes % (1u << 20) == 0 ? std::to_string(maxBytes >> 20) + " MiB"
                                                       : std::to_string(maxBytes) + " B";
  throw EclError("Soubor \"" + path + "\" je větší než " + limit + "; nebyl načten.", EFBIG);
}

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
  std::string tmpPath = path + ".tmp-XXXXXX";
  UniqueFd fd(::mkostemp(tmpPath.data(), O_CLOEXEC));
  if (!fd.Valid())
    FailWrite(path, errno);
  ScopeGuard removeTemp([&] { ::unlink(tmpPath.c_str()); });
  if (::fchmod(fd.Get(), static_cast<mode_t>(options.mode)) != 0)
    FailWrite(path, errno);
  TFileStream file(std::move(fd), tmpPath);
  try {
    file.Write(content);
    file.Sync();
    file.Close();
  } catch (const EclError& e) {
    FailWrite(path, e.ErrorCode);  // the message names the file the caller knows
  }
  if (::rename(tmpPath.c_str(), path.c_str()) != 0)
    FailWrite(path, errno);
  removeTemp.Dismiss();
  // Make the rename itself durable; failure here loses nothing already written.
  const UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid())
    ::fsync(folder.Get());
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes, bool* exists) {
  if (exists)
    *exists = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR)
      return {};
    FailRead(path, errno);
  }
  if (exists)
    *exists = true;
  struct stat st {};
  if (::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::size_t>(st.st_size) > maxBytes) {
    FailTooLarge(path, maxBytes);
  }
  TFileStream file(std::move(fd), path);
  std::string data;
  char chunk[65536];
  for (;;) {
    std::size_t n = 0;
    try {
      n = file.Read(chunk);
    } catch (const EclError& e) {
      FailRead(path, e.ErrorCode);
    }
    if (n == 0)
      break;
    data.append(chunk, n);
    // A special file may not report its size; stop reading it at the same limit.
    if (data.size() > maxBytes)
      FailTooLarge(path, maxBytes);
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
