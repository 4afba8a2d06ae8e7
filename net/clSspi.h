// The security-context base shared by TLS and the log-in mechanisms: the outcome of every
// context step (TclSspiReturnCode), the provider's status codes and their fixed texts, and
// EclSSPIError, which carries such a status.
//
// Status codes are the 32-bit provider statuses (0x8009xxxx, certificate-policy 0x800Bxxxx)
// held in an int, so 0x800B0109 reads as a negative number; the stack's own conditions are
// small negative numbers (-1 .. -17).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Error.h"

enum TclSspiReturnCode {
  rcOK,
  rcError,
  rcReAuthNeeded,
  rcAuthContinueNeeded,
  rcAuthDataNeeded,
  rcAuthMoreDataNeeded,
  rcCompleteNeeded,
  rcContinueNeeded,
  rcClosingNeeded,
  rcMoreDataNeeded,
  rcEncodeNeeded,
  rcContinueAndMoreDataNeeded,
  rcCredentialNeeded
};

namespace kz {

constexpr int StatusCode(std::uint32_t status) {
  return static_cast<int>(status);
}

inline constexpr int kSecIContinueNeeded = StatusCode(0x00090312);
inline constexpr int kSecICompleteNeeded = StatusCode(0x00090313);
inline constexpr int kSecIContextExpired = StatusCode(0x00090317);
inline constexpr int kSecIIncompleteCredentials = StatusCode(0x00090320);
inline constexpr int kSecIRenegotiate = StatusCode(0x00090321);
inline constexpr int kSecEIncompleteMessage = StatusCode(0x80090318);
inline constexpr int kSecEInvalidHandle = StatusCode(0x80090301);
inline constexpr int kSecEInvalidToken = StatusCode(0x80090308);
inline constexpr int kSecEIllegalMessage = StatusCode(0x80090326);
inline constexpr int kSecEDecryptFailure = StatusCode(0x80090330);
inline constexpr int kSecEAlgorithmMismatch = StatusCode(0x80090331);

inline constexpr int kCertEExpired = StatusCode(0x800B0101);
inline constexpr int kCertERole = StatusCode(0x800B0103);
inline constexpr int kCertEPathLenConst = StatusCode(0x800B0104);
inline constexpr int kCertECritical = StatusCode(0x800B0105);
inline constexpr int kCertEPurpose = StatusCode(0x800B0106);
inline constexpr int kCertEMalformed = StatusCode(0x800B0108);
inline constexpr int kCertEUntrustedRoot = StatusCode(0x800B0109);
inline constexpr int kCertEChaining = StatusCode(0x800B010A);
inline constexpr int kTrustEFail = StatusCode(0x800B010B);
inline constexpr int kCertERevoked = StatusCode(0x800B010C);
inline constexpr int kCertERevocationFailure = StatusCode(0x800B010E);
inline constexpr int kCertECnNoMatch = StatusCode(0x800B010F);
inline constexpr int kCertEWrongUsage = StatusCode(0x800B0110);

inline constexpr int kOutOfMemoryCode = 20;
inline constexpr int kNotSupportedCode = -12;
inline constexpr int kServerAuthErrorCode = -11;
inline constexpr int kLocalCertificateCode = -9;
inline constexpr int kRemoteCertificateCode = -8;
inline constexpr int kPackageInfoCode = -6;
inline constexpr int kAcquireCredentialsCode = -4;
// Our own: bytes that are not TLS arrived where the server's first handshake record belongs.
inline constexpr int kPlainDataBeforeHandshakeCode = -13;
// Our own: the connection ended inside a TLS record or handshake.
inline constexpr int kTruncatedCode = -14;
// Our own: the server's answer to the first handshake message of a connection is not TLS
// (a port that speaks plain text first, such as SMTP's 25 and 587).
inline constexpr int kNotTlsCode = -15;
// Our own: every TLS version the server offers is one that this client does not use, or
// the other way round.
inline constexpr int kNoCommonVersionCode = -16;
// Our own: the server ended the session with a TLS alert that no other status describes.
inline constexpr int kPeerAlertCode = -17;

// SspiErrorText is the fixed text of a status or own code; a code without an entry reads
// "The unknown error was occured: <hex>".
std::string SspiErrorText(int code);

}  // namespace kz

// EclSSPIError: a failure of the security context. ErrorCode is the status; what() is its
// text from the table. Detail, when not empty, is the TLS library's own reason (for a
// handshake that the peer or the library refused), shown after the text by callers that
// print errors for people.
class EclSSPIError : public EclError {
 public:
  explicit EclSSPIError(int code, std::string detail = {})
      : EclError(kz::SspiErrorText(code), code), Detail(std::move(detail)) {}

  std::string Detail;
};

// TclSspi is the base of the security contexts. It maps provider statuses to return codes:
// success and the informational statuses become their TclSspiReturnCode, anything else
// raises EclSSPIError with that status.
class TclSspi {
 public:
  TclSspi();
  virtual ~TclSspi() = default;
  TclSspi(const TclSspi&) = delete;
  TclSspi& operator=(const TclSspi&) = delete;

  static TclSspiReturnCode MapStatus(int status, std::string_view detail = {});
};
