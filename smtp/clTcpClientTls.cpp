// The TLS side of TclTcpClient: the TLS stream with the client's settings, and the
// certificate events it forwards.
#include "smtp/clTcpClient.h"

#include "core/Store.h"
std::unique_ptr<TclNetworkStream> TclTcpClient::CreateTlsStream() {
  auto tls = std::make_unique<TclTlsNetworkStream>();
  tls->SetCertificateFlags(FCertificateFlags);
  tls->SetTLSFlags(FTLSFlags);
  tls->SetTargetName(FServer);
  tls->OnGetCertificate = [this](void*, TclCertificate*& ACertificate,
                                 TclCertificateList& AExtraCerts, bool& Handled) {
    DoGetCertificate(ACertificate, AExtraCerts, Handled);
  };
  tls->OnVerifyPeer = [this](void*, TclCertificate* ACertificate, const std::string& AStatusText,
                             int AStatusCode, bool& AVerified) {
    DoVerifyServer(ACertificate, AStatusText, AStatusCode, AVerified);
  };
  return tls;
}

bool TclTcpClient::IsTls() const {
  return dynamic_cast<const TclTlsNetworkStream*>(FConnection.NetworkStream()) != nullptr;
}

void TclTcpClient::SetCertificateFlags(TclCertificateVerifyFlags value) {
  if (kz::Store(FCertificateFlags, value))
    DoChanged();
}

void TclTcpClient::SetTLSFlags(TclTlsFlags value) {
  if (kz::Store(FTLSFlags, value))
    DoChanged();
}

void TclTcpClient::DoGetCertificate(TclCertificate*& ACertificate, TclCertificateList& AExtraCerts,
                                    bool& Handled) {
  if (OnGetCertificate)
    OnGetCertificate(this, ACertificate, AExtraCerts, Handled);
}

void TclTcpClient::DoVerifyServer(TclCertificate* ACertificate, const std::string& AStatusText,
                                  int AStatusCode, bool& AVerified) {
  if (OnVerifyServer)
    OnVerifyServer(this, ACertificate, AStatusText, AStatusCode, AVerified);
}
