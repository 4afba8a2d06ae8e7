#include "core/StringUtils.h"

#include <algorithm>
#include <charconv>

#include "core/Error.h"

namespace kz {

std::string_view TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsSpaceOrControl(s[i]))
    ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && IsSpaceOrControl(s[n - 1]))
    --n;
  return s.substr(0, n);
}

std::string_view Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

static char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
static char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), LowerChar);
  return out;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), UpperChar);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerChar(x) == LowerChar(y);
         });
}

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.empty())
    return from <= haystack.size() ? from : std::string_view::npos;
  if (from >= haystack.size() || haystack.size() - from < needle.size())
    return std::string_view::npos;
  // Knuth-Morris-Pratt over lower-cased characters: linear in both texts, so a long
  // needle that almost matches everywhere costs no more than a short one.
  const std::string pattern = LowerAscii(needle);
  std::vector<std::size_t> border(pattern.size(), 0);
  for (std::size_t i = 1, k = 0; i < pattern.size(); ++i) {
    while (k > 0 && pattern[i] != pattern[k])
      k = border[k - 1];
    if (pattern[i] == pattern[k])
      ++k;
    border[i] = k;
  }
  for (std::size_t i = from, k = 0; i < haystack.size(); ++i) {
    const char c = LowerChar(haystack[i]);
    while (k > 0 && c != pattern[k])
      k = border[k - 1];
    if (c == pattern[k])
      ++k;
    if (k == pattern.size())
      return i + 1 - k;
  }
  return std::string_view::npos;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0)
      out += separator;
    out += lines[i];
  }
  return out;
}

int ParseInt(std::string_view text) {
  std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '+')
    t.remove_prefix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

std::string DecodeHexEscapes(std::string_view s, char escape, bool underscoreIsSpace) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (underscoreIsSpace && s[i] == '_') {
      out += ' ';
    } else if (s[i] == escape && i + 2 < s.size() && HexDigitValue(s[i + 1]) >= 0 &&
               HexDigitValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace kz
