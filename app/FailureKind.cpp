#include "app/FailureKind.h"

#include <netdb.h>

#include <cerrno>

#include "core/Error.h"
#include "net/clCryptUtils.h"
#include "net/clSocketError.h"
#include "net/clSocks.h"
#include "net/clSspi.h"
#include "smtp/clTcpClient.h"

namespace retry {

namespace {

// Transport failures that mean "the network or the server is not there right now".
bool IsPassingSocketError(int code) {
  if (code == kz::kTimeoutErrorCode || code == kz::kNotActiveCode)
    return true;
  if (code > kz::kGaiErrorBase) {
    // ErrorCode = kGaiErrorBase - EAI_x (glibc's EAI codes are negative).
    switch (kz::kGaiErrorBase - code) {
      case EAI_AGAIN:
      case EAI_FAIL:
      case EAI_NONAME:
      case EAI_NODATA:
      case EAI_ADDRFAMILY:
      case EAI_MEMORY:
        return true;
      default:
        return false;  // bad flags, family, service: our own request is wrong
    }
  }
  switch (code) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
    case ENETRESET:
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case EADDRNOTAVAIL:  // no address on any interface yet
    case ECANCELED:      // a lookup given up half-way
    case EAGAIN:
    case ENOBUFS:
    case ENOMEM:
      return true;
    default:
      return false;
  }
}

// TLS statuses of a session cut or garbled on the way, not refused by either side.
bool IsPassingTlsError(int code) {
  return code == kz::kTruncatedCode || code == kz::kSecEIllegalMessage ||
         code == kz::kSecEDecryptFailure || code == kz::kSecEIncompleteMessage;
}

// SOCKS replies that tell of the network beyond the proxy: 1 general failure is left out, as
// it is also the status byte of a refused proxy log-in.
bool IsPassingProxyError(int code) {
  switch (code) {
    case 3:   // network unreachable
    case 4:   // host unreachable
    case 5:   // connection refused
    case 6:   // TTL expired
    case 91:  // SOCKS4: request rejected or failed
      return true;
    default:
      return false;
  }
}

}  // namespace

FailureSource SourceOf(const std::exception& error) {
  if (dynamic_cast<const EclTcpClientError*>(&error) != nullptr)
    return FailureSource::kServerReply;
  if (dynamic_cast<const EclSocksFirewallError*>(&error) != nullptr)
    return FailureSource::kProxy;
  if (dynamic_cast<const EclSocketError*>(&error) != nullptr)
    return FailureSource::kSocket;
  if (dynamic_cast<const EclSSPIError*>(&error) != nullptr)
    return FailureSource::kTls;
  if (dynamic_cast<const EclCryptError*>(&error) != nullptr)
    return FailureSource::kCertificate;
  return FailureSource::kOther;
}

FailureKind ClassifyFailure(FailureSource source, int errorCode, SendStage stage) {
  if (source == FailureSource::kServerReply) {
    // A reply came, so the server's word holds at every stage.
    if (errorCode >= 400 && errorCode <= 499)
      return FailureKind::kTemporary;
    // 5xx, a reply code the step does not expect, or the client's own refusal of the
    // server's words or of the settings (empty lists, bad addresses, no log-in method).
    return FailureKind::kPermanent;
  }
  bool passing = false;
  switch (source) {
    case FailureSource::kSocket:
      passing = IsPassingSocketError(errorCode);
      break;
    case FailureSource::kTls:
      passing = IsPassingTlsError(errorCode);
      break;
    case FailureSource::kProxy:
      passing = IsPassingProxyError(errorCode);
      break;
    case FailureSource::kServerReply:
    case FailureSource::kCertificate:
    case FailureSource::kOther:
      break;
  }
  // After the final dot nothing but a reply may tell what the server did.
  if (stage == SendStage::kAfterFinalDot)
    return FailureKind::kOutcomeUnknown;
  return passing ? FailureKind::kTemporary : FailureKind::kPermanent;
}

FailureKind ClassifyException(const std::exception& error, SendStage stage) {
  const auto* withCode = dynamic_cast<const EclError*>(&error);
  return ClassifyFailure(SourceOf(error), withCode != nullptr ? withCode->ErrorCode : 0, stage);
}

FailureKind ClassifyError(const std::exception_ptr& error, SendStage stage) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ClassifyException(e, stage);
  } catch (...) {
  }
  return FailureKind::kPermanent;
}

std::string_view KindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::kTemporary:
      return "temporary";
    case FailureKind::kPermanent:
      return "permanent";
    case FailureKind::kOutcomeUnknown:
      break;
  }
  return "unknown";
}

}  // namespace retry
