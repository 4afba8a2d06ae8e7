// clTranslator: charset names to code pages and conversions between text and charset bytes
// (over iconv), the legacy 8-bit translation tables, and the UTF-8 translator.
//
// Text is UTF-8 (std::string); "bytes" are raw bytes in a std::string.
// Code page 1200 ("utf-16") and 12000 ("utf-32") are written little-endian after a byte
// order mark, so that every reader knows the order; on reading a mark decides the order and
// without one little-endian is assumed.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"

class TclTranslator {
 public:
  // GetCodePage: the code page of a charset name (ignoring case); 20127 for unknown names.
  static int GetCodePage(std::string_view charSet);
  // GetCodePageName: the iconv name used for a code page of the table.
  static std::string_view GetCodePageName(int codePage);

  static int GetByteCount(std::string_view text, std::string_view charSet);
  // GetBytes converts the text into the charset; a character the code page lacks becomes
  // "?" (single-byte code pages) as the conversion allows.
  static std::string GetBytes(std::string_view text, std::string_view charSet);
  // This form copies at most bytes.size() bytes and returns how many it copied.
  static std::size_t GetBytes(std::string_view text, std::span<char> bytes,
                              std::string_view charSet);
  // GetString converts bytes of the charset to text; undefined sequences become U+FFFD.
  // A final NUL character is not converted.
  static std::string GetString(std::string_view bytes, std::string_view charSet);
  static std::string GetString(std::string_view bytes, int index, int count,
                               std::string_view charSet);

  // GetSupportedCharSets replaces the list with the names of the translation tables.
  static void GetSupportedCharSets(std::vector<std::string>& charSets);

  // TranslateTo / TranslateFrom pass every byte of the whole source (from position 0)
  // through the charset's "to" (resp. "from") table, or copy it when the charset has no
  // table; both streams get their positions back afterwards.
  static void TranslateTo(std::string_view charSet, TStream& source, TStream& destination);
  static void TranslateFrom(std::string_view charSet, TStream& source, TStream& destination);
  // Byte forms of the same.
  static std::string TranslateBytesTo(std::string_view charSet, std::string_view bytes);
  static std::string TranslateBytesFrom(std::string_view charSet, std::string_view bytes);
  // Text forms: the text goes through windows-1250 bytes and back.
  static std::string TranslateTo(std::string_view charSet, std::string_view text);
  static std::string TranslateFrom(std::string_view charSet, std::string_view text);

  // TranslateToUtf8 returns the UTF-8 bytes of the text: a character outside the basic
  // plane is one four-byte sequence; a malformed sequence becomes U+FFFD.
  static std::string TranslateToUtf8(std::string_view text);
  // TranslateFromUtf8 reads UTF-8 bytes (one to four bytes a character) as text; a
  // malformed sequence (also an encoded surrogate) becomes U+FFFD.
  static std::string TranslateFromUtf8(std::string_view bytes);
};
