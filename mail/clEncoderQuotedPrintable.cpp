// Quoted-printable (RFC 2045), encoded and decoded in slices through a local buffer.
#include <array>
#include <cstdint>
#include <cstring>

#include "mail/clEncoderCodecs.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Encoder byte classes.
enum : std::uint8_t { kLiteral, kEscape, kCr, kSpace };

struct EncodeClasses {
  std::array<std::uint8_t, 256> cls{};
  constexpr EncodeClasses() {
    for (int b = 0; b < 256; ++b) {
      cls[static_cast<std::size_t>(b)] = (b >= 33 && b <= 126 && b != '=') ? kLiteral : kEscape;
    }
    cls['\r'] = kCr;
    cls[' '] = kSpace;
  }
};
constexpr EncodeClasses kEnc;

// Input is cut into slices so that the worst case output of one slice ("=XX=\r\n" per
// byte with the shortest lines) fits the stack buffer.
constexpr std::size_t kSlice = 8192;
constexpr std::size_t kBufferSize = kSlice * 6 + 64;

class QuotedPrintableEncoder final : public TclCodec {
 public:
  QuotedPrintableEncoder(int lineLength, bool suppressCrlf)
      : limit_(lineLength - 6), suppress_(suppressCrlf) {}

  void Update(std::string_view in, std::string& out) override { Feed(in, false, out); }
  void Finish(std::string& out) override {
    Feed({}, true, out);
    pending_.clear();
  }

 private:
  void Feed(std::string_view in, bool final, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
      joined = pending_ + std::string(in);
      pending_.clear();
      in = joined;
    }
    while (!in.empty()) {
      const std::size_t stop = std::min(in.size(), kSlice);
      const std::size_t used = Run(in, stop, final, out);
      if (used == 0) {
        // Only a byte that needs to see what follows it is left over.
        pending_.assign(in);
        break;
      }
      in.remove_prefix(used);
    }
  }

  // Run encodes bytes of `in` up to about `stop` and returns how many it used; without
  // `final` it stops at a CR or space whose meaning depends on bytes not yet seen.
  std::size_t Run(std::string_view in, std::size_t stop, bool final, std::string& out) {
    const auto p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    char buf[kBufferSize];
    char* o = buf;
    int pos = linePos_;
    std::size_t i = 0;
    while (i < stop) {
      const unsigned char b = p[i];
      std::uint8_t cls = kEnc.cls[b];
      std::size_t take = 1;
      if (cls == kCr) {
        if (i + 1 == n && !final)
          break;
        if (i + 1 < n && p[i + 1] == '\n') {
          take = 2;
        } else {
          cls = kEscape;  // a CR without LF is data
        }
      } else if (cls == kSpace) {
        // A space at the end of a line would be removed by receivers: escape it there.
        if (i + 1 == n) {
          if (!final)
            break;
          cls = kEscape;
        } else if (p[i + 1] == '\r') {
          if (i + 2 == n && !final)
            break;
          cls = (i + 2 < n && p[i + 2] == '\n') ? kEscape : kLiteral;
        } else {
          cls = kLiteral;
        }
      }
      // A soft break goes before the next item once the line is full, never after the last
      // one; every line carries at least one item, whatever the line length.
      if (!suppress_ && pos > limit_ && pos > 0) {
        o[0] = '=';
        o[1] = '\r';
        o[2] = '\n';
        o += 3;
        pos = 0;
      }
      if (take == 2) {
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        pos = 0;
      } else if (cls == kEscape) {
        o[0] = '=';
        o[1] = kHex[b >> 4];
        o[2] = kHex[b & 15];
        o += 3;
        pos += 3;
      } else {
        *o++ = static_cast<char>(b);
        ++pos;
      }
      i += take;
    }
    linePos_ = pos;
    out.append(buf, static_cast<std::size_t>(o - buf));
    return i;
  }

  int limit_;
  bool suppress_;
  int linePos_ = 0;
  std::string pending_;
};

// Decoder byte classes.
enum : std::uint8_t { kCopy, kEquals, kLineEnd };

struct DecodeTables {
  std::array<std::uint8_t, 256> cls{};
  std::array<std::int8_t, 256> hex{};
  constexpr DecodeTables() {
    for (auto& h : hex)
      h = -1;
    for (int d = 0; d < 10; ++d)
      hex[static_cast<std::size_t>('0' + d)] = static_cast<std::int8_t>(d);
    for (int d = 0; d < 6; ++d) {
      hex[static_cast<std::size_t>('A' + d)] = static_cast<std::int8_t>(10 + d);
      hex[static_cast<std::size_t>('a' + d)] = static_cast<std::int8_t>(10 + d);
    }
    cls['='] = kEquals;
    cls['\r'] = kLineEnd;
    cls['\n'] = kLineEnd;
  }
};
constexpr DecodeTables kDec;

class QuotedPrintableDecoder final : public TclCodec {
 public:
  void Update(std::string_view in, std::string& out) override { Feed(in, false, out); }
  void Finish(std::string& out) override {
    Feed({}, true, out);
    pending_.clear();
  }

 private:
  void Feed(std::string_view in, bool final, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
      joined = pending_ + std::string(in);
      pending_.clear();
      in = joined;
    }
    const std::size_t old = out.size();
    out.resize(old + in.size() * 2 + 2);  // a lone CR or LF grows to CR LF
    char* const begin = out.data();
    char* o = begin + old;
    const auto p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
      const std::uint8_t cls = kDec.cls[p[i]];
      if (cls == kCopy) {
        *o++ = static_cast<char>(p[i++]);
        continue;
      }
      if (cls == kLineEnd) {
        // CR LF, a lone CR and a lone LF all end a line; each is written as CR LF.
        if (p[i] == '\r') {
          if (i + 1 == n && !final)
            break;
          i += (i + 1 < n && p[i + 1] == '\n') ? 2 : 1;
        } else {
          ++i;
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        continue;
      }
      // "=": a soft break, an escaped byte, or a literal "=" with the character after it.
      if (i + 1 == n) {
        if (!final)
          break;
        ++i;  // "=" at the very end: a soft break after the last line
        continue;
      }
      const unsigned char c1 = p[i + 1];
      if (c1 == '\r' || c1 == '\n') {
        if (c1 == '\r') {
          if (i + 2 == n && !final)
            break;
          i += (i + 2 < n && p[i + 2] == '\n') ? 3 : 2;
        } else {
          i += 2;
        }
        continue;
      }
      if (kDec.hex[c1] >= 0) {
        if (i + 2 == n && !final)
          break;
        if (i + 2 < n && kDec.hex[p[i + 2]] >= 0) {
          *o++ = static_cast<char>(kDec.hex[c1] * 16 + kDec.hex[p[i + 2]]);
          i += 3;
          continue;
        }
      }
      o[0] = '=';
      o[1] = static_cast<char>(c1);
      o += 2;
      i += 2;
    }
    out.resize(static_cast<std::size_t>(o - begin));
    if (i < n)
      pending_.assign(in.substr(i));
  }

  std::string pending_;
};

}  // namespace

std::unique_ptr<TclCodec> MakeQuotedPrintableEncoder(int lineLength, bool suppressCrlf) {
  return std::make_unique<QuotedPrintableEncoder>(lineLength, suppressCrlf);
}

std::unique_ptr<TclCodec> MakeQuotedPrintableDecoder() {
  return std::make_unique<QuotedPrintableDecoder>();
}
