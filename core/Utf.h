// UTF-8 / UTF-16 helpers. Text is std::string holding UTF-8; where behaviour is defined on
// UTF-16 code units (character counts, per-code-unit encodings) convert with these.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kz {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Utf8ToUtf16 decodes UTF-8; every malformed sequence (bad lead byte, truncated or
// overlong sequence, surrogate code point, value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Utf16ToUtf8 encodes UTF-16; a surrogate pair becomes one four-byte sequence and a
// lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// AppendUtf8 appends the UTF-8 form of one code point (U+FFFD for an invalid one).
void AppendUtf8(std::string& out, char32_t cp);

// DecodeUtf8 reads one code point at text[pos] and advances pos past it; a malformed
// sequence yields U+FFFD and advances by one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);

bool IsValidUtf8(std::string_view text);

// ToValidUtf8 returns the text with every malformed sequence replaced by U+FFFD (valid text
// comes back unchanged).
std::string ToValidUtf8(std::string_view text);

// Utf16Length is the number of UTF-16 code units the UTF-8 text would need.
std::size_t Utf16Length(std::string_view utf8);

// Latin1ToUtf8 takes every byte as the code point U+0000..U+00FF.
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace kz
