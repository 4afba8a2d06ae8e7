#include "net/clSspi.h"

#include <openssl/ssl.h>

#include <cstdio>

namespace kz {

namespace {

struct StatusText {
  std::uint32_t code;
  const char* text;
};

// The provider's and the certificate policy's texts, exactly as the system shows them.
constexpr StatusText kStatusTexts[] = {
    {20, "Out of memory"},
    {0x80090301, "The handle specified is invalid"},
    {0x80090302, "The function requested is not supported"},
    {0x80090303, "The specified target is unknown or unreachable"},
    {0x80090304, "The Local Security Authority cannot be contacted"},
    {0x80090305, "The requested security package does not exist"},
    {0x80090306, "The caller is not the owner of the desired credentials"},
    {0x80090307, "The security package failed to initialize, and cannot be installed"},
    {0x80090308, "The token supplied to the function is invalid"},
    {0x80090309,
     "The security package is not able to marshall the logon buffer, so the logon attempt "
     "has failed"},
    {0x8009030A, "The per-message Quality of Protection is not supported by the security package"},
    {0x8009030B, "The security context does not allow impersonation of the client"},
    {0x8009030C, "The logon attempt failed"},
    {0x8009030D, "The credentials supplied to the package were not recognized"},
    {0x8009030E, "No credentials are available in the security package"},
    {0x8009030F, "The message supplied for verification has been altered"},
    {0x80090310, "The message supplied for verification is out of sequence"},
    {0x80090311, "No authority could be contacted for authentication"},
    {0x80090316, "The requested security package does not exist"},
    {0x80090326, "The message received was unexpected or badly formatted"},
    {0x80090330, "The specified data could not be decrypted"},
    {0x80090331,
     "The client and server cannot communicate, because they do not possess a common algorithm"},
    {0x800B0101,
     "A required certificate is not within its validity period when verifying against the "
     "current system clock or the timestamp in the signed file"},
    {0x800B0102, "The validity periods of the certification chain do not nest correctly"},
    {0x800B0103,
     "A certificate that can only be used as an end-entity is being used as a CA or visa versa"},
    {0x800B0104, "A path length constraint in the certification chain has been violated"},
    {0x800B0105, "A certificate contains an unknown extension that is marked 'critical'"},
    {0x800B0106, "A certificate being used for a purpose other than the ones specified by its CA"},
    {0x800B0107, "A parent of a given certificate in fact did not issue that child certificate"},
    {0x800B0108,
     "A certificate is missing or has an empty value for an important field, such as a subject "
     "or issuer name"},
    {0x800B0109,
     "A certificate chain processed correctly, but terminated in a root certificate which is "
     "not trusted by the trust provider"},
    {0x800B010A, "An internal certificate chaining error has occurred"},
    {0x800B010B, "Generic trust failure"},
    {0x800B010C, "A certificate was explicitly revoked by its issuer"},
    {0x800B010D,
     "The certification path terminates with the test root which is not trusted with the "
     "current policy settings"},
    {0x800B010E,
     "The revocation process could not continue - the certificate(s) could not be checked"},
    {0x800B010F, "The certificate's CN name does not match the passed value"},
    {0x800B0110, "The certificate is not valid for the requested usage"},
    {static_cast<std::uint32_t>(-17), "The server ended the TLS session with an alert"},
    {static_cast<std::uint32_t>(-16),
     "The server and this client have no TLS protocol version in common"},
    {static_cast<std::uint32_t>(-15),
     "The server did not answer in TLS: this port does not take TLS from the first byte"},
    {static_cast<std::uint32_t>(-14), "The connection was closed in the middle of a TLS record"},
    {static_cast<std::uint32_t>(-13), "Unencrypted data arrived before the TLS handshake"},
    {static_cast<std::uint32_t>(-12), "Not supported."},
    {static_cast<std::uint32_t>(-11), "Error occured when authenticating server credentials"},
    {static_cast<std::uint32_t>(-10), "Error authenticating server credentials"},
    {static_cast<std::uint32_t>(-9), "Error querying local certificate"},
    {static_cast<std::uint32_t>(-8), "Error querying remote server certificate"},
    {static_cast<std::uint32_t>(-7), "Error finding certificate chain"},
    {static_cast<std::uint32_t>(-6), "Could not query package information"},
    {static_cast<std::uint32_t>(-5), "None of needed security package was found"},
    {static_cast<std::uint32_t>(-4), "AcquireCredentials failed"},
    {static_cast<std::uint32_t>(-3), "Could not initialize the security package"},
    {static_cast<std::uint32_t>(-2), "Could not get security initialization routine"},
    {static_cast<std::uint32_t>(-1),
     "Could not load the dll (schannel.dll, security.dll or secur32.dll)"},
};

}  // namespace

std::string SspiErrorText(int code) {
  const auto status = static_cast<std::uint32_t>(code);
  for (const StatusText& entry : kStatusTexts) {
    if (entry.code == status)
      return entry.text;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "The unknown error was occured: %x", status);
  return buffer;
}

}  // namespace kz

TclSspi::TclSspi() {
  // The library initialises itself on first use; asking for it here makes a broken
  // installation fail at the context's creation with the status for "cannot initialise".
  if (OPENSSL_init_ssl(0, nullptr) != 1)
    throw EclSSPIError(-3);
}

TclSspiReturnCode TclSspi::MapStatus(int status, std::string_view detail) {
  switch (status) {
    case 0:
      return rcOK;
    case kz::kSecIContinueNeeded:
      return rcContinueNeeded;
    case kz::kSecICompleteNeeded:
      return rcCompleteNeeded;
    case kz::kSecIContextExpired:
      return rcClosingNeeded;
    case kz::kSecIRenegotiate:
      return rcReAuthNeeded;
    case kz::kSecEIncompleteMessage:
      return rcMoreDataNeeded;
    default:
      throw EclSSPIError(status, std::string(detail));
  }
}
