// Quoted-printable (RFC 2045), encoded and decoded in slices through a local buffer.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/StringUtils.h"
#include "mail/clEncoderCodecs.h"

namespace {

// Whole-word tests on eight bytes at once (exact for "is there such a byte").
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

inline std::uint64_t Load8(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
// A byte below n (n <= 128).
inline std::uint64_t HasLess(std::uint64_t w, std::uint64_t n) {
  return (w - kOnes * n) & ~w & kHighs;
}
// A byte above n (n <= 127).
inline std::uint64_t HasMore(std::uint64_t w, std::uint64_t n) {
  return ((w + kOnes * (127 - n)) | w) & kHighs;
}
inline std::uint64_t HasByte(std::uint64_t w, unsigned char b) {
  return HasLess(w ^ (kOnes * b), 1);
}

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
constexpr std::size_t kLoneBreakBudget = 64;

// A codec that may leave the last bytes of a chunk until it sees what follows them (a CR
// that may start CR LF, a space that may end a line, an "=" that may start an escape).
class LookaheadCodec : public kz::Codec {
 public:
  void Update(std::string_view in, std::string& out) final { Run(in, false, out); }
  void Finish(std::string& out) final {
    Run({}, true, out);
    pending_.clear();
  }

 protected:
  // Feed converts `in` (with `final`, the end of the data) and returns how many bytes it
  // used; the rest is handed to it again, in front of the next chunk.
  virtual std::size_t Feed(std::string_view in, bool final, std::string& out) = 0;

 private:
  void Run(std::string_view in, bool final, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
      joined = std::exchange(pending_, {}) + std::string(in);
      in = joined;
    }
    pending_.assign(in.substr(Feed(in, final, out)));
  }

  std::string pending_;
};

class QuotedPrintableEncoder final : public LookaheadCodec {
 public:
  QuotedPrintableEncoder(int lineLength, bool suppressCrlf)
      : limit_(lineLength - 6), suppress_(suppressCrlf) {}

 private:
  std::size_t Feed(std::string_view in, bool final, std::string& out) override {
    std::size_t done = 0;
    while (done < in.size()) {
      const std::string_view rest = in.substr(done);
      const std::size_t used = Run(rest, std::min(rest.size(), kSlice), final, out);
      if (used == 0)
        break;  // only a byte that needs to see what follows it is left over
      done += used;
    }
    return done;
  }

  // Run encodes bytes of `in` up to about `stop` and returns how many it used; without
  // `final` it stops at a CR or space whose meaning depends on bytes not yet seen.
  std::size_t Run(std::string_view in, std::size_t stop, bool final, std::string& out) {
    const auto p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    char buf[kBufferSize];
    char* o = buf;
    int pos = linePos_;
    // Locals: stores through char* could alias the members.
    const int limit = limit_;
    const bool suppress = suppress_;
    std::size_t i = 0;
    while (i < stop) {
      if (kEnc.cls[p[i]] != kEscape) {
        // Fast path: a run of bytes written as they are, as far as the line has room.
        std::size_t room = stop - i;
        if (!suppress) {
          const int left = pos <= limit ? limit - pos + 1 : (pos == 0 ? 1 : 0);
          room = std::min(room, static_cast<std::size_t>(left));
        }
        std::size_t j = i;
        const std::size_t runEnd = i + room;
        // Eight bytes at a time while none of them needs an escape, then byte by byte.
        while (j + 8 <= runEnd) {
          const std::uint64_t w = Load8(p + j);
          if (HasLess(w, 0x20) | HasMore(w, 0x7E) | HasByte(w, '='))
            break;
          std::memcpy(o, p + j, 8);
          o += 8;
          j += 8;
        }
        while (j < runEnd && kEnc.cls[p[j]] != kEscape && p[j] != '\r')
          *o++ = static_cast<char>(p[j++]);
        // A space that may end a line is left to the careful path below.
        if (j > i && p[j - 1] == ' ' && (j == n || p[j] == '\r')) {
          --j;
          --o;
        }
        if (j > i) {
          pos += static_cast<int>(j - i);
          i = j;
          continue;
        }
      }
      const unsigned char b = p[i];
      std::uint8_t cls = kEnc.cls[b];
      std::size_t take = 1;
      if (cls == kCr && suppress) {
        cls = kEscape;  // one unbroken line: even CR LF is data
      } else if (cls == kCr) {
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
      if (!suppress && pos > limit && pos > 0) {
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
        o[1] = kz::kHexDigits[b >> 4];
        o[2] = kz::kHexDigits[b & 15];
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

class QuotedPrintableDecoder final : public LookaheadCodec {
 private:
  std::size_t Feed(std::string_view in, bool final, std::string& out) override {
    const auto p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    std::size_t i = 0;
    bool stalled = false;
    // The output grows a slice at a time. Every byte gives at most one byte, except a
    // lone CR or LF (two): a slice ends early once kLoneBreakBudget of those were seen, so
    // the slice plus that budget plus one wide store always fits.
    while (i < n && !stalled) {
      const std::size_t stop = std::min(n, i + kSlice);
      const std::size_t old = out.size();
      out.resize(old + (stop - i) + kLoneBreakBudget + 16);
      char* const begin = out.data();
      char* o = begin + old;
      stalled = DecodeSlice(p, n, i, stop, final, o);
      out.resize(static_cast<std::size_t>(o - begin));
    }
    return i;
  }

  // DecodeSlice decodes from index to about stop (its lookahead may read on to n) and returns
  // true when it had to stop for want of bytes not yet seen. It works on local copies of the
  // positions: stores through char* could alias referenced ones.
  static bool DecodeSlice(const unsigned char* p, std::size_t n, std::size_t& index,
                          std::size_t stop, bool final, char*& out) {
    std::size_t i = index;
    char* o = out;
    bool stalled = false;
    std::size_t loneBreaks = 0;
    while (i < stop) {
      const std::uint8_t cls = kDec.cls[p[i]];
      if (cls == kCopy) {
#if defined(__SSE2__)
        // Sixteen bytes are copied at a time and the copy is cut at the first "=", CR or
        // LF among them (the output always has room for the whole store). The common
        // specials (an escape, a soft break, CR LF) are handled here without leaving.
        const __m128i eq = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
        bool other = false;
        while (i + 16 <= stop) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
          const int mask = _mm_movemask_epi8(_mm_or_si128(
              _mm_or_si128(_mm_cmpeq_epi8(v, eq), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, lf)));
          if (mask == 0) {
            o += 16;
            i += 16;
            continue;
          }
          const int k = __builtin_ctz(static_cast<unsigned>(mask));
          o += k;
          i += static_cast<std::size_t>(k);
          if (i + 2 >= n) {
            other = true;
            break;
          }
          const unsigned char c0 = p[i], c1 = p[i + 1], c2 = p[i + 2];
          if (c0 == '=' && (kDec.hex[c1] | kDec.hex[c2]) >= 0) {
            *o++ = static_cast<char>(kDec.hex[c1] * 16 + kDec.hex[c2]);
            i += 3;
          } else if (c0 == '=' && c1 == '\r' && c2 == '\n') {
            i += 3;
          } else if (c0 == '\r' && c1 == '\n') {
            o[0] = '\r';
            o[1] = '\n';
            o += 2;
            i += 2;
          } else {
            other = true;
            break;
          }
        }
        if (other)
          continue;
#endif
        while (i < stop && kDec.cls[p[i]] == kCopy)
          *o++ = static_cast<char>(p[i++]);
        continue;
      }
      if (cls == kLineEnd) {
        // CR LF, a lone CR and a lone LF all end a line; each is written as CR LF.
        if (p[i] == '\r') {
          if (i + 1 == n && !final) {
            stalled = true;
            break;
          }
          if (i + 1 < n && p[i + 1] == '\n') {
            i += 2;
          } else {
            ++i;
            ++loneBreaks;
          }
        } else {
          ++i;
          ++loneBreaks;
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        if (loneBreaks == kLoneBreakBudget)
          break;
        continue;
      }
      // "=": a soft break, an escaped byte, or a literal "=" with the character after it.
      if (i + 1 == n) {
        if (!final) {
          stalled = true;
          break;
        }
        ++i;  // "=" at the very end: a soft break after the last line
        continue;
      }
      const unsigned char c1 = p[i + 1];
      if (c1 == '\r' || c1 == '\n') {
        if (c1 == '\r') {
          if (i + 2 == n && !final) {
            stalled = true;
            break;
          }
          i += (i + 2 < n && p[i + 2] == '\n') ? 3 : 2;
        } else {
          i += 2;
        }
        continue;
      }
      if (kDec.hex[c1] >= 0) {
        if (i + 2 == n && !final) {
          stalled = true;
          break;
        }
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
    index = i;
    out = o;
    return stalled;
  }
};

}  // namespace

std::unique_ptr<kz::Codec> MakeQuotedPrintableEncoder(int lineLength, bool suppressCrlf) {
  return std::make_unique<QuotedPrintableEncoder>(lineLength, suppressCrlf);
}

std::unique_ptr<kz::Codec> MakeQuotedPrintableDecoder() {
  return std::make_unique<QuotedPrintableDecoder>();
}
