#include "app/MessageIdSeed.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/SettingsStore.h"
#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/ScopeGuard.h"

namespace messageid {

namespace {

std::string ReadStored(const std::string& path, bool& exists) {
  std::string text = kz::ReadWholeFile(path, 256, &exists);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

// PublishOnce puts `content` at `path` only when nothing is there yet: it is written whole
// under a name of its own and hard-linked to the final name, which fails when another
// start was first. Answers false in that case.
bool PublishOnce(const std::string& path, std::string_view content) {
  const std::string staging = path + ".new-" + std::string(content.substr(0, 2 * kIdBytes));
  kz::WriteFileAtomically(staging, content);
  kz::ScopeGuard removeStaging([&] { ::unlink(staging.c_str()); });
  if (::link(staging.c_str(), path.c_str()) == 0)
    return true;
  if (errno == EEXIST)
    return false;
  throw EclError(path + ": " + std::strerror(errno), errno);
}

}  // namespace

bool IsInstallationId(std::string_view text) {
  if (text.size() != 2 * kIdBytes)
    return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  }
  return true;
}

std::string NewInstallationId() {
  unsigned char bytes[kIdBytes];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw EclError(std::string("random bytes: ") + std::strerror(errno), errno);
    }
    got += static_cast<std::size_t>(n);
  }
  std::string id;
  id.reserve(2 * kIdBytes);
  for (unsigned char b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    id += hex;
  }
  return id;
}

std::string InstallationId() {
  const std::string path = settings::FilePath(kInstallationFile);
  bool exists = false;
  std::string stored = ReadStored(path, exists);
  if (exists && IsInstallationId(stored))
    return stored;
  settings::EnsureDataFolder();
  const std::string fresh = NewInstallationId();
  if (exists) {
    // Damaged: a new id only costs the recognition of copies sent under the old one.
    kz::WriteFileAtomically(path, fresh + "\n");
    return fresh;
  }
  if (PublishOnce(path, fresh + "\n"))
    return fresh;
  stored = ReadStored(path, exists);
  if (!IsInstallationId(stored))
    throw EclError(path + ": not an installation id");
  return stored;
}

std::string SlotLeftSide(const schedule::LocalDateTime& slot, std::string_view installationId) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02u%02u%02d%02d", static_cast<int>(slot.date.year()),
                static_cast<unsigned>(slot.date.month()), static_cast<unsigned>(slot.date.day()),
                slot.time.hour, slot.time.minute);
  return std::string(stamp) + "." + std::string(installationId);
}

}  // namespace messageid
