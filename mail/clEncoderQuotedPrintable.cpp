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
    // Locals: stores through char* could alias the members.
    Line line{buf, linePos_, limit_, suppress_};
    std::size_t i = 0;
    while (i < stop) {
      if (p[i] == 'F' && StartsLine(line)) {
        // "From " at the start of a line is turned into ">From " by mailbox-format
        // deliveries; an escaped F keeps the text as written.
        if (n - i < 5 && !final)
          break;
        if (n - i >= 5 && std::memcmp(p + i, "From ", 5) == 0) {
          WriteItem(p[i], kEscape, 1, line);
          ++i;
          continue;
        }
      }
      if (kEnc.cls[p[i]] != kEscape) {
        const std::size_t j = CopyLiteralRun(p, n, i, stop, line);
        if (j > i) {
          i = j;
          continue;
        }
      }
      std::uint8_t cls = kEscape;
      std::size_t take = 1;
      if (!Classify(p, n, i, final, suppress_, cls, take))
        break;
      WriteItem(p[i], cls, take, line);
      i += take;
    }
    linePos_ = line.pos;
    out.append(buf, static_cast<std::size_t>(line.out - buf));
    return i;
  }

  // The output line being written.
  struct Line {
    char* out;
    int pos;  // characters on the line so far
    int limit;
    bool suppress;
  };

  // StartsLine: the next item written begins an output line (after a hard or soft break).
  static bool StartsLine(const Line& line) {
    return line.pos == 0 || (!line.suppress && line.pos > line.limit);
  }

  // CopyLiteralRun writes the bytes from i on that go out as they are, as far as the line
  // has room, and returns where it stopped. A space that may end a line is left to the
  // careful path.
  static std::size_t CopyLiteralRun(const unsigned char* p, std::size_t n, std::size_t i,
                                    std::size_t stop, Line& line) {
    std::size_t room = stop - i;
    if (!line.suppress) {
      const int left = line.pos <= line.limit ? line.limit - line.pos + 1 : (line.pos == 0 ? 1 : 0);
      room = std::min(room, static_cast<std::size_t>(left));
    }
    char* o = line.out;
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
    if (j > i && p[j - 1] == ' ' && (j == n || p[j] == '\r')) {
      --j;
      --o;
    }
    line.out = o;
    line.pos += static_cast<int>(j - i);
    return j;
  }

  // Classify decides how the byte at i goes out: literal, escaped, or (take 2) a line break.
  // False when that depends on bytes not yet seen.
  static bool Classify(const unsigned char* p, std::size_t n, std::size_t i, bool final,
                       bool suppress, std::uint8_t& cls, std::size_t& take) {
    cls = kEnc.cls[p[i]];
    take = 1;
    if (cls == kCr && suppress) {
      cls = kEscape;  // one unbroken line: even CR LF is data
    } else if (cls == kCr) {
      if (i + 1 == n && !final)
        return false;
      if (i + 1 < n && p[i + 1] == '\n') {
        take = 2;
      } else {
        cls = kEscape;  // a CR without LF is data
      }
    } else if (cls == kSpace) {
      // A space at the end of a line would be removed by receivers: escape it there.
      if (i + 1 == n) {
        if (!final)
          return false;
        cls = kEscape;
      } else if (p[i + 1] == '\r') {
        if (i + 2 == n && !final)
          return false;
        cls = (i + 2 < n && p[i + 2] == '\n') ? kEscape : kLiteral;
      } else {
        cls = kLiteral;
      }
    }
    return true;
  }

  // WriteItem writes one classified item. A soft break goes before it once the line is
  // full, never after the last one; every line carries at least one item, whatever the
  // line length.
  static void WriteItem(unsigned char b, std::uint8_t cls, std::size_t take, Line& line) {
    char* o = line.out;
    if (!line.suppress && line.pos > line.limit && line.pos > 0) {
      o[0] = '=';
      o[1] = '\r';
      o[2] = '\n';
      o += 3;
      line.pos = 0;
    }
    if (take == 2) {
      o[0] = '\r';
      o[1] = '\n';
      o += 2;
      line.pos = 0;
    } else if (cls == kEscape) {
      o[0] = '=';
      o[1] = kz::kHexDigits[b >> 4];
      o[2] = kz::kHexDigits[b & 15];
      o += 3;
      line.pos += 3;
    } else {
      *o++ = static_cast<char>(b);
      ++line.pos;
    }
    line.out = o;
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
    Special result = Special::kDone;
    std::size_t loneBreaks = 0;
    while (i < stop) {
      CopyPlain(p, stop, i, o);
      if (i >= stop)
        break;
      result = DecodeSpecial(p, n, final, i, o, loneBreaks);
      if (result != Special::kDone)
        break;
    }
    index = i;
    out = o;
    return result == Special::kStalled;
  }

  // CopyPlain copies the bytes from i on up to the next "=", CR or LF (or stop).
  static void CopyPlain(const unsigned char* p, std::size_t stop, std::size_t& index, char*& out) {
    std::size_t i = index;
    char* o = out;
#if defined(__SSE2__)
    // Sixteen bytes are stored at a time (the output always has room for the whole
    // store) and the copy is cut at the first special byte among them.
    const __m128i eq = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    while (i + 16 <= stop) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
      const int mask = _mm_movemask_epi8(_mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(v, eq), _mm_cmpeq_epi8(v, cr)), _mm_cmpeq_epi8(v, lf)));
      if (mask != 0) {
        const int k = __builtin_ctz(static_cast<unsigned>(mask));
        index = i + static_cast<std::size_t>(k);
        out = o + k;
        return;
      }
      o += 16;
      i += 16;
    }
#endif
    while (i < stop && kDec.cls[p[i]] == kCopy)
      *o++ = static_cast<char>(p[i++]);
    index = i;
    out = o;
  }

  enum class Special { kDone, kStalled, kBudgetSpent };

  // DecodeSpecial handles the "=", CR or LF at i: an escape, a soft break, a line end (CR
  // LF, a lone CR and a lone LF are each written as CR LF), or a literal "=" with the
  // character after it.
  [[gnu::always_inline]] static Special DecodeSpecial(const unsigned char* p, std::size_t n,
                                                      bool final, std::size_t& index, char*& out,
                                                      std::size_t& loneBreaks) {
    std::size_t i = index;
    char* o = out;
    // The most common case first: an escape with all of it in view.
    if (p[i] == '=' && i + 2 < n && (kDec.hex[p[i + 1]] | kDec.hex[p[i + 2]]) >= 0) {
      *o = static_cast<char>(kDec.hex[p[i + 1]] * 16 + kDec.hex[p[i + 2]]);
      index = i + 3;
      out = o + 1;
      return Special::kDone;
    }
    if (kDec.cls[p[i]] == kLineEnd) {
      if (p[i] == '\r' && i + 1 == n && !final)
        return Special::kStalled;
      if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') {
        i += 2;
      } else {
        ++i;
        ++loneBreaks;
      }
      o[0] = '\r';
      o[1] = '\n';
      index = i;
      out = o + 2;
      return loneBreaks == kLoneBreakBudget ? Special::kBudgetSpent : Special::kDone;
    }
    if (i + 1 == n) {
      if (!final)
        return Special::kStalled;
      index = i + 1;  // "=" at the very end: a soft break after the last line
      return Special::kDone;
    }
    const unsigned char c1 = p[i + 1];
    if (c1 == '\r' || c1 == '\n') {
      if (c1 == '\r' && i + 2 == n && !final)
        return Special::kStalled;
      index = i + ((c1 == '\r' && i + 2 < n && p[i + 2] == '\n') ? 3 : 2);
      return Special::kDone;
    }
    if (kDec.hex[c1] >= 0) {
      if (i + 2 == n && !final)
        return Special::kStalled;
      if (i + 2 < n && kDec.hex[p[i + 2]] >= 0) {
        *o = static_cast<char>(kDec.hex[c1] * 16 + kDec.hex[p[i + 2]]);
        index = i + 3;
        out = o + 1;
        return Special::kDone;
      }
    }
    o[0] = '=';
    o[1] = static_cast<char>(c1);
    index = i + 2;
    out = o + 2;
    return Special::kDone;
  }
};

}  // namespace

std::unique_ptr<kz::Codec> MakeQuotedPrintableEncoder(int lineLength, bool suppressCrlf) {
  return std::make_unique<QuotedPrintableEncoder>(lineLength, suppressCrlf);
}

std::unique_ptr<kz::Codec> MakeQuotedPrintableDecoder() {
  return std::make_unique<QuotedPrintableDecoder>();
}
