// clMimeTypes: the content type of an attachment from its file name's extension, through the
// system's table (/etc/mime.types, Debian's media-types: "type/subtype ext ext ..." lines,
// "#" comments). The table is read once, on the first look-up; where it is missing, a small
// built-in table of the common types stands in. An unknown extension is
// application/octet-stream.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

class TclMimeTypes {
 public:
  static constexpr std::string_view kDefaultType = "application/octet-stream";

  // Reads the table from `path`; without that file the built-in table is used.
  explicit TclMimeTypes(const std::string& path);

  // ContentTypeOf gives the type for a file name ("report.PDF" -> "application/pdf"), or
  // kDefaultType when the name has no extension or the table does not know it.
  std::string ContentTypeOf(std::string_view fileName) const;

  bool FromSystemTable() const { return fromFile_; }

  // System is the table of /etc/mime.types, read on the first call.
  static const TclMimeTypes& System();

 private:
  bool Load(const std::string& path);

  std::unordered_map<std::string, std::string> byExtension_;  // lower-case extension -> type
  bool fromFile_ = false;
};

// AttachmentContentType is TclMimeTypes::System().ContentTypeOf(fileName).
std::string AttachmentContentType(std::string_view fileName);
