#include "smtp/clAuthUtils.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <stdexcept>

namespace kz {

std::string Base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

}  // namespace

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
  if (text.size() % 4 != 0)
    return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + static_cast<std::size_t>(k)];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0)
        return std::nullopt;  // data after padding
      v[k] = Base64Value(c);
      if (v[k] < 0)
        return std::nullopt;
    }
    const std::uint32_t group =
        (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
        (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
    // Bits that padding leaves over must be zero (RFC 4648 3.5, canonical encoding).
    if ((pad == 1 && (group & 0xFF) != 0) || (pad == 2 && (group & 0xFFFF) != 0))
      return std::nullopt;
    out.push_back(static_cast<char>(group >> 16));
    if (pad < 2)
      out.push_back(static_cast<char>((group >> 8) & 0xFF));
    if (pad < 1)
      out.push_back(static_cast<char>(group & 0xFF));
  }
  return out;
}

TclDigest16 HmacMd5(std::string_view key, std::string_view data) {
  TclDigest16 digest{};
  unsigned int length = 0;
  if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(),
           &length) == nullptr ||
      length != digest.size()) {
    throw std::runtime_error("HMAC-MD5 is not available");
  }
  return digest;
}

std::string HmacMd5Hex(std::string_view key, std::string_view data) {
  static constexpr char kLowerHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : HmacMd5(key, data)) {
    out += kLowerHex[b >> 4];
    out += kLowerHex[b & 15];
  }
  return out;
}

std::string DigestBytes(const TclDigest16& digest) {
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

namespace {

std::uint32_t Rotl(std::uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}

void Md4Block(std::uint32_t state[4], const unsigned char* block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<std::uint32_t>(block[i * 4]) |
           (static_cast<std::uint32_t>(block[i * 4 + 1]) << 8) |
           (static_cast<std::uint32_t>(block[i * 4 + 2]) << 16) |
           (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  auto f = [](std::uint32_t x_, std::uint32_t y, std::uint32_t z) { return (x_ & y) | (~x_ & z); };
  auto g = [](std::uint32_t x_, std::uint32_t y, std::uint32_t z) {
    return (x_ & y) | (x_ & z) | (y & z);
  };
  auto h = [](std::uint32_t x_, std::uint32_t y, std::uint32_t z) { return x_ ^ y ^ z; };
  static constexpr int r1[4] = {3, 7, 11, 19};
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t t = Rotl(a + f(b, c, d) + x[i], r1[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int r2[4] = {3, 5, 9, 13};
  static constexpr int o2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t t = Rotl(a + g(b, c, d) + x[o2[i]] + 0x5A827999u, r2[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  static constexpr int r3[4] = {3, 9, 11, 15};
  static constexpr int o3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t t = Rotl(a + h(b, c, d) + x[o3[i]] + 0x6ED9EBA1u, r3[i % 4]);
    a = d, d = c, c = b, b = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

TclDigest16 Md4(std::string_view data) {
  std::uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t left = data.size();
  while (left >= 64) {
    Md4Block(state, p);
    p += 64;
    left -= 64;
  }
  unsigned char tail[128] = {};
  std::memcpy(tail, p, left);
  tail[left] = 0x80;
  const std::size_t tailSize = left < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 0; i < 8; ++i)
    tail[tailSize - 8 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
  Md4Block(state, tail);
  if (tailSize == 128)
    Md4Block(state, tail + 64);
  TclDigest16 digest{};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k)
      digest[static_cast<std::size_t>(i * 4 + k)] = static_cast<unsigned char>(state[i] >> (8 * k));
  return digest;
}

}  // namespace kz
