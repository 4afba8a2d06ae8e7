#include "mail/clMimeParams.h"

#include <map>

#include "core/StringUtils.h"
#include "mail/clTranslator.h"

namespace {

// Encoded text per word or per continuation stays well inside a 76-character line.
constexpr std::size_t kWordBytes = 42;
constexpr std::size_t kContinuationChars = 40;

bool IsUtf8Charset(std::string_view charSet) {
  return kz::EqualsNoCase(charSet, "utf-8") || kz::EqualsNoCase(charSet, "utf8");
}

// Cuts bytes into pieces of at most `size` bytes, never inside a UTF-8 sequence when the
// charset is UTF-8 (each encoded word must hold whole characters).
std::vector<std::string_view> Chunks(std::string_view bytes, std::size_t size, bool utf8) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = std::min(bytes.size(), pos + size);
    if (utf8 && end < bytes.size()) {
      std::size_t back = end;
      while (back > pos && (static_cast<unsigned char>(bytes[back]) & 0xC0) == 0x80)
        --back;
      if (back > pos)
        end = back;
    }
    out.push_back(bytes.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

bool IsAttrChar(unsigned char c) {
  // RFC 2231 attribute-char: token characters except "*", "'" and "%".
  if (c <= 0x20 || c >= 0x7F)
    return false;
  return std::string_view("()<>@,;:\\\"/[]?=*'%").find(static_cast<char>(c)) ==
         std::string_view::npos;
}

void AppendHex(std::string& out, char prefix, unsigned char c) {
  out += prefix;
  out += kz::kHexDigits[c >> 4];
  out += kz::kHexDigits[c & 15];
}

std::string PercentDecode(std::string_view s) {
  return kz::DecodeHexEscapes(s, '%');
}

// Splits a header value into its parameters (name in lower case, value unquoted).
std::vector<std::pair<std::string, std::string>> Params(std::string_view value) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t pos = 0;
  bool first = true;
  while (pos < value.size()) {
    bool inQuotes = false;
    std::size_t end = pos;
    for (; end < value.size(); ++end) {
      const char c = value[end];
      if (c == '\\' && inQuotes) {
        ++end;
        continue;
      }
      if (c == '"')
        inQuotes = !inQuotes;
      if (c == ';' && !inQuotes)
        break;
    }
    const std::string_view piece = kz::Trim(value.substr(pos, std::min(end, value.size()) - pos));
    pos = end + 1;
    if (first) {
      first = false;
      continue;  // the main value
    }
    const std::size_t eq = piece.find('=');
    if (eq == std::string_view::npos)
      continue;
    std::string_view v = kz::Trim(piece.substr(eq + 1));
    std::string unquoted;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
      for (std::size_t i = 1; i + 1 < v.size(); ++i) {
        if (v[i] == '\\' && i + 2 < v.size())
          ++i;
        unquoted += v[i];
      }
    } else {
      unquoted = std::string(v);
    }
    out.emplace_back(kz::LowerAscii(kz::Trim(piece.substr(0, eq))), std::move(unquoted));
  }
  return out;
}

}  // namespace

std::string Quoted(std::string_view value) {
  return "\"" + std::string(value) + "\"";
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void AddFieldLines(std::vector<std::string>& lines, const std::vector<std::string>& fields) {
  for (const std::string& field : fields) {
    bool first = true;
    for (std::string& piece : kz::SplitLines(field)) {
      if (!first && (piece.empty() || (piece[0] != ' ' && piece[0] != '\t')))
        piece.insert(0, 1, '\t');
      lines.push_back(std::move(piece));
      first = false;
    }
  }
}

bool IsPlainParamValue(std::string_view value) {
  if (value.empty() || value.size() > 200 || value.find("=?") != std::string_view::npos)
    return false;
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\')
      return false;
  }
  return true;
}

std::string EncodeParamWords(std::string_view text, std::string_view charSet,
                             TclEncodeMethod method) {
  const std::string bytes = TclTranslator::GetBytes(text, charSet);
  const bool q = method == TclEncodeMethod::cmQuotedPrintable;
  std::string out;
  for (const std::string_view chunk :
       Chunks(bytes, q ? kWordBytes / 3 : kWordBytes, IsUtf8Charset(charSet))) {
    if (!out.empty())
      out += "\r\n";
    out += "=?" + std::string(charSet) + (q ? "?Q?" : "?B?");
    if (q) {
      for (const char ch : chunk) {
        const auto c = static_cast<unsigned char>(ch);
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '!' || c == '*' || c == '+' || c == '-' ||
                          c == '/' || c == '.';
        if (safe)
          out += ch;
        else if (c == ' ')
          out += '_';
        else
          AppendHex(out, '=', c);
      }
    } else {
      TclEncoder encoder(TclEncodeMethod::cmBase64);
      encoder.SetSuppressCrlf(true);
      out += encoder.EncodeBytes(chunk);
    }
    out += "?=";
  }
  return out;
}

std::vector<std::string> EncodeRfc2231Param(std::string_view name, std::string_view text,
                                            std::string_view charSet) {
  const std::string bytes = TclTranslator::GetBytes(text, charSet);
  std::string encoded;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAttrChar(c))
      encoded += ch;
    else
      AppendHex(encoded, '%', c);
  }
  const std::string prefix = std::string(charSet) + "''";
  if (prefix.size() + encoded.size() <= kContinuationChars)
    return {std::string(name) + "*=" + prefix + encoded};
  std::vector<std::string> items;
  std::size_t pos = 0;
  for (int n = 0; pos < encoded.size(); ++n) {
    std::size_t end = std::min(encoded.size(), pos + kContinuationChars);
    // Never cut a %XX escape.
    if (end < encoded.size() && end >= 1 && encoded[end - 1] == '%')
      end -= 1;
    else if (end < encoded.size() && end >= 2 && encoded[end - 2] == '%')
      end -= 2;
    items.push_back(std::string(name) + "*" + std::to_string(n) + "*=" + (n == 0 ? prefix : "") +
                    encoded.substr(pos, end - pos));
    pos = end;
  }
  return items;
}

std::string GetRfc2231Param(std::string_view value, std::string_view name,
                            std::string_view defaultCharSet, bool& found) {
  found = false;
  const std::string base(name);
  std::string charSet(defaultCharSet);
  std::string single;
  bool haveSingle = false;
  // Continuation number -> (encoded?, text); at most a sane count is kept.
  std::map<int, std::pair<bool, std::string>> parts;
  for (auto& [key, v] : Params(value)) {
    if (key.size() <= base.size() || key.compare(0, base.size(), base) != 0 ||
        key[base.size()] != '*') {
      continue;
    }
    const std::string_view rest = std::string_view(key).substr(base.size() + 1);
    if (rest.empty()) {
      single = v;
      haveSingle = true;
      continue;
    }
    const bool encoded = rest.back() == '*';
    const std::string_view digits = encoded ? rest.substr(0, rest.size() - 1) : rest;
    if (digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      continue;
    }
    parts[std::stoi(std::string(digits))] = {encoded, v};
  }
  auto splitCharset = [&](std::string& text) {
    const std::size_t q1 = text.find('\'');
    const std::size_t q2 = q1 == std::string::npos ? q1 : text.find('\'', q1 + 1);
    if (q2 == std::string::npos)
      return;
    if (q1 > 0)
      charSet = text.substr(0, q1);
    text.erase(0, q2 + 1);
  };
  std::string bytes;
  if (haveSingle) {
    splitCharset(single);
    bytes = PercentDecode(single);
  } else if (!parts.empty()) {
    int expect = 0;
    for (auto& [n, part] : parts) {
      if (n != expect++)
        break;  // a gap ends the value
      std::string text = part.second;
      if (n == 0 && part.first)
        splitCharset(text);
      bytes += part.first ? PercentDecode(text) : text;
    }
  } else {
    return {};
  }
  found = true;
  return TclTranslator::GetString(bytes, charSet);
}
