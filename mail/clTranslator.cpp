#include "mail/clTranslator.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/CodePage.h"
#include "core/StringUtils.h"
#include "core/Utf.h"

namespace {

struct CharSetEntry {
  std::string_view name;
  int codePage;
  std::string_view iconvName;  // the converter's name for the code page
};

// Searched in this order; the names compare ignoring case. Code pages 1200 and 12000 are
// the little-endian forms (their byte-order mark is handled here, not by the converter).
constexpr CharSetEntry kCharSets[] = {
    {"windows-1250", 1250, "WINDOWS-1250"},
    {"windows-1251", 1251, "WINDOWS-1251"},
    {"windows-1252", 1252, "WINDOWS-1252"},
    {"windows-1253", 1253, "WINDOWS-1253"},
    {"windows-1254", 1254, "WINDOWS-1254"},
    {"windows-1255", 1255, "WINDOWS-1255"},
    {"windows-1256", 1256, "WINDOWS-1256"},
    {"windows-1257", 1257, "WINDOWS-1257"},
    {"windows-1258", 1258, "WINDOWS-1258"},
    {"iso-8859-1", 28591, "ISO-8859-1"},
    {"iso-8859-2", 28592, "ISO-8859-2"},
    {"iso-8859-3", 28593, "ISO-8859-3"},
    {"iso-8859-4", 28594, "ISO-8859-4"},
    {"iso-8859-5", 28595, "ISO-8859-5"},
    {"iso-8859-6", 28596, "ISO-8859-6"},
    {"iso-8859-7", 28597, "ISO-8859-7"},
    {"iso-8859-8", 28598, "ISO-8859-8"},
    {"iso-8859-9", 28599, "ISO-8859-9"},
    {"iso-8859-13", 28603, "ISO-8859-13"},
    {"iso-8859-15", 28605, "ISO-8859-15"},
    {"ibm866", 866, "CP866"},
    {"cp866", 866, "CP866"},
    {"utf-16", 1200, "UTF-16LE"},
    {"utf-32", 12000, "UTF-32LE"},
    {"utf-7", 65000, "UTF-7"},
    {"utf-8", 65001, "UTF-8"},
    {"us-ascii", 20127, "ASCII"},
    {"Latin1", 28591, "ISO-8859-1"},
    {"x-mac-cyrillic", 10007, "MAC-CYRILLIC"},
    {"koi8-u", 21866, "KOI8-U"},
    {"koi8-r", 20866, "KOI8-R"},
};
static_assert(std::size(kCharSets) == 31);

constexpr int kDefaultCodePage = 20127;
constexpr int kUtf16 = 1200;
constexpr int kUtf32 = 12000;

using Table = std::array<unsigned char, 256>;

struct TranslationTable {
  std::string_view name;
  Table from;  // bytes of the named charset to the matching single-byte code page
  Table to;    // the reverse
};

Table Identity() {
  Table t{};
  for (int b = 0; b < 256; ++b)
    t[static_cast<std::size_t>(b)] = static_cast<unsigned char>(b);
  return t;
}

// Converts every byte of `from` into the code page `to`; a byte with no counterpart
// becomes "?".
Table Convert(std::string_view from, std::string_view to) {
  Table t = Identity();
  for (int b = 0x80; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    const std::string text = kz::DecodeCodePage(std::string_view(&byte, 1), from);
    const std::string out = kz::EncodeCodePage(text, to, '?');
    t[static_cast<std::size_t>(b)] = out.size() == 1 ? static_cast<unsigned char>(out[0]) : '?';
  }
  return t;
}

std::vector<TranslationTable> BuildTables() {
  const Table id = Identity();
  // ISO-8859-2 differs from windows-1250 at these six codes in these tables.
  Table from2 = id, to2 = id;
  constexpr unsigned char kIso[] = {0xA1, 0xA6, 0xAC, 0xB1, 0xB6, 0xBC};
  constexpr unsigned char kWin[] = {0xA5, 0x8C, 0x8F, 0xB9, 0x9C, 0x9F};
  for (std::size_t i = 0; i < std::size(kIso); ++i) {
    from2[kIso[i]] = kWin[i];
    to2[kWin[i]] = kIso[i];
  }
  const Table koiToWin = Convert("KOI8-R", "WINDOWS-1251");
  const Table winToKoi = Convert("WINDOWS-1251", "KOI8-R");
  return {
      {"ISO-8859-1", id, id},
      {"ISO-8859-2", from2, to2},
      {"Windows-1250", id, id},
      {"ibm866", Convert("CP866", "WINDOWS-1251"), Convert("WINDOWS-1251", "CP866")},
      {"ISO-8859-5", Convert("ISO-8859-5", "WINDOWS-1251"), Convert("WINDOWS-1251", "ISO-8859-5")},
      {"koi8-r", koiToWin, winToKoi},
      {"koi8-u", Convert("KOI8-U", "WINDOWS-1251"), Convert("WINDOWS-1251", "KOI8-U")},
      // The two direction names: KOI8-WIN reads KOI8 as Windows, WIN-KOI8 the other way.
      {"KOI8-WIN", koiToWin, winToKoi},
      {"WIN-KOI8", winToKoi, koiToWin},
      {"Windows-1251", id, id},
      {"x-mac-cyrillic", Convert("MAC-CYRILLIC", "WINDOWS-1251"),
       Convert("WINDOWS-1251", "MAC-CYRILLIC")},
      {"Latin1", id, id},
  };
}

const std::vector<TranslationTable>& Tables() {
  static const std::vector<TranslationTable> tables = BuildTables();
  return tables;
}

const TranslationTable* FindTable(std::string_view charSet) {
  for (const auto& t : Tables()) {
    if (kz::EqualsNoCase(t.name, charSet))
      return &t;
  }
  return nullptr;
}

std::string Apply(const Table* table, std::string_view bytes) {
  std::string out(bytes);
  if (table != nullptr) {
    for (char& c : out)
      c = static_cast<char>((*table)[static_cast<unsigned char>(c)]);
  }
  return out;
}

void TranslateStream(const Table* table, TStream& source, TStream& destination) {
  const std::int64_t sourcePos = source.Position();
  const std::int64_t destPos = destination.Position();
  source.SetPosition(0);
  const std::string translated = Apply(table, source.ReadAll());
  destination.Write(std::string_view(translated));
  source.SetPosition(sourcePos);
  destination.SetPosition(destPos);
}

}  // namespace

int TclTranslator::GetCodePage(std::string_view charSet) {
  for (const auto& e : kCharSets) {
    if (kz::EqualsNoCase(e.name, charSet))
      return e.codePage;
  }
  return kDefaultCodePage;
}

std::string_view TclTranslator::GetCodePageName(int codePage) {
  for (const auto& e : kCharSets) {
    if (e.codePage == codePage)
      return e.iconvName;
  }
  return "ASCII";
}

std::string TclTranslator::GetBytes(std::string_view text, std::string_view charSet) {
  const int cp = GetCodePage(charSet);
  if (text.empty())
    return {};
  std::string bytes = kz::EncodeCodePage(text, GetCodePageName(cp), '?');
  if (cp == kUtf16)
    return std::string("\xFF\xFE", 2) + bytes;
  if (cp == kUtf32)
    return std::string("\xFF\xFE\0\0", 4) + bytes;
  return bytes;
}

int TclTranslator::GetByteCount(std::string_view text, std::string_view charSet) {
  return static_cast<int>(GetBytes(text, charSet).size());
}

std::size_t TclTranslator::GetBytes(std::string_view text, std::span<char> bytes,
                                    std::string_view charSet) {
  const std::string all = GetBytes(text, charSet);
  const std::size_t n = std::min(all.size(), bytes.size());
  std::memcpy(bytes.data(), all.data(), n);
  return n;
}

std::string TclTranslator::GetString(std::string_view bytes, std::string_view charSet) {
  const int cp = GetCodePage(charSet);
  // A final NUL character is not converted; in UTF-16 and UTF-32 it is a whole code unit.
  const std::size_t unit = cp == kUtf16 ? 2 : cp == kUtf32 ? 4 : 1;
  if (bytes.size() >= unit && bytes.size() % unit == 0 &&
      bytes.find_first_not_of('\0', bytes.size() - unit) == std::string_view::npos) {
    bytes.remove_suffix(unit);
  }
  std::string_view name = GetCodePageName(cp);
  if (cp == kUtf16) {
    if (bytes.starts_with("\xFF\xFE")) {
      bytes.remove_prefix(2);
    } else if (bytes.starts_with("\xFE\xFF")) {
      bytes.remove_prefix(2);
      name = "UTF-16BE";
    }
  } else if (cp == kUtf32) {
    if (bytes.starts_with(std::string_view("\xFF\xFE\0\0", 4))) {
      bytes.remove_prefix(4);
    } else if (bytes.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
      bytes.remove_prefix(4);
      name = "UTF-32BE";
    }
  }
  if (cp == 65001)
    return kz::ToValidUtf8(bytes);
  // The text layer hands on well-formed UTF-8 only, whatever the converter let through.
  return kz::ToValidUtf8(kz::DecodeCodePage(bytes, name));
}

std::string TclTranslator::GetString(std::string_view bytes, int index, int count,
                                     std::string_view charSet) {
  const std::size_t start =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), bytes.size());
  const std::size_t len = static_cast<std::size_t>(std::max(count, 0));
  return GetString(bytes.substr(start, len), charSet);
}

void TclTranslator::GetSupportedCharSets(std::vector<std::string>& charSets) {
  charSets.clear();
  for (const auto& t : Tables())
    charSets.emplace_back(t.name);
}

void TclTranslator::TranslateTo(std::string_view charSet, TStream& source, TStream& destination) {
  const TranslationTable* t = FindTable(charSet);
  TranslateStream(t ? &t->to : nullptr, source, destination);
}

void TclTranslator::TranslateFrom(std::string_view charSet, TStream& source, TStream& destination) {
  const TranslationTable* t = FindTable(charSet);
  TranslateStream(t ? &t->from : nullptr, source, destination);
}

std::string TclTranslator::TranslateBytesTo(std::string_view charSet, std::string_view bytes) {
  const TranslationTable* t = FindTable(charSet);
  return Apply(t ? &t->to : nullptr, bytes);
}

std::string TclTranslator::TranslateBytesFrom(std::string_view charSet, std::string_view bytes) {
  const TranslationTable* t = FindTable(charSet);
  return Apply(t ? &t->from : nullptr, bytes);
}

std::string TclTranslator::TranslateTo(std::string_view charSet, std::string_view text) {
  return kz::AnsiDecode(TranslateBytesTo(charSet, kz::AnsiEncode(text)));
}

std::string TclTranslator::TranslateFrom(std::string_view charSet, std::string_view text) {
  return kz::AnsiDecode(TranslateBytesFrom(charSet, kz::AnsiEncode(text)));
}

std::string TclTranslator::TranslateToUtf8(std::string_view text) {
  return kz::ToValidUtf8(text);
}

std::string TclTranslator::TranslateFromUtf8(std::string_view bytes) {
  return kz::ToValidUtf8(bytes);
}
