#include "app/IniFile.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/StringUtils.h"
#include "core/Utf.h"

namespace {

// One parsed line of the file; `text` keeps the raw line so rewriting changes nothing else.
struct IniLine {
  enum class Kind { Other, Section, Key } kind = Kind::Other;
  std::string text;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, as written
};

class ParsedIni {
 public:
  explicit ParsedIni(std::string content) : content_(std::move(content)) {
    std::string_view rest = content_;
    if (kz::StartsWith(rest, "\xEF\xBB\xBF"))
      rest.remove_prefix(3);
    while (!rest.empty()) {
      const std::size_t nl = rest.find('\n');
      std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
      lines_.push_back(Parse(line));
    }
  }

  // Find returns the index of the first key line of that name in any section of that name.
  std::optional<std::size_t> Find(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const IniLine& l = lines_[i];
      if (l.kind == IniLine::Kind::Section)
        inSection = kz::EqualsNoCase(l.name, section);
      if (inSection && l.kind == IniLine::Kind::Key && kz::EqualsNoCase(l.name, key))
        return i;
    }
    return std::nullopt;
  }

  std::string_view ValueAt(std::size_t i) const { return lines_[i].value; }

  void Set(std::string_view section, std::string_view key, std::string_view value) {
    if (const auto at = Find(section, key)) {
      // Keep the key's spelling as it stands in the file.
      lines_[*at] = Parse(lines_[*at].name + "=" + std::string(value));
      return;
    }
    std::optional<std::size_t> insertAt;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const IniLine& l = lines_[i];
      if (l.kind == IniLine::Kind::Section) {
        if (inSection)
          break;  // only the first section of that name takes new keys
        inSection = kz::EqualsNoCase(l.name, section);
        if (inSection)
          insertAt = i + 1;
      } else if (inSection && !kz::Trim(l.text).empty()) {
        insertAt = i + 1;
      }
    }
    std::string line(key);
    line.append(1, '=').append(value);
    IniLine entry = Parse(line);
    if (insertAt) {
      lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(entry));
    } else {
      std::string header(1, '[');
      header.append(section).append(1, ']');
      lines_.push_back(Parse(header));
      lines_.push_back(std::move(entry));
    }
  }

  std::string Serialize() const {
    std::string out;
    for (const IniLine& l : lines_)
      out.append(l.text).append("\r\n");
    return out;
  }

 private:
  static IniLine Parse(std::string_view raw) {
    IniLine l;
    l.text.assign(raw);
    const std::string_view line = l.text;
    const std::string_view trimmed = kz::Trim(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      std::string_view name = trimmed.substr(1);
      name = name.substr(0, name.find(']'));
      l.kind = IniLine::Kind::Section;
      l.name = std::string(kz::Trim(name));
      return l;
    }
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos && !kz::Trim(line.substr(0, eq)).empty()) {
      l.kind = IniLine::Kind::Key;
      l.name = std::string(kz::Trim(line.substr(0, eq)));
      l.value = std::string(line.substr(eq + 1));
    }
    return l;
  }

  std::string content_;
  std::vector<IniLine> lines_;
};

void CheckSingleLine(std::string_view what, std::string_view text) {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw EclError(std::string(what) + " nastavení nesmí obsahovat konec řádku.", EINVAL);
  }
}

}  // namespace

IniFile IniFile::Snapshot(std::string fileName) {
  IniFile ini(std::move(fileName));
  ini.snapshot_ = ini.Content();
  return ini;
}

std::string IniFile::Content() const {
  return snapshot_ ? *snapshot_ : kz::ReadWholeFile(fileName_, kMaxFileSize);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key) const {
  const ParsedIni ini(Content());
  const auto at = ini.Find(section, key);
  if (!at)
    return {};
  return kz::ToValidUtf8(ini.ValueAt(*at));
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) const {
  CheckSingleLine("Název sekce", section);
  CheckSingleLine("Název klíče", key);
  CheckSingleLine("Hodnota", value);
  if (section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos) {
    throw EclError("Neplatný název sekce nebo klíče nastavení.", EINVAL);
  }
  ParsedIni ini(Content());
  ini.Set(section, key, value);
  const std::string content = ini.Serialize();
  // A file past the cap could not be read back: refused here, not discovered at the send.
  if (content.size() > kMaxFileSize) {
    throw EclError("Nastavení by bylo větší než 1 MiB; hodnota [" + std::string(section) + "] " +
                       std::string(key) + " nebyla uložena do \"" + fileName_ + "\".",
                   EFBIG);
  }
  kz::WriteFileAtomically(fileName_, content);
  if (snapshot_)
    snapshot_ = content;
}
