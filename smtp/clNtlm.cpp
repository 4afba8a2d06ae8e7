#include "smtp/clNtlm.h"

#include <locale.h>
#include <wctype.h>

#include <chrono>

#include "core/Utf.h"

namespace kz {

namespace {

constexpr std::string_view kSignature{"NTLMSSP\0", 8};
constexpr std::uint16_t kAvEol = 0;
constexpr std::uint16_t kAvTimestamp = 7;

void PutU16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetU(std::string_view s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return v;
}

// A field descriptor (length, maximum length, offset) whose bytes must lie in the message.
std::optional<std::string_view> Field(std::string_view message, std::size_t at) {
  if (at + 8 > message.size())
    return std::nullopt;
  const std::uint64_t length = GetU(message, at, 2);
  const std::uint64_t offset = GetU(message, at + 4, 4);
  if (length == 0)
    return std::string_view{};
  if (offset > message.size() || length > message.size() - offset)
    return std::nullopt;
  return message.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

// ParseAvPairs walks the list up to MsvAvEol; every pair must fit in the list.
bool ParseAvPairs(std::string_view info, TclNtlmChallenge& challenge) {
  std::size_t at = 0;
  while (at + 4 <= info.size()) {
    const std::uint16_t id = static_cast<std::uint16_t>(GetU(info, at, 2));
    const std::size_t length = GetU(info, at + 2, 2);
    at += 4;
    if (length > info.size() - at)
      return false;
    if (id == kAvEol)
      return true;
    if (id == kAvTimestamp) {
      if (length != 8)
        return false;
      challenge.Timestamp = static_cast<std::uint64_t>(GetU(info, at, 4)) |
                            (static_cast<std::uint64_t>(GetU(info, at + 4, 4)) << 32);
    }
    at += length;
  }
  return false;  // no MsvAvEol
}

}  // namespace

std::string Utf16Le(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t u : units)
    PutU16(out, static_cast<std::uint16_t>(u));
  return out;
}

std::string UpperCaseUnicode(std::string_view utf8) {
  static const locale_t utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::string out;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = DecodeUtf8(utf8, pos);
    if (cp >= 'a' && cp <= 'z')
      cp -= 'a' - 'A';
    else if (cp > 127 && utf8Locale != nullptr)
      cp = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8Locale));
    AppendUtf8(out, cp);
  }
  return out;
}

std::string NtlmNegotiateMessage() {
  std::string out(kSignature);
  PutU32(out, 1);
  PutU32(out, kNtlmClientFlags);
  // Empty domain and workstation fields; their offsets point at the end of the header.
  for (int i = 0; i < 2; ++i) {
    PutU16(out, 0);
    PutU16(out, 0);
    PutU32(out, 32);
  }
  return out;
}

std::optional<TclNtlmChallenge> ParseNtlmChallenge(std::string_view message) {
  if (message.size() < 32 || message.size() > kNtlmMaxMessage ||
      message.substr(0, 8) != kSignature || GetU(message, 8, 4) != 2) {
    return std::nullopt;
  }
  if (!Field(message, 12))
    return std::nullopt;  // the target name lies outside the message
  TclNtlmChallenge challenge;
  challenge.Flags = GetU(message, 20, 4);
  challenge.ServerChallenge = std::string(message.substr(24, 8));
  // The target information follows the 8 reserved bytes; older servers end before it.
  if (message.size() >= 48) {
    const std::optional<std::string_view> info = Field(message, 40);
    // The answer repeats the list in a field of 16-bit length: it must fit there.
    if (!info || info->size() > kNtlmMaxTargetInfo)
      return std::nullopt;
    if (!info->empty()) {
      if (!ParseAvPairs(*info, challenge))
        return std::nullopt;
      challenge.TargetInfo = std::string(*info);
    }
  } else if (challenge.Flags & kNtlmTargetInfo) {
    return std::nullopt;
  }
  return challenge;
}

TclDigest16 NtHash(std::string_view password) {
  return Md4(Utf16Le(password));
}

TclDigest16 NtowfV2(std::string_view user, std::string_view password, std::string_view domain) {
  const TclDigest16 hash = NtHash(password);
  return HmacMd5(std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size()),
                 Utf16Le(UpperCaseUnicode(user)) + Utf16Le(domain));
}

namespace {

std::string_view KeyView(const TclDigest16& key) {
  return {reinterpret_cast<const char*>(key.data()), key.size()};
}

}  // namespace

TclNtlmV2Result NtlmV2Response(const TclDigest16& responseKey, std::string_view serverChallenge,
                               std::string_view clientChallenge, std::uint64_t timestamp,
                               std::string_view targetInfo) {
  std::string temp;
  temp.push_back('\x01');  // RespType
  temp.push_back('\x01');  // HiRespType
  temp.append(6, '\0');    // Reserved1, Reserved2
  PutU64(temp, timestamp);
  temp.append(clientChallenge);
  temp.append(4, '\0');  // Reserved3
  temp.append(targetInfo);
  temp.append(4, '\0');
  TclNtlmV2Result result;
  result.NtProofStr =
      DigestBytes(HmacMd5(KeyView(responseKey), std::string(serverChallenge) + temp));
  result.NtChallengeResponse = result.NtProofStr + temp;
  result.SessionBaseKey = DigestBytes(HmacMd5(KeyView(responseKey), result.NtProofStr));
  return result;
}

std::string LmV2Response(const TclDigest16& responseKey, std::string_view serverChallenge,
                         std::string_view clientChallenge) {
  return DigestBytes(HmacMd5(KeyView(responseKey),
                             std::string(serverChallenge) + std::string(clientChallenge))) +
         std::string(clientChallenge);
}

std::string NtlmAuthenticateMessage(const TclNtlmChallenge& challenge, std::string_view user,
                                    std::string_view domain, std::string_view password,
                                    std::string_view workstation, std::string_view clientChallenge,
                                    std::uint64_t timestamp) {
  const TclDigest16 key = NtowfV2(user, password, domain);
  const std::uint64_t stamp = challenge.Timestamp.value_or(timestamp);
  const TclNtlmV2Result nt =
      NtlmV2Response(key, challenge.ServerChallenge, clientChallenge, stamp, challenge.TargetInfo);
  // With a server time stamp the LM response is left empty (zeros), as MS-NLMP advises.
  const std::string lm = challenge.Timestamp
                             ? std::string(24, '\0')
                             : LmV2Response(key, challenge.ServerChallenge, clientChallenge);
  const std::string domainBytes = Utf16Le(domain);
  const std::string userBytes = Utf16Le(user);
  const std::string workstationBytes = Utf16Le(workstation);

  constexpr std::uint32_t kHeader = 64;
  std::string payload;
  std::string out(kSignature);
  PutU32(out, 3);
  auto field = [&](const std::string& bytes) {
    PutU16(out, static_cast<std::uint16_t>(bytes.size()));
    PutU16(out, static_cast<std::uint16_t>(bytes.size()));
    PutU32(out, kHeader + static_cast<std::uint32_t>(payload.size()));
    payload += bytes;
  };
  field(lm);
  field(nt.NtChallengeResponse);
  field(domainBytes);
  field(userBytes);
  field(workstationBytes);
  field(std::string());  // no encrypted random session key: no key exchange was asked for
  const std::uint32_t flags = (kNtlmClientFlags & challenge.Flags & ~kNtlmNegotiateOem) |
                              kNtlmNegotiateUnicode | kNtlmNegotiateNtlm;
  PutU32(out, flags);
  return out + payload;
}

std::uint64_t NtlmTimestampNow() {
  using namespace std::chrono;
  constexpr std::uint64_t kEpochDelta = 11644473600ULL;  // 1601-01-01 to 1970-01-01, seconds
  const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return (static_cast<std::uint64_t>(now) + kEpochDelta * 1000000ULL) * 10ULL;
}

}  // namespace kz
