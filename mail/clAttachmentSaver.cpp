#include "mail/clAttachmentSaver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kMaxTries = 1000;

// "name.ext" -> "name (n).ext"; a name without extension gets the number at its end.
std::string Numbered(const std::string& name, int n) {
  const std::size_t dot = name.rfind('.');
  const std::string suffix = " (" + std::to_string(n) + ")";
  if (dot == std::string::npos || dot == 0)
    return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

}  // namespace

std::string TclAttachmentSaver::CreateFile(std::string_view fileName) {
  const std::string base = fileName.empty() ? std::string("attachment") : SafeFileName(fileName);
  for (int n = 1; n <= kMaxTries; ++n) {
    const std::string path = folder_ + "/" + (n == 1 ? base : Numbered(base, n));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) {
      const int err = errno;
      throw EclError("Cannot create file \"" + path + "\": " + std::strerror(err), err);
    }
  }
  throw EclError(
      "Cannot create file for \"" + base + "\" in \"" + folder_ + "\": too many files of that name",
      EEXIST);
}

void TclAttachmentSaver::Attach(TclMailMessage& message) {
  message.OnSaveAttachment = [this](TclMailMessage*, TclAttachmentBody* body,
                                    const std::string& fileName, std::shared_ptr<TStream>& data,
                                    bool& handled) {
    const std::string path = CreateFile(fileName);
    data = std::make_shared<TFileStream>(path, TFileStream::Mode::ReadWrite);
    handled = true;
    saved_.push_back({body, path});
  };
}
