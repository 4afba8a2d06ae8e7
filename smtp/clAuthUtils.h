// Building blocks of the SMTP log-in mechanisms: base64 without line breaks and a strict
// decoder for server challenges (RFC 4648), HMAC-MD5 (RFC 2104, over OpenSSL) and MD4
// (RFC 1320; OpenSSL 3 keeps MD4 only in its legacy provider, so it is computed here).
// Every argument and result is raw bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kz {

std::string Base64Encode(std::string_view bytes);
// Base64DecodeStrict accepts only the standard alphabet in groups of four with correct
// padding (surrounding white space is not allowed); anything else gives no value.
std::optional<std::string> Base64DecodeStrict(std::string_view text);

using TclDigest16 = std::array<unsigned char, 16>;

TclDigest16 HmacMd5(std::string_view key, std::string_view data);
// HmacMd5Hex: the digest as 32 lower-case hex digits (the CRAM-MD5 answer, RFC 2195).
std::string HmacMd5Hex(std::string_view key, std::string_view data);
TclDigest16 Md4(std::string_view data);

std::string DigestBytes(const TclDigest16& digest);

}  // namespace kz
