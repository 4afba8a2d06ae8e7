// The TLS side of TclTcpClient: the stream a TLS connection uses.
#include "smtp/clTcpClient.h"

std::unique_ptr<TclNetworkStream> TclTcpClient::CreateTlsStream() {
  throw EclTcpClientError("TLS is not available in this build", -106);
}

bool TclTcpClient::IsTls() const {
  return false;
}
