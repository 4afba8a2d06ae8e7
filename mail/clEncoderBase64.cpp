// Base64 (RFC 2045): table-driven, whole chunks at a time.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "mail/clEncoderCodecs.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, so one lookup writes half a quartet.
struct PairTable {
  std::array<char, 4096 * 2> chars{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) {
      chars[static_cast<std::size_t>(v) * 2] = kAlphabet[v >> 6];
      chars[static_cast<std::size_t>(v) * 2 + 1] = kAlphabet[v & 63];
    }
  }
};
constexpr PairTable kPairs;

constexpr std::uint8_t kSkip = 0xFE;     // CR, LF and "=" are passed over
constexpr std::uint8_t kInvalid = 0xFF;  // anything else outside the alphabet

struct DecodeTable {
  std::array<std::uint8_t, 256> value{};
  constexpr DecodeTable() {
    for (auto& v : value)
      v = kInvalid;
    for (int i = 0; i < 64; ++i)
      value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    value['\r'] = value['\n'] = value['='] = kSkip;
  }
};
constexpr DecodeTable kDecode;

inline void EncodeTriple(const unsigned char* in, char* out) {
  const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, &kPairs.chars[(v >> 12) * 2], 2);
  std::memcpy(out + 2, &kPairs.chars[(v & 0xFFF) * 2], 2);
}

// Six bytes (the first six of an eight-byte read) to eight characters.
inline void EncodeSix(const unsigned char* in, char* out) {
  std::uint64_t w;
  std::memcpy(&w, in, 8);
  w = __builtin_bswap64(w) >> 16;  // the six bytes, most significant first
  std::uint16_t c[4];
  std::memcpy(&c[0], &kPairs.chars[((w >> 36) & 0xFFF) * 2], 2);
  std::memcpy(&c[1], &kPairs.chars[((w >> 24) & 0xFFF) * 2], 2);
  std::memcpy(&c[2], &kPairs.chars[((w >> 12) & 0xFFF) * 2], 2);
  std::memcpy(&c[3], &kPairs.chars[(w & 0xFFF) * 2], 2);
  std::memcpy(out, c, 8);
}

class Base64Encoder final : public kz::Codec {
 public:
  Base64Encoder(int lineLength, bool suppressCrlf)
      : lineChars_(lineLength), suppress_(suppressCrlf) {}

  void Update(std::string_view in, std::string& out) override {
    auto p = reinterpret_cast<const unsigned char*>(in.data());
    std::size_t n = in.size();
    if (carryLen_ > 0) {
      while (carryLen_ < 3 && n > 0) {
        carry_[carryLen_++] = *p++;
        --n;
      }
      if (carryLen_ < 3)
        return;
      char quartet[4];
      EncodeTriple(carry_, quartet);
      Put(quartet, 4, out);
      carryLen_ = 0;
    }
    const unsigned char* const end = p + n;
    std::size_t groups = n / 3;
    // Locals: stores through char* could alias the members.
    const bool suppress = suppress_;
    const int lineChars = lineChars_;
    int linePos = linePos_;
    // Slices of groups are encoded into a stack buffer and appended, so the result is
    // written to its final place once (no zero-filled growth of the string first).
    constexpr std::size_t kSliceGroups = 2048;
    char buf[kSliceGroups * 4 + (kSliceGroups * 4 / 76 + 2) * 2];
    while (groups > 0) {
      std::size_t slice = std::min(groups, kSliceGroups);
      groups -= slice;
      char* o = buf;
      while (slice > 0) {
        if (!suppress && linePos == lineChars) {
          *o++ = '\r';
          *o++ = '\n';
          linePos = 0;
        }
        std::size_t k = slice;
        if (!suppress)
          k = std::min<std::size_t>(k, static_cast<std::size_t>(lineChars - linePos) / 4);
        std::size_t left = k;
        // Two groups, read as one eight-byte word, give eight characters in one store.
        while (left >= 2 && p + 8 <= end) {
          EncodeSix(p, o);
          p += 6;
          o += 8;
          left -= 2;
        }
        for (; left > 0; --left, p += 3, o += 4)
          EncodeTriple(p, o);
        linePos += static_cast<int>(k * 4);
        slice -= k;
        if (suppress)
          linePos = 0;
      }
      out.append(buf, static_cast<std::size_t>(o - buf));
    }
    linePos_ = linePos;
    const std::size_t rest = n % 3;
    for (std::size_t i = 0; i < rest; ++i)
      carry_[carryLen_++] = p[i];
  }

  void Finish(std::string& out) override {
    if (carryLen_ == 0)
      return;
    unsigned char last[3] = {carry_[0], carryLen_ > 1 ? carry_[1] : std::uint8_t{0}, 0};
    char quartet[4];
    EncodeTriple(last, quartet);
    quartet[3] = '=';
    if (carryLen_ == 1)
      quartet[2] = '=';
    Put(quartet, 4, out);
    carryLen_ = 0;
  }

 private:
  void Put(const char* quartet, std::size_t len, std::string& out) {
    if (!suppress_ && linePos_ == lineChars_) {
      out += "\r\n";
      linePos_ = 0;
    }
    out.append(quartet, len);
    linePos_ += static_cast<int>(len);
  }

  int lineChars_;
  bool suppress_;
  int linePos_ = 0;
  unsigned char carry_[3] = {};
  int carryLen_ = 0;
};

class Base64Decoder final : public kz::Codec {
 public:
  void Update(std::string_view in, std::string& out) override {
    auto p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    const std::size_t old = out.size();
    out.resize(old + n / 4 * 3 + 3);
    char* const begin = out.data();
    char* o = begin + old;
    std::size_t i = 0;
    while (i < n) {
      if (pos_ == 0) {
        // Whole clean quartets: the common case, four lookups and one test.
        while (i + 4 <= n) {
          const std::uint32_t a = kDecode.value[p[i]], b = kDecode.value[p[i + 1]],
                              c = kDecode.value[p[i + 2]], d = kDecode.value[p[i + 3]];
          if ((a | b | c | d) & 0x80)
            break;
          const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
          o[0] = static_cast<char>(v >> 16);
          o[1] = static_cast<char>(v >> 8);
          o[2] = static_cast<char>(v);
          o += 3;
          i += 4;
        }
        if (i >= n)
          break;
      }
      const std::uint8_t v = kDecode.value[p[i]];
      ++i;
      if (v == kSkip)
        continue;
      if (v == kInvalid) {
        out.resize(static_cast<std::size_t>(o - begin));
        throw EclEncoderError(kWrongSymbols);
      }
      value_ = (value_ << 6) | v;
      if (++pos_ == 4) {
        o[0] = static_cast<char>(value_ >> 16);
        o[1] = static_cast<char>(value_ >> 8);
        o[2] = static_cast<char>(value_);
        o += 3;
        pos_ = 0;
        value_ = 0;
      }
    }
    out.resize(static_cast<std::size_t>(o - begin));
  }

  // The data bytes of an incomplete final quartet: two characters give one byte, three two.
  void Finish(std::string& out) override {
    if (pos_ == 2) {
      out.push_back(static_cast<char>(value_ >> 4));
    } else if (pos_ == 3) {
      out.push_back(static_cast<char>(value_ >> 10));
      out.push_back(static_cast<char>(value_ >> 2));
    }
    pos_ = 0;
    value_ = 0;
  }

 private:
  int pos_ = 0;  // characters of the current quartet seen so far
  std::uint32_t value_ = 0;
};

}  // namespace

std::unique_ptr<kz::Codec> MakeBase64Encoder(int lineLength, bool suppressCrlf) {
  return std::make_unique<Base64Encoder>(lineLength, suppressCrlf);
}

std::unique_ptr<kz::Codec> MakeBase64Decoder() {
  return std::make_unique<Base64Decoder>();
}
