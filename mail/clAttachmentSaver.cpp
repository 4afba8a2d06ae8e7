#include "mail/clAttachmentSaver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kMaxTries = 1000;
// An extension longer than this is no extension worth keeping: the whole name is cut.
constexpr std::size_t kMaxKeptExtension = 32;

// CutUtf8 cuts text to at most `limit` bytes without splitting a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

}  // namespace

std::string TclAttachmentSaver::FitFileName(std::string_view name, int number, std::size_t limit) {
  // "name.ext" -> "name (n).ext"; a name without extension gets the number at its end.
  const std::string suffix = number > 1 ? " (" + std::to_string(number) + ")" : "";
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxKeptExtension)
    dot = name.size();
  const std::string_view extension = name.substr(dot);
  const std::size_t fixed = suffix.size() + extension.size();
  const std::string_view stem = CutUtf8(name.substr(0, dot), limit > fixed ? limit - fixed : 0);
  return std::string(stem) + suffix + std::string(extension);
}

std::string TclAttachmentSaver::CreateFile(std::string_view fileName) {
  const std::string base = fileName.empty() ? std::string("attachment") : SafeFileName(fileName);
  for (int n = 1; n <= kMaxTries; ++n) {
    const std::string path = folder_ + "/" + FitFileName(base, n);
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
