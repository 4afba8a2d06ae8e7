// Small text helpers shared by the mail stack and the application.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kz {

// IsSpaceOrControl: a space or any control character (0x00..0x20), as the trimming of
// the address and header code understands white space.
inline bool IsSpaceOrControl(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view s);
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);

// ASCII-only case folding: names of keys, header fields and charsets are ASCII.
std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
// FindNoCase returns the position of the first case-insensitive occurrence, or npos.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);

bool StartsWith(std::string_view s, std::string_view prefix);

// The upper-case hexadecimal digits, indexed by value.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// HexDigitValue is the value of one hexadecimal digit of either case, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// DecodeHexEscapes turns each `escape` followed by two hexadecimal digits into the byte
// they give; an escape without two digits after it stays as written. With
// `underscoreIsSpace`, a bare '_' becomes a space (the Q encoding of header words).
std::string DecodeHexEscapes(std::string_view s, char escape, bool underscoreIsSpace = false);

// SplitLines cuts text at CR LF, lone CR and lone LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);
// JoinLines joins lines with `separator` (no separator after the last one).
std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator = "\r\n");

// ParseInt reads a whole decimal integer (optional sign, surrounding spaces allowed);
// anything else raises EConvertError "'<text>' is not a valid integer value".
int ParseInt(std::string_view text);

}  // namespace kz
