#include "core/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

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

[[noreturn]] void FailNotRegular(const std::string& path, bool isFolder) {
  throw EclError(
      "\"" + path + "\" není " + (isFolder ? "složka" : "obyčejný soubor") + "; nebude použit.",
      isFolder ? ENOTDIR : EINVAL);
}

// The temporary files of WriteFileAtomically: "<target>" + kTempInfix + six characters.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandomLength = 6;

bool IsTemporaryOf(std::string_view entry, std::string_view name) {
  if (entry.size() != name.size() + kTempInfix.size() + kTempRandomLength ||
      entry.substr(0, name.size()) != name ||
      entry.substr(name.size(), kTempInfix.size()) != kTempInfix) {
    return false;
  }
  for (char c : entry.substr(name.size() + kTempInfix.size())) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      return false;
  }
  return true;
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
  std::string tmpPath = path + std::string(kTempInfix) + std::string(kTempRandomLength, 'X');
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

namespace {

// OpenNonBlocking opens for reading without blocking; an invalid descriptor leaves errno set.
UniqueFd OpenNonBlocking(const std::string& path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

// RequireRegular answers the file's status, refusing anything but a regular file.
struct stat RequireRegular(const UniqueFd& fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    FailRead(path, errno);
  if (!S_ISREG(st.st_mode))
    FailNotRegular(path, false);
  return st;
}

}  // namespace

UniqueFd OpenRegularFile(const std::string& path) {
  UniqueFd fd = OpenNonBlocking(path);
  if (!fd.Valid())
    FailRead(path, errno);
  RequireRegular(fd, path);
  return fd;
}

UniqueFd OpenForAppend(const std::string& path, unsigned mode) {
  UniqueFd fd(::open(path.c_str(),
                     O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                     static_cast<mode_t>(mode)));
  if (!fd.Valid()) {
    if (errno == ELOOP)
      throw EclError("Soubor \"" + path + "\" je symbolický odkaz; nebude zapsán.", ELOOP);
    FailWrite(path, errno);
  }
  const struct stat st = RequireRegular(fd, path);
  if ((st.st_mode & 07777 & ~static_cast<mode_t>(mode)) != 0 &&
      ::fchmod(fd.Get(), static_cast<mode_t>(mode)) != 0) {
    const int err = errno;
    throw EclError(
        "Přístup k \"" + path + "\" nelze omezit jen na vlastníka: " + std::strerror(err), err);
  }
  return fd;
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes, bool* exists) {
  if (exists)
    *exists = false;
  UniqueFd fd = OpenNonBlocking(path);
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR)
      return {};
    FailRead(path, errno);
  }
  if (exists)
    *exists = true;
  const struct stat st = RequireRegular(fd, path);
  if (static_cast<std::size_t>(st.st_size) > maxBytes)
    FailTooLarge(path, maxBytes);
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
    // The file may have grown since fstat; stop reading it at the same limit.
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

void RestrictToOwner(const std::string& path, unsigned mode, bool isFolder) {
  // A folder is followed through a link (the user may keep it elsewhere); a file is not.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (isFolder ? O_DIRECTORY : O_NOFOLLOW);
  const UniqueFd fd(::open(path.c_str(), flags));
  if (!fd.Valid()) {
    const int err = errno;
    if (err == ENOENT)
      return;
    if (isFolder && err == ENOTDIR)
      FailNotRegular(path, true);
    if (isFolder || err != ELOOP)
      FailRead(path, err);
    // A link to a regular file is left alone; a link to anything else is refused as that.
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode))
      FailNotRegular(path, false);
    return;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    FailRead(path, errno);
  if (isFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
    FailNotRegular(path, isFolder);
  if ((st.st_mode & 07777 & ~static_cast<mode_t>(mode)) == 0)
    return;
  if (::fchmod(fd.Get(), static_cast<mode_t>(mode)) != 0) {
    const int err = errno;
    throw EclError(
        "Přístup k \"" + path + "\" nelze omezit jen na vlastníka: " + std::strerror(err), err);
  }
}

int RemoveStaleTemporaries(const std::string& folder, const std::vector<std::string>& names,
                           int maxAgeSeconds) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr)
    return 0;
  ScopeGuard closeDir([dir] { ::closedir(dir); });
  const std::time_t cutoff = std::time(nullptr) - maxAgeSeconds;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view entryName = entry->d_name;
    bool ours = false;
    for (const std::string& name : names)
      ours = ours || IsTemporaryOf(entryName, name);
    struct stat st {};
    // A younger file may belong to a save running right now in another instance.
    if (!ours || ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_mtime > cutoff) {
      continue;
    }
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
      ++removed;
  }
  return removed;
}

}  // namespace kz
