#include "net/clTlsSocket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/clConnection.h"
#include "net/clPosixSocket.h"
#include "net/clSocketError.h"

using namespace kz;

namespace {

constexpr std::string_view kNoClientCertificateText = "Error querying local certificate";
constexpr int kNoClientCertificateCode = -1;

// A peer that has reset or aborted the connection cannot take a close notification; that
// does not make closing fail.
bool PeerIsGone(int code) {
  return code == ECONNABORTED || code == ECONNRESET || code == EPIPE;
}

}  // namespace

TclTlsNetworkStream::TclTlsNetworkStream() = default;
TclTlsNetworkStream::~TclTlsNetworkStream() = default;

TclTlsSspi* TclTlsNetworkStream::SSPI() {
  return FSSPI.get();
}

void TclTlsNetworkStream::SetTargetName(std::string_view value) {
  FTargetName = value;
  if (FSSPI)
    FSSPI->SetTargetName(value);
}

void TclTlsNetworkStream::SetCertificateFlags(TclCertificateVerifyFlags value) {
  FCertificateFlags = value;
  if (FSSPI)
    FSSPI->SetCertificateFlags(value);
}

void TclTlsNetworkStream::SetTLSFlags(TclTlsFlags value) {
  FTLSFlags = value;
  if (FSSPI)
    FSSPI->SetTLSFlags(value);
}

void TclTlsNetworkStream::Assign(const TclNetworkStream& source) {
  TclNetworkStream::Assign(source);
  if (const auto* tls = dynamic_cast<const TclTlsNetworkStream*>(&source)) {
    FTargetName = tls->FTargetName;
    FCertificateFlags = tls->FCertificateFlags;
    FTLSFlags = tls->FTLSFlags;
    FRequireClientCertificate = tls->FRequireClientCertificate;
  }
}

// The plain reads and writes underneath count wire bytes; this stream reports the
// application's bytes itself.
void TclTlsNetworkStream::UpdateProgress(std::int64_t /*n*/) {}

TclTlsNetworkStream::Phase TclTlsNetworkStream::PhaseAfter(TclSspiReturnCode AResult) {
  switch (AResult) {
    case rcOK:
      return Phase::kEstablished;
    case rcAuthContinueNeeded:
      return Phase::kTokenToSend;
    case rcAuthDataNeeded:
      return Phase::kAwaitingServer;
    case rcAuthMoreDataNeeded:
      return Phase::kHandshakePart;
    case rcCredentialNeeded:
      return Phase::kCredentialNeeded;
    case rcEncodeNeeded:
      return Phase::kDataWithHandshake;
    case rcMoreDataNeeded:
    case rcContinueAndMoreDataNeeded:
      return Phase::kRecordPart;
    case rcClosingNeeded:
      return Phase::kPeerClosed;
    case rcCompleteNeeded:
      return Phase::kCloseNotifyToSend;
    case rcReAuthNeeded:
      return Phase::kRenegotiationRequested;
    default:
      return Phase::kFailed;
  }
}

void TclTlsNetworkStream::MoveTo(Phase APhase) {
  switch (APhase) {
    case Phase::kSessionOpened:
    case Phase::kEstablished:
      FSSPIResult = rcOK;
      break;
    case Phase::kTokenToSend:
      FSSPIResult = rcAuthContinueNeeded;
      break;
    case Phase::kAwaitingServer:
      FSSPIResult = rcAuthDataNeeded;
      break;
    case Phase::kHandshakePart:
      FSSPIResult = rcAuthMoreDataNeeded;
      break;
    case Phase::kCredentialNeeded:
      FSSPIResult = rcCredentialNeeded;
      break;
    case Phase::kDataWithHandshake:
      FSSPIResult = rcEncodeNeeded;
      break;
    case Phase::kRecordPart:
      FSSPIResult = rcMoreDataNeeded;
      break;
    case Phase::kPeerClosed:
      FSSPIResult = rcClosingNeeded;
      break;
    case Phase::kCloseNotifyToSend:
      FSSPIResult = rcCompleteNeeded;
      break;
    case Phase::kRenegotiationRequested:
    case Phase::kClosed:
      FSSPIResult = rcReAuthNeeded;
      break;
    case Phase::kFailed:
      FSSPIResult = rcError;
      break;
  }
  FNeedAuthenticate = APhase == Phase::kSessionOpened || APhase == Phase::kRenegotiationRequested;
}

bool TclTlsNetworkStream::InHandshake() const {
  return FSSPIResult == rcAuthContinueNeeded || FSSPIResult == rcAuthDataNeeded ||
         FSSPIResult == rcAuthMoreDataNeeded;
}

bool TclTlsNetworkStream::SwitchesOpenConnection() const {
  // Inside a SOCKS tunnel the connection's stream is the tunnel's, and this session is the
  // first thing the tunnel carries.
  return Connection() != nullptr && Connection()->Active() && Connection()->NetworkStream() == this;
}

void TclTlsNetworkStream::CheckNoPlainData() {
  if (!FUpgrade)
    return;
  if (HasReadData() || Connection()->HasUnreadBytes()) {
    throw EclSSPIError(kPlainDataBeforeHandshakeCode,
                       "the server sent plain text after agreeing to switch to TLS");
  }
}

void TclTlsNetworkStream::OpenClientSession() {
  // On an open connection the session upgrades a plain dialogue; opened while connecting
  // (or as the first thing a tunnel carries), the connection starts with TLS.
  FUpgrade = SwitchesOpenConnection();
  CheckNoPlainData();
  auto context = std::make_unique<TclTlsClientSspi>();
  context->SetUpgrade(FUpgrade);
  context->SetTargetName(FTargetName);
  context->SetCertificateFlags(FCertificateFlags);
  context->SetTLSFlags(FTLSFlags);
  FSSPI = std::move(context);
  FSSPIBuffer.Clear();
  FWriteData.Clear();
  FReadData.Clear();
  FPacketSize = 0;
  FWriteSize = 0;
  FPeerVerified = false;
  FVerifyDone = false;
  MoveTo(Phase::kSessionOpened);
  ClearNextAction();
  SetNextAction(saWrite);
}

void TclTlsNetworkStream::OpenServerSession() {
  throw EclSSPIError(kNotSupportedCode, "the server side of TLS is not provided");
}

void TclTlsNetworkStream::VerifyPeer() {
  if (FVerifyDone)
    return;
  FVerifyDone = true;
  FPeerVerified = FSSPI->Certified();
  const int code = FSSPI->StatusCode();
  const std::string text = SspiErrorText(code);
  if (OnVerifyPeer)
    OnVerifyPeer(this, FSSPI->PeerCertificate(), text, code, FPeerVerified);
  if (!FPeerVerified)
    RaiseSocketError(text, code);
}

void TclTlsNetworkStream::Authenticate(TStream* ADestination) {
  if (!FSSPI)
    throw EclSSPIError(kSecEInvalidHandle);
  for (;;) {
    FPacketSize = 0;
    TclCertificateList certificates(false);
    MoveTo(PhaseAfter(Step(&certificates, false)));
    if (FSSPIResult == rcCredentialNeeded) {
      TclCertificate* certificate = nullptr;
      bool handled = false;
      if (OnGetCertificate)
        OnGetCertificate(this, certificate, certificates, handled);
      if (certificate != nullptr)
        certificates.Add(certificate);
      MoveTo(PhaseAfter(Step(&certificates, handled)));
      if (FSSPIResult == rcCredentialNeeded)
        RaiseSocketError(kNoClientCertificateText, kNoClientCertificateCode);
    }
    const bool established = FSSPIResult == rcOK || FSSPIResult == rcEncodeNeeded;
    if (established)
      VerifyPeer();
    bool again = false;
    if (FSSPIResult == rcAuthContinueNeeded) {
      const bool sent = SendEncrypted(nullptr, 0);
      if (!sent)
        SetNextAction(saWrite);
      MoveTo(Phase::kAwaitingServer);
      // The last token of a handshake (the client's Finished in TLS 1.3) leaves nothing
      // to wait for: the next step completes the session.
      again = sent && FSSPI->HandshakeComplete();
    } else if (FSSPIResult == rcEncodeNeeded) {
      DecryptBuffer(ADestination);
      if (FSSPIResult != rcMoreDataNeeded)
        MoveTo(Phase::kEstablished);
    }
    FSSPIBuffer.Clear();
    if (established)
      TclNetworkStream::StreamReady();
    if (!again)
      return;
  }
}

TclSspiReturnCode TclTlsNetworkStream::Step(TclCertificateList* ACertificates,
                                            bool AllowEmptyCred) {
  try {
    return FSSPI->GenContext(&FSSPIBuffer, ACertificates, AllowEmptyCred);
  } catch (const EclSSPIError&) {
    SendAlert();
    throw;
  }
}

void TclTlsNetworkStream::SendAlert() {
  // The alert the session wrote about its failure tells the server why we leave. It is a
  // few bytes on a connection about to close: one attempt, and no failure of its own.
  const std::string alert = FSSPI->TakeOutput();
  if (alert.empty() || Connection() == nullptr || !Connection()->Active())
    return;
  (void)WriteBuf(std::span<const char>(alert.data(), alert.size()));
}

void TclTlsNetworkStream::DecryptBuffer(TStream* ADestination) {
  Decrypted(FSSPI->Decrypt(&FSSPIBuffer, ADestination, &FSSPIBuffer));
}

void TclTlsNetworkStream::Decrypted(TclSspiReturnCode AResult) {
  MoveTo(PhaseAfter(AResult));
  SendOutput();
}

void TclTlsNetworkStream::ProcessIncoming(std::string_view AIncoming, TStream* ADestination) {
  // Bytes before our first handshake message cannot be the server's answer.
  if (FNeedAuthenticate) {
    throw EclSSPIError(FUpgrade ? kPlainDataBeforeHandshakeCode : kNotTlsCode,
                       "the server spoke before the client's first handshake message");
  }
  switch (FSSPIResult) {
    case rcClosingNeeded:
    case rcReAuthNeeded:
      return;  // the session has ended: nothing after it is read
    case rcAuthDataNeeded:
      FSSPIBuffer.Clear();
      FSSPIBuffer.Write(AIncoming);
      FSSPIBuffer.SetPosition(0);
      Authenticate(ADestination);
      return;
    case rcAuthMoreDataNeeded: {
      const std::int64_t position = FSSPIBuffer.Position();
      FSSPIBuffer.Seek(0, SeekOrigin::End);
      FSSPIBuffer.Write(AIncoming);
      FSSPIBuffer.SetPosition(position);
      Authenticate(ADestination);
      return;
    }
    default:
      // The context keeps an incomplete record itself, so the bytes go to it directly.
      try {
        Decrypted(FSSPI->Decrypt(AIncoming, ADestination));
      } catch (const EclSSPIError&) {
        SendAlert();
        throw;
      }
      return;
  }
}

void TclTlsNetworkStream::ReadIncoming(TStream* ADestination) {
  const std::int64_t start = TickCount();
  const bool handshaking = InHandshake();
  for (;;) {
    const int batch = GetBatchSize();
    if (batch <= 0)
      return;
    if (FReceived.size() < static_cast<std::size_t>(batch))
      FReceived.resize(static_cast<std::size_t>(batch));
    const std::int64_t n =
        ReadBuf(std::span<char>(FReceived.data(), static_cast<std::size_t>(batch)));
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        return;
      RaiseLastSocketError();
    }
    if (n == 0) {
      SetNeedClose();
      CheckEndOfStream();
      return;
    }
    ProcessIncoming(std::string_view(FReceived.data(), static_cast<std::size_t>(n)), ADestination);
    // A completed handshake ends the read: the opening returns, and what the server sends
    // after it is the next read's.
    if ((handshaking && !InHandshake()) || FSSPIResult == rcClosingNeeded ||
        FSSPIResult == rcReAuthNeeded || IsTransferDone() || TickCount() - start >= kPumpSliceMs) {
      return;
    }
  }
}

void TclTlsNetworkStream::SendOutput() {
  const std::string output = FSSPI->TakeOutput();
  if (output.empty())
    return;
  if (FWriteData.Size() == 0)
    FWriteSize = 0;
  const std::int64_t position = FWriteData.Position();
  FWriteData.Seek(0, SeekOrigin::End);
  FWriteData.Write(std::string_view(output));
  FWriteData.SetPosition(position);
  SetNextAction(saWrite);
}

bool TclTlsNetworkStream::SendEncrypted(TStream* AData, std::int64_t ASize) {
  if (FSSPIResult == rcAuthContinueNeeded || FSSPIResult == rcCompleteNeeded) {
    // A token goes after anything still waiting to be sent.
    const std::int64_t position = FWriteData.Position();
    FWriteData.Seek(0, SeekOrigin::End);
    FWriteData.Write(FSSPIBuffer.Data());
    FWriteData.SetPosition(position);
    FSSPIBuffer.Clear();
  } else if (FWriteData.Size() == 0 && AData != nullptr && ASize > 0) {
    FSSPI->Encrypt(AData, &FWriteData, ASize);
  }
  if (FWriteData.Size() == 0)
    return true;
  // The records go out straight from their buffer: one send per record, as a whole.
  while (FWriteData.Remaining() > 0) {
    const auto position = static_cast<std::size_t>(FWriteData.Position());
    const std::string_view pending = FWriteData.Data().substr(position);
    const std::int64_t sent = WriteBuf(std::span<const char>(pending.data(), pending.size()));
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        return false;
      RaiseLastSocketError();
    }
    FWriteData.Seek(sent, SeekOrigin::Current);
  }
  FWriteData.Clear();
  return true;
}

bool TclTlsNetworkStream::Write(TStream* AData) {
  ClearNextAction();
  bool complete = true;
  if (FNeedAuthenticate) {
    Authenticate(&FReadData);
  } else if (AData != nullptr) {
    const std::int64_t start = TickCount();
    while (!IsTransferDone()) {
      if (FWriteData.Size() == 0) {
        const std::int64_t left = AData->Remaining();
        if (left <= 0)
          break;
        FWriteSize = std::min<std::int64_t>(left, TclNetworkStream::GetBatchSize());
        if (FWriteSize <= 0)
          break;
      }
      complete = SendEncrypted(AData, FWriteSize);
      if (!complete)
        break;
      if (FWriteSize > 0) {
        AData->Seek(FWriteSize, SeekOrigin::Current);
        TclNetworkStream::UpdateProgress(FWriteSize);
        FWriteSize = 0;
      }
      // As the plain stream does: a long run of sends gives the wait a turn.
      if (AData->Remaining() > 0 && TickCount() - start >= kPumpSliceMs) {
        complete = false;
        break;
      }
    }
  } else {
    complete = SendEncrypted(nullptr, 0);
    if (!complete)
      SetNextAction(saWrite);
    else if (FSSPIResult == rcAuthDataNeeded && FSSPI && FSSPI->HandshakeComplete())
      Authenticate(&FReadData);
  }
  if (InHandshake())
    SetNextAction(saRead);
  if (FReadData.Size() > 0)
    SetHasReadData(true);
  return complete;
}

void TclTlsNetworkStream::CheckEndOfStream() {
  if (!FSSPI || FSSPI->PeerClosed() || FSSPIResult == rcReAuthNeeded)
    return;
  // A connection cut inside the handshake or inside a record is a truncation, never a
  // clean end.
  if (FNeedAuthenticate || InHandshake() || !FSSPI->HandshakeComplete())
    throw EclSSPIError(kTruncatedCode, "the connection ended during the TLS handshake");
  if (FSSPI->HasPendingInput())
    throw EclSSPIError(kTruncatedCode, "the connection ended inside a TLS record");
}

bool TclTlsNetworkStream::Read(TStream* AData) {
  ClearNextAction();
  const std::int64_t before = AData != nullptr ? AData->Position() : 0;
  if (AData != nullptr && FReadData.Size() > 0) {
    AData->Write(FReadData.Data());
    FReadData.Clear();
  } else {
    ReadIncoming(AData != nullptr ? AData : &FReadData);
  }
  SetHasReadData(FReadData.Size() > 0);
  if (!NeedClose() && FSSPIResult > rcError && FSSPIResult != rcClosingNeeded &&
      FSSPIResult != rcReAuthNeeded) {
    SetNextAction(saRead);
  }
  if (AData != nullptr) {
    const std::int64_t added = AData->Position() - before;
    if (added > 0)
      TclNetworkStream::UpdateProgress(added);
  }
  return true;
}

void TclTlsNetworkStream::Close(bool ANotifyPeer) {
  TclNetworkStream::Close(ANotifyPeer);
  FSSPIBuffer.Clear();
  TclSspiReturnCode result = rcOK;
  if (FSSPI) {
    try {
      result = FSSPI->EndSession(&FSSPIBuffer);
    } catch (const EclSSPIError&) {
      result = rcError;
    }
  }
  if (ANotifyPeer && result == rcCompleteNeeded) {
    MoveTo(Phase::kCloseNotifyToSend);
    try {
      if (!SendEncrypted(nullptr, 0))
        SetNextAction(saWrite);
    } catch (const EclSocketError& e) {
      if (!PeerIsGone(e.ErrorCode))
        throw;
      FWriteData.Clear();
    }
  }
  FSSPIBuffer.Clear();
  MoveTo(Phase::kClosed);
  DiscardUnread();
}

void TclTlsNetworkStream::DiscardUnread() {
  // Records nobody will read any more (session tickets of TLS 1.3 typically) would make
  // the socket's close a reset, and a reset can destroy our last records before the peer
  // has read them.
  if (Connection() == nullptr || !Connection()->Active())
    return;
  char sink[4096];
  while (::recv(Connection()->Socket(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

int TclTlsNetworkStream::GetBatchSize() {
  const int batch = TclNetworkStream::GetBatchSize();
  if (batch <= 0)
    return batch;
  if (FPacketSize == 0 && FSSPIResult == rcOK && FSSPI && FSSPI->HandshakeComplete()) {
    try {
      const TclStreamSizes& sizes = FSSPI->StreamSizes();
      FPacketSize = sizes.cbHeader + sizes.cbTrailer;
    } catch (const EclSSPIError&) {
    }
  }
  return batch + FPacketSize;
}
