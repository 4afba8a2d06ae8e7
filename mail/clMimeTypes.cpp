#include "mail/clMimeTypes.h"

#include <fstream>

#include "core/StringUtils.h"
#include "mail/clMimeParams.h"

namespace {

constexpr const char* kSystemTable = "/etc/mime.types";

// The common types of files people attach, for a system without the table.
struct Builtin {
  const char* extension;
  const char* type;
};
constexpr Builtin kBuiltin[] = {
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"xml", "application/xml"},
    {"json", "application/json"},
    {"pdf", "application/pdf"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"7z", "application/x-7z-compressed"},
    {"rtf", "application/rtf"},
    {"doc", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"odp", "application/vnd.oasis.opendocument.presentation"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"svg", "image/svg+xml"},
    {"webp", "image/webp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/x-wav"},
    {"ogg", "audio/ogg"},
    {"mp4", "video/mp4"},
    {"avi", "video/x-msvideo"},
    {"eml", "message/rfc822"},
    {"ics", "text/calendar"},
    {"vcf", "text/vcard"},
};

// Extension gives the lower-case text after the last dot of the file's name, or "".
std::string Extension(std::string_view fileName) {
  const std::string_view name = BaseName(fileName);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == name.size())
    return {};
  return kz::LowerAscii(name.substr(dot + 1));
}

}  // namespace

TclMimeTypes::TclMimeTypes(const std::string& path) {
  fromFile_ = Load(path);
  if (!fromFile_) {
    for (const Builtin& b : kBuiltin)
      byExtension_.emplace(b.extension, b.type);
  }
}

bool TclMimeTypes::Load(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    return false;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view rest = kz::Trim(std::string_view(line).substr(0, line.find('#')));
    auto word = [&rest]() {
      const std::size_t end = rest.find_first_of(" \t");
      const std::string_view w = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : kz::TrimLeft(rest.substr(end));
      return w;
    };
    const std::string_view type = word();
    if (type.find('/') == std::string_view::npos)
      continue;
    // The first line that names an extension wins, as other readers of the table do.
    while (!rest.empty())
      byExtension_.emplace(kz::LowerAscii(word()), kz::LowerAscii(type));
  }
  return true;
}

std::string TclMimeTypes::ContentTypeOf(std::string_view fileName) const {
  const std::string extension = Extension(fileName);
  if (extension.empty())
    return std::string(kDefaultType);
  const auto it = byExtension_.find(extension);
  return it == byExtension_.end() ? std::string(kDefaultType) : it->second;
}

const TclMimeTypes& TclMimeTypes::System() {
  static const TclMimeTypes table(kSystemTable);
  return table;
}

std::string AttachmentContentType(std::string_view fileName) {
  return TclMimeTypes::System().ContentTypeOf(fileName);
}
