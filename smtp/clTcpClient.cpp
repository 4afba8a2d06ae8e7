#include "smtp/clTcpClient.h"

#include "core/Store.h"
#include "net/clSocks.h"

using namespace kz;

TclTcpClient::TclTcpClient(int ADefaultPort)
    : FPort(ADefaultPort), FTimer([this] { KeepAliveTick(); }) {
  FConnection.SetBatchSize(8192);
  FConnection.SetTimeOut(60000);
  FConnection.SetBitsPerSec(0);
}

TclTcpClient::~TclTcpClient() {
  try {
    Close();
  } catch (const EclError&) {
    // A destructor reports nothing; the connection below closes its socket regardless.
  }
}

void TclTcpClient::DoChanged() {
  if (OnChanged)
    OnChanged(this);
}

void TclTcpClient::DoOpen() {
  if (OnOpen)
    OnOpen(this);
}

void TclTcpClient::DoClose() {
  if (OnClose)
    OnClose(this);
}

void TclTcpClient::SetServer(std::string_view value) {
  if (kz::Store(FServer, value))
    DoChanged();
}

void TclTcpClient::SetPort(int value) {
  if (kz::Store(FPort, value))
    DoChanged();
}

void TclTcpClient::SetLocalBinding(std::string_view value) {
  if (kz::Store(FConnection.LocalBinding(), value,
                [this](auto v) { FConnection.SetLocalBinding(v); }))
    DoChanged();
}

void TclTcpClient::SetBatchSize(int value) {
  if (kz::Store(FConnection.BatchSize(), value, [this](auto v) { FConnection.SetBatchSize(v); }))
    DoChanged();
}

void TclTcpClient::SetTimeOut(int value) {
  if (kz::Store(FConnection.TimeOut(), value, [this](auto v) { FConnection.SetTimeOut(v); }))
    DoChanged();
}

void TclTcpClient::SetUseTLS(TclClientTlsMode value) {
  if (kz::Store(FUseTLS, value))
    DoChanged();
}

void TclTcpClient::SetBitsPerSec(int value) {
  if (kz::Store(FConnection.BitsPerSec(), value, [this](auto v) { FConnection.SetBitsPerSec(v); }))
    DoChanged();
}

void TclTcpClient::SetKeepAlive(int value) {
  if (kz::Store(FKeepAlive, value))
    DoChanged();
}

void TclTcpClient::CheckConnected() const {
  if (!FConnection.Active())
    RaiseSocketError(kNotActiveText, kNotActiveCode);
}

void TclTcpClient::Open() {
  if (Active())
    return;
  try {
    InternalOpen();
    StartKeepAliveTimer();
    DoOpen();
  } catch (...) {
    CleanUpAfterFailure();
    throw;
  }
}

void TclTcpClient::CleanUpAfterFailure() {
  InProgressGuard guard(FInProgress);
  try {
    Close();
  } catch (const EclSocketError&) {
  }
}

void TclTcpClient::InternalOpen() {
  if (BatchSize() < 1)
    RaiseSocketError(kInvalidBatchSizeText, kInvalidBatchSizeCode);
  OpenConnection(FServer, FPort);
}

void TclTcpClient::OpenConnection(std::string_view AServer, int APort) {
  FConnection.SetNetworkStream(nullptr);
  const bool implicitTls =
      FUseTLS == ctImplicit || (FUseTLS == ctAutomatic && !IsStartTlsPort(FPort));
  std::unique_ptr<TclNetworkStream> stream =
      implicitTls ? CreateTlsStream() : std::make_unique<TclNetworkStream>();
  if (!FFirewallSettings.Server.empty()) {
    FConnection.SetNetworkStream(CreateSocksStream(std::move(stream), AServer, APort));
    const std::string proxy = FIPResolver.GetIPAddress(FFirewallSettings.Server, TimeOut());
    FConnection.Open(proxy, FFirewallSettings.Port);
  } else {
    FConnection.SetNetworkStream(std::move(stream));
    const std::string address = FIPResolver.GetIPAddress(AServer, TimeOut());
    FConnection.Open(address, APort);
  }
  SetNoDelay();
}

std::unique_ptr<TclNetworkStream> TclTcpClient::CreateSocksStream(
    std::unique_ptr<TclNetworkStream> inner, std::string_view AServer, int APort) {
  std::unique_ptr<TclSocksNetworkStream> socks;
  switch (FFirewallSettings.FirewallType) {
    case ftSocks4:
      socks = std::make_unique<TclSocks4NetworkStream>(std::move(inner));
      break;
    case ftSocks5:
      socks = std::make_unique<TclSocks5NetworkStream>(std::move(inner));
      break;
    default:
      throw EclTcpClientError(std::string(kUnsupportedFirewallText), kUnsupportedFirewallCode);
  }
  socks->SetTargetPort(static_cast<std::uint16_t>(APort));
  socks->SetUserName(FFirewallSettings.UserName);
  socks->SetPassword(FFirewallSettings.Password);
  if (FFirewallSettings.NeedResolveIP)
    socks->SetTargetServer(AServer);
  else
    socks->SetTargetServer(FIPResolver.GetIPAddress(AServer, TimeOut()));
  return socks;
}

// Commands are short and wait for their reply: each goes out at once.
void TclTcpClient::SetNoDelay() {
  if (FConnection.Active())
    FConnection.SetNoDelay();
}

bool TclTcpClient::ExplicitStartTls() {
  const bool result = (FUseTLS == ctAutomatic && IsStartTlsPort(FPort)) || FUseTLS == ctExplicit;
  if (result)
    StartTls();
  return result;
}

void TclTcpClient::StartTls() {
  if (FUseTLS == ctNone)
    SetUseTLS(ctExplicit);
  try {
    FConnection.SetNetworkStream(CreateTlsStream());
    FConnection.OpenSession();
  } catch (...) {
    CleanUpAfterFailure();
    throw;
  }
}

void TclTcpClient::Close() {
  StopKeepAliveTimer();
  FIPResolver.Abort();
  const bool wasActive = Active();
  InternalClose();
  if (wasActive)
    DoClose();
}

void TclTcpClient::InternalClose() {
  FConnection.Close(true);
}

void TclTcpClient::StartKeepAliveTimer() {
  if (FKeepAlive > 0)
    FTimer.Start(FKeepAlive);
}

void TclTcpClient::StopKeepAliveTimer() {
  FTimer.Stop();
}

// A tick that finds the client in the middle of an exchange waits for the next one: a
// keep-alive command between a command and its reply would corrupt the dialogue.
void TclTcpClient::KeepAliveTick() {
  StopKeepAliveTimer();
  if (!FInProgress && Active()) {
    try {
      SendKeepAlive();
    } catch (const std::exception&) {
    }
  }
  StartKeepAliveTimer();
}
