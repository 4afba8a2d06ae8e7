#include "net/clSocketError.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "core/StringUtils.h"

namespace kz {

int GaiErrorCode(int gaiResult, int savedErrno) {
  if (gaiResult == EAI_SYSTEM && savedErrno != 0)
    return savedErrno;
  return kGaiErrorBase + (gaiResult < 0 ? -gaiResult : gaiResult);
}

std::string SocketErrorText(int errorCode) {
  if (errorCode > kGaiErrorBase) {
    return std::string(Trim(gai_strerror(-(errorCode - kGaiErrorBase))));
  }
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not live in buffer.
  const char* text = strerror_r(errorCode, buffer, sizeof buffer);
  return std::string(Trim(text));
}

void RaiseSocketError(int errorCode) {
  throw EclSocketError(SocketErrorText(errorCode), errorCode);
}

void RaiseSocketError(std::string_view message, int errorCode) {
  throw EclSocketError(std::string(message), errorCode);
}

void RaiseLastSocketError() {
  RaiseSocketError(errno);
}

}  // namespace kz
