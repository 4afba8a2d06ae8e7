// Conversions between UTF-8 text and the bytes of a named code page, over iconv.
// The "system ANSI code page" is one fixed single-byte code page: windows-1250.
#pragma once

#include <string>
#include <string_view>

namespace kz {

inline constexpr std::string_view kAnsiCharset = "windows-1250";

// EncodeCodePage converts UTF-8 text to the bytes of `charset` (an iconv name). A character
// the code page lacks becomes `replacement`; malformed UTF-8 counts as such a character.
// An unknown charset raises EclError.
std::string EncodeCodePage(std::string_view utf8, std::string_view charset, char replacement = '?');

// DecodeCodePage converts bytes of `charset` to UTF-8; a byte sequence the code page does
// not define becomes U+FFFD.
std::string DecodeCodePage(std::string_view bytes, std::string_view charset);

// IsCharsetSupported tells whether iconv knows the name.
bool IsCharsetSupported(std::string_view charset);

// AnsiEncode / AnsiDecode: the same for windows-1250, table driven. Its five undefined
// bytes (0x81, 0x83, 0x88, 0x90, 0x98) map to U+0081.. and back, so bytes round-trip.
std::string AnsiEncode(std::string_view utf8, char replacement = '?');
std::string AnsiDecode(std::string_view bytes);

}  // namespace kz
