// IniFile: the settings file, a profile file of [section] headers and key=value lines.
// There is no cache (a Snapshot aside): every read opens and parses the file, every write
// replaces it at once (atomically, owner-only), so a value written by one handler is seen by
// the next.
// Section and key names match without regard to (ASCII) case; a missing file, section or
// key reads as ""; the first of duplicate keys wins. A value is read back whole, however
// long: the only bound is the file's own, 1 MiB. A larger file is refused when read, and a
// write that would make it larger is refused before anything changes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class IniFile {
 public:
  static constexpr std::size_t kMaxFileSize = 1u << 20;

  explicit IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  // Snapshot reads the file once, for a caller that reads many values at one moment (the
  // schedule tick): its reads answer from what was read, its writes go to the file and into
  // the snapshot. Raises what a read raises.
  static IniFile Snapshot(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  // ReadString returns the value as valid UTF-8 (malformed bytes become U+FFFD).
  std::string ReadString(std::string_view section, std::string_view key) const;

  // WriteString stores one key; writing "" keeps the key with nothing after "=". A name or
  // value holding a line break (which could not be read back), or a file that would grow
  // past kMaxFileSize, raises EclError.
  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::string Content() const;

  std::string fileName_;
  mutable std::optional<std::string> snapshot_;
};
