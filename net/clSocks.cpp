#include "net/clSocks.h"

#include <cerrno>
#include <utility>

#include "core/ScopeGuard.h"
#include "core/Utf.h"
#include "net/clAddress.h"
#include "net/clConnection.h"

namespace {

[[noreturn]] void Refuse(std::string message, int code) {
  throw EclSocksFirewallError(std::move(message), code);
}

void AppendPort(std::string& out, std::uint16_t port) {
  out.push_back(static_cast<char>(port >> 8));
  out.push_back(static_cast<char>(port & 0xFF));
}

// A one-byte length followed by the bytes; longer than 255 bytes is refused, never cut.
void AppendCounted(std::string& out, std::string_view bytes, std::string_view what) {
  if (bytes.size() > 255) {
    Refuse("SOCKS error: the " + std::string(what) + " is longer than 255 bytes", EMSGSIZE);
  }
  out.push_back(static_cast<char>(bytes.size()));
  out.append(bytes);
}

// Zero-terminated text; a zero byte inside would end the field early.
void AppendTerminated(std::string& out, std::string_view bytes, std::string_view what) {
  if (bytes.find('\0') != std::string_view::npos) {
    Refuse("SOCKS error: the " + std::string(what) + " contains a zero byte", EINVAL);
  }
  out.append(bytes);
  out.push_back('\0');
}

void CheckRequestLength(const std::string& request) {
  if (request.size() > kz::kSocksMaxRequest) {
    Refuse("SOCKS error: the request is longer than 1024 bytes", EMSGSIZE);
  }
}

unsigned Byte(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

// A reply of another protocol version is no answer to our request: its code byte means
// nothing, so the error names the version instead.
void CheckVersion(std::string_view reply, unsigned want) {
  if (Byte(reply, 0) != want) {
    Refuse("SOCKS error: the proxy replied with version " + std::to_string(Byte(reply, 0)) +
               " instead of " + std::to_string(want),
           EPROTO);
  }
}

}  // namespace

namespace kz {

std::string SocksBytes(std::string_view utf8, std::string_view what) {
  std::string out;
  out.reserve(utf8.size());
  for (const char16_t unit : Utf8ToUtf16(utf8)) {
    if (unit > 0xFF) {
      Refuse("SOCKS error: the " + std::string(what) +
                 " has a character that does not fit in one byte",
             EILSEQ);
    }
    out.push_back(static_cast<char>(unit));
  }
  return out;
}

std::string Socks4ReplyText(int code) {
  switch (code) {
    case 90:
      return "Request granted";
    case 91:
      return "SOCKS error: request rejected or failed";
    case 92:
      return "SOCKS error: request rejected becasue SOCKS server cannot connect to identd on the "
             "client";
    case 93:
      return "SOCKS error: request rejected because the client program and identd report "
             "different user-ids";
    default:
      return "Unknown SOCKS error occured";
  }
}

std::string Socks5ReplyText(int code) {
  switch (code) {
    case 0:
      return "Succeeded";
    case 1:
      return "General SOCKS server failure";
    case 2:
      return "SOCKS error: connection not allowed by ruleset";
    case 3:
      return "SOCKS error: Network unreachable";
    case 4:
      return "SOCKS error: Host unreachable";
    case 5:
      return "SOCKS error: Connection refused";
    case 6:
      return "SOCKS error: TTL expired";
    case 7:
      return "SOCKS error: Command not supported";
    case 8:
      return "SOCKS error: Address type not supported";
    default:
      return "Unknown SOCKS error occured";
  }
}

}  // namespace kz

// ---- TclSocksNetworkStream ----

TclSocksNetworkStream::TclSocksNetworkStream(std::unique_ptr<TclNetworkStream> ABaseStream)
    : FBaseStream(std::move(ABaseStream)) {
  if (!FBaseStream)
    FBaseStream = std::make_unique<TclNetworkStream>();
  SetNextAction(saWrite);
}

void TclSocksNetworkStream::SetConnection(TclConnection* connection) {
  TclNetworkStream::SetConnection(connection);
  FBaseStream->SetConnection(connection);
}

void TclSocksNetworkStream::Assign(const TclNetworkStream& source) {
  TclNetworkStream::Assign(source);
  if (const auto* socks = dynamic_cast<const TclSocksNetworkStream*>(&source)) {
    FTargetServer = socks->FTargetServer;
    FTargetPort = socks->FTargetPort;
    FUserName = socks->FUserName;
    FPassword = socks->FPassword;
  }
}

void TclSocksNetworkStream::OpenClientSession() {
  CheckRequests();
  HoldTimeOut(false);
  FBaseStream->OpenClientSession();
  FState = csHello;
  FReadBuffer.Clear();
  FWriteBuffer.Clear();
  FBaseSessionStarted = false;
  ClearNextAction();
  SetNextAction(saWrite);
}

void TclSocksNetworkStream::TakeBaseState() {
  ReplaceNextAction(FBaseStream->NextAction());
  if (FBaseStream->HasReadData()) {
    SetHasReadData(true);
    FBaseStream->SetHasReadData(false);
  }
  if (FBaseStream->NeedClose())
    SetNeedClose();
}

void TclSocksNetworkStream::StreamReady() {
  if (FState != csData || FBaseSessionStarted)
    return;
  // The tunnel stands: the wrapped stream starts its own session now (a TLS stream its
  // handshake, whose first write reaches the dispatch through this stream's NextAction).
  FBaseSessionStarted = true;
  FBaseStream->OpenClientSession();
  FBaseStream->StreamReady();
  TakeBaseState();
}

void TclSocksNetworkStream::Accepted() {
  FState = csData;
  HoldTimeOut(false);
  StreamReady();
}

bool TclSocksNetworkStream::Read(TStream* AData) {
  if (FState == csData) {
    FBaseStream->SetHasReadData(false);
    const bool result = FBaseStream->Read(AData);
    TakeBaseState();
    return result;
  }
  ClearNextAction();
  const std::int64_t missing = GetReplyLength() - FReadBuffer.Size();
  TclNetworkStream::ResetBytesProceed();
  bool result;
  {
    // Never take more than the reply: what follows it belongs to the tunnel.
    kz::ScopeGuard restoreLimit([this, saved = TransferLimit()] { SetTransferLimit(saved); });
    SetTransferLimit(missing);
    FReadBuffer.Seek(0, SeekOrigin::End);
    result = TclNetworkStream::Read(&FReadBuffer);
  }
  // The reply was read up to its end, not until the socket would block: what follows it
  // may be waiting already.
  SetHasReadData(result && !NeedClose());
  if (ParseReply(FReadBuffer.Data()))
    FReadBuffer.Clear();
  return result;
}

bool TclSocksNetworkStream::Write(TStream* AData) {
  if (FState == csData) {
    const bool result = FBaseStream->Write(AData);
    TakeBaseState();
    return result;
  }
  ClearNextAction();
  if (FWriteBuffer.Remaining() <= 0) {
    // The first request starts the one deadline of the whole negotiation: a proxy that
    // sends its replies a byte at a time cannot stretch it.
    if (FState == csHello)
      HoldTimeOut(true);
    FWriteBuffer.Clear();
    FWriteBuffer.Write(std::string_view(BuildRequest()));
    FWriteBuffer.SetPosition(0);
    TclNetworkStream::ResetBytesProceed();
    ExpectReply();
  }
  const bool done = TclNetworkStream::Write(&FWriteBuffer);
  if (done) {
    FWriteBuffer.Clear();
    SetNextAction(saRead);
  }
  return done;
}

void TclSocksNetworkStream::Close(bool ANotifyPeer) {
  HoldTimeOut(false);
  TclNetworkStream::Close(ANotifyPeer);
  if (FState == csData) {
    FBaseStream->Close(ANotifyPeer);
    ReplaceNextAction(FBaseStream->NextAction());
  }
}

void TclSocksNetworkStream::ResetBytesProceed() {
  TclNetworkStream::ResetBytesProceed();
  FBaseStream->ResetBytesProceed();
}

bool TclSocksNetworkStream::IsTransferDone() const {
  return FState == csData ? FBaseStream->IsTransferDone() : TclNetworkStream::IsTransferDone();
}

bool TclSocksNetworkStream::TargetAddressBytes(std::string& out) const {
  const auto address = kz::ParseDottedAddress(FTargetServer);
  if (!address)
    return false;
  out.append(reinterpret_cast<const char*>(&address->s_addr), 4);  // network order already
  return true;
}

// ---- SOCKS 4 / 4a ----

void TclSocks4NetworkStream::CheckRequests() const {
  BuildRequest();
}

std::string TclSocks4NetworkStream::BuildRequest() const {
  if (FTargetServer.empty())
    kz::RaiseSocketError(kz::kInvalidAddressText, kz::kInvalidAddressCode);
  std::string request{4, 1};
  AppendPort(request, FTargetPort);
  const bool dotted = TargetAddressBytes(request);
  if (!dotted)
    request.append({0, 0, 0, 1});  // 4a: the proxy resolves the name below
  AppendTerminated(request, kz::SocksBytes(FUserName, "user name"), "user name");
  if (!dotted)
    AppendTerminated(request, kz::SocksBytes(FTargetServer, "host name"), "host name");
  CheckRequestLength(request);
  return request;
}

bool TclSocks4NetworkStream::ParseReply(std::string_view reply) {
  if (reply.size() <= 7) {
    SetNextAction(saRead);
    return false;
  }
  CheckVersion(reply, 0);
  if (Byte(reply, 1) != 90) {
    throw EclSocksFirewallError(kz::Socks4ReplyText(Byte(reply, 1)),
                                static_cast<int>(Byte(reply, 1)));
  }
  Accepted();
  return true;
}

// ---- SOCKS 5 ----

void TclSocks5NetworkStream::CheckRequests() const {
  for (TclSocksConnectionState state : {csHello, csAuthenticate, csCommand}) {
    if (state != csAuthenticate || !FUserName.empty())
      RequestFor(state);
  }
}

void TclSocks5NetworkStream::ExpectReply() {
  // Version, reply, reserved, address type and the first address byte of a command reply
  // are enough to know how long the whole reply is; the other replies are two bytes.
  FBytesToRead = FState == csCommand ? 5 : 2;
}

std::string TclSocks5NetworkStream::RequestFor(TclSocksConnectionState state) const {
  std::string request;
  switch (state) {
    case csHello:
      request = {5, 1, static_cast<char>(FUserName.empty() ? 0 : 2)};
      break;
    case csAuthenticate:
      request = {1};
      AppendCounted(request, kz::SocksBytes(FUserName, "user name"), "user name");
      AppendCounted(request, kz::SocksBytes(FPassword, "password"), "password");
      break;
    case csCommand:
      if (FTargetServer.empty())
        kz::RaiseSocketError(kz::kInvalidAddressText, kz::kInvalidAddressCode);
      request = {5, 1, 0};
      if (!TargetAddressBytes(request.append(1, 1))) {
        request.back() = 3;
        AppendCounted(request, kz::SocksBytes(FTargetServer, "host name"), "host name");
      }
      AppendPort(request, FTargetPort);
      break;
    case csData:
      return {};
  }
  CheckRequestLength(request);
  return request;
}

bool TclSocks5NetworkStream::ParseReply(std::string_view reply) {
  if (reply.size() < 2 ||
      (FState == csCommand && reply.size() < 5 && Byte(reply, 0) == 5 && Byte(reply, 1) == 0)) {
    SetNextAction(saRead);
    return false;
  }
  const int code = static_cast<int>(Byte(reply, 1));
  switch (FState) {
    case csHello: {
      CheckVersion(reply, 5);
      // Only the one method offered may be chosen: a proxy that picks the other would
      // lead us into an exchange we never asked for.
      const int offered = FUserName.empty() ? 0 : 2;
      if (code == 255) {
        throw EclSocksFirewallError("SOCKS error: No acceptable authentication methods", code);
      }
      if (code != offered) {
        throw EclSocksFirewallError("SOCKS error: the proxy chose authentication method " +
                                        std::to_string(code) + ", which was not offered",
                                    code);
      }
      FState = offered == 2 ? csAuthenticate : csCommand;
      SetNextAction(saWrite);
      return true;
    }
    case csAuthenticate:
      CheckVersion(reply, 1);
      if (code != 0) {
        throw EclSocksFirewallError("SOCKS error: authentication failed", code);
      }
      FState = csCommand;
      SetNextAction(saWrite);
      return true;
    case csCommand: {
      CheckVersion(reply, 5);
      if (code != 0)
        throw EclSocksFirewallError(kz::Socks5ReplyText(code), code);
      // The bound address: IPv4, a counted name or IPv6, then the port.
      const unsigned type = Byte(reply, 3);
      if (type == 1) {
        FBytesToRead = 4 + 4 + 2;
      } else if (type == 3) {
        FBytesToRead = 4 + 1 + static_cast<int>(Byte(reply, 4)) + 2;
      } else if (type == 4) {
        FBytesToRead = 4 + 16 + 2;
      } else {
        throw EclSocksFirewallError(kz::Socks5ReplyText(8), 8);
      }
      if (reply.size() < static_cast<std::size_t>(FBytesToRead)) {
        SetNextAction(saRead);
        return false;
      }
      Accepted();
      return true;
    }
    case csData:
      break;
  }
  return true;
}
