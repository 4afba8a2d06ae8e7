#include "core/CodePage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "core/Error.h"
#include "core/Utf.h"

namespace kz {
namespace {

// Owns one iconv conversion descriptor.
class IconvHandle {
 public:
  IconvHandle(std::string_view to, std::string_view from)
      : cd_(::iconv_open(std::string(to).c_str(), std::string(from).c_str())) {}
  ~IconvHandle() {
    if (ok())
      ::iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }
  void reset() const { ::iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

void CheckOpened(const IconvHandle& h, std::string_view name) {
  if (!h.ok())
    throw EclError("Unsupported charset \"" + std::string(name) + "\"", EINVAL);
}

// Convert converts `in` with `cd`; on an input error `onError` is asked to write its
// substitute and to say how many input bytes to skip.
template <class OnError>
std::string Convert(const IconvHandle& cd, std::string_view in, OnError onError) {
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  while (srcLeft > 0) {
    const std::size_t r = ::iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<std::size_t>(-1))
      break;
    if (errno == E2BIG) {
      const std::size_t used = out.size() - dstLeft;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
      continue;
    }
    // EILSEQ or EINVAL: an unconvertible or incomplete sequence at src.
    std::string substitute;
    std::size_t skip = onError(std::string_view(src, srcLeft), substitute);
    if (skip == 0 || skip > srcLeft)
      skip = 1;
    src += skip;
    srcLeft -= skip;
    cd.reset();
    const std::size_t used = out.size() - dstLeft;
    if (dstLeft < substitute.size() + 16) {
      out.resize(out.size() * 2 + substitute.size());
      dst = out.data() + used;
      dstLeft = out.size() - used;
    }
    std::memcpy(dst, substitute.data(), substitute.size());
    dst += substitute.size();
    dstLeft -= substitute.size();
  }
  // Flush any shift state (stateful encodings such as UTF-7).
  if (dstLeft < 16) {
    const std::size_t used = out.size() - dstLeft;
    out.resize(out.size() + 16);
    dst = out.data() + used;
    dstLeft = out.size() - used;
  }
  ::iconv(cd.get(), nullptr, nullptr, &dst, &dstLeft);
  out.resize(out.size() - dstLeft);
  return out;
}

// The windows-1250 tables, built once from iconv.
struct AnsiTables {
  std::array<char32_t, 256> toUnicode{};
  std::unordered_map<char32_t, unsigned char> fromUnicode;

  AnsiTables() {
    IconvHandle cd("UTF-32LE", "WINDOWS-1250");
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      char* src = &in;
      std::size_t srcLeft = 1;
      unsigned char out[8] = {};
      char* dst = reinterpret_cast<char*>(out);
      std::size_t dstLeft = sizeof out;
      char32_t cp = static_cast<char32_t>(b);  // undefined bytes keep their value
      if (cd.ok() &&
          ::iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) &&
          dstLeft == sizeof out - 4) {
        cp = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
      }
      cd.reset();
      toUnicode[static_cast<std::size_t>(b)] = cp;
      fromUnicode.emplace(cp, static_cast<unsigned char>(b));
    }
  }
};

const AnsiTables& Ansi() {
  static const AnsiTables tables;
  return tables;
}

}  // namespace

std::string EncodeCodePage(std::string_view utf8, std::string_view charset, char replacement) {
  const IconvHandle cd(charset, "UTF-8");
  CheckOpened(cd, charset);
  // Malformed input is first made well-formed, so that only characters the target lacks
  // reach the substitution below (which writes a single byte).
  const std::string sanitized = ToValidUtf8(utf8);
  return Convert(cd, sanitized, [&](std::string_view rest, std::string& substitute) {
    std::size_t pos = 0;
    DecodeUtf8(rest, pos);
    // Only single-byte and other ASCII-compatible code pages lack characters.
    substitute.assign(1, replacement);
    return pos;
  });
}

std::string DecodeCodePage(std::string_view bytes, std::string_view charset) {
  const IconvHandle cd("UTF-8", charset);
  CheckOpened(cd, charset);
  return Convert(cd, bytes, [](std::string_view, std::string& substitute) {
    substitute = "\xEF\xBF\xBD";
    return std::size_t{1};
  });
}

bool IsCharsetSupported(std::string_view charset) {
  return IconvHandle("UTF-8", charset).ok();
}

std::string AnsiEncode(std::string_view utf8, char replacement) {
  const AnsiTables& t = Ansi();
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const unsigned char c = static_cast<unsigned char>(utf8[pos]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++pos;
      continue;
    }
    const std::size_t before = pos;
    const char32_t cp = DecodeUtf8(utf8, pos);
    const bool malformed = cp == kReplacementChar && pos - before != 3;
    const auto it = malformed ? t.fromUnicode.end() : t.fromUnicode.find(cp);
    out.push_back(it == t.fromUnicode.end() ? replacement : static_cast<char>(it->second));
  }
  return out;
}

std::string AnsiDecode(std::string_view bytes) {
  const AnsiTables& t = Ansi();
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      AppendUtf8(out, t.toUnicode[c]);
    }
  }
  return out;
}

}  // namespace kz
