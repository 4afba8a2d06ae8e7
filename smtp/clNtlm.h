// NTLM messages for the client side of an NTLM log-in (MS-NLMP): the NEGOTIATE message,
// the parser of the server's CHALLENGE message, and the AUTHENTICATE message with an
// NTLMv2 response. Names, domains and passwords are UTF-8 text and go out as UTF-16LE.
// The parser never reads past the message: a field whose offset or length points outside
// it, or a malformed target-information list, is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "smtp/clAuthUtils.h"

namespace kz {

inline constexpr std::uint32_t kNtlmNegotiateUnicode = 0x00000001;
inline constexpr std::uint32_t kNtlmNegotiateOem = 0x00000002;
inline constexpr std::uint32_t kNtlmRequestTarget = 0x00000004;
inline constexpr std::uint32_t kNtlmNegotiateNtlm = 0x00000200;
inline constexpr std::uint32_t kNtlmAlwaysSign = 0x00008000;
inline constexpr std::uint32_t kNtlmExtendedSessionSecurity = 0x00080000;
inline constexpr std::uint32_t kNtlmTargetInfo = 0x00800000;
inline constexpr std::uint32_t kNtlm128 = 0x20000000;
inline constexpr std::uint32_t kNtlm56 = 0x80000000;
// The flags this client asks for.
inline constexpr std::uint32_t kNtlmClientFlags =
    kNtlmNegotiateUnicode | kNtlmNegotiateOem | kNtlmRequestTarget | kNtlmNegotiateNtlm |
    kNtlmAlwaysSign | kNtlmExtendedSessionSecurity | kNtlm128 | kNtlm56;

inline constexpr std::size_t kNtlmMaxMessage = 65536;
inline constexpr std::size_t kNtlmMaxTargetInfo = 60000;

struct TclNtlmChallenge {
  std::uint32_t Flags = 0;
  std::string ServerChallenge;  // 8 bytes
  std::string TargetInfo;       // the raw AV_PAIR list (may be empty)
  // The MsvAvTimestamp pair of the target information, when the server sent one.
  std::optional<std::uint64_t> Timestamp;
};

struct TclNtlmV2Result {
  std::string NtChallengeResponse;  // NTProofStr followed by the client blob
  std::string NtProofStr;
  std::string SessionBaseKey;
};

std::string NtlmNegotiateMessage();
// ParseNtlmChallenge gives no value for anything that is not a well-formed CHALLENGE.
std::optional<TclNtlmChallenge> ParseNtlmChallenge(std::string_view message);

// NtHash: MD4 of the UTF-16LE password (NTOWFv1).
TclDigest16 NtHash(std::string_view password);
// NtowfV2: HMAC-MD5 over the upper-cased user name and the domain (UTF-16LE), keyed with
// the NT hash.
TclDigest16 NtowfV2(std::string_view user, std::string_view password, std::string_view domain);
TclNtlmV2Result NtlmV2Response(const TclDigest16& responseKey, std::string_view serverChallenge,
                               std::string_view clientChallenge, std::uint64_t timestamp,
                               std::string_view targetInfo);
// LmV2Response: HMAC-MD5 over both challenges, followed by the client challenge.
std::string LmV2Response(const TclDigest16& responseKey, std::string_view serverChallenge,
                         std::string_view clientChallenge);

// NtlmAuthenticateMessage answers a challenge. The client challenge (8 bytes) and the time
// stamp (100 ns units since 1601) are parameters so that the result can be checked; the
// time stamp of the challenge, when present, takes precedence (MS-NLMP 3.1.5.1.2).
std::string NtlmAuthenticateMessage(const TclNtlmChallenge& challenge, std::string_view user,
                                    std::string_view domain, std::string_view password,
                                    std::string_view workstation, std::string_view clientChallenge,
                                    std::uint64_t timestamp);

// NtlmTimestampNow: the current time in 100 ns units since 1601-01-01 UTC.
std::uint64_t NtlmTimestampNow();
// Utf16Le: UTF-8 text as UTF-16LE bytes.
std::string Utf16Le(std::string_view utf8);
// UpperCaseUnicode upper-cases every character that has a simple upper-case mapping.
std::string UpperCaseUnicode(std::string_view utf8);

}  // namespace kz
