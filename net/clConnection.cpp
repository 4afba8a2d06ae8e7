#include "net/clConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "core/CodePage.h"
#include "core/ScopeGuard.h"
#include "core/StringUtils.h"

// ---- TclConnection ----

TclConnection::~TclConnection() {
  ShutDown();
  // FreeResources: the stream goes with the connection.
  FNetworkStream.reset();
}

void TclConnection::ShutDown() noexcept {
  try {
    Close(false);
  } catch (const EclSocketError&) {
  }
  CloseEnd();
}

void TclConnection::SetNetworkStream(std::unique_ptr<TclNetworkStream> stream) {
  if (stream && stream.get() == FNetworkStream.get()) {
    stream.release();  // already ours: setting the same stream again changes nothing
    return;
  }
  if (stream && FNetworkStream)
    stream->Assign(*FNetworkStream);
  FNetworkStream = std::move(stream);
  if (FNetworkStream)
    FNetworkStream->SetConnection(this);
}

TclNetworkStream& TclConnection::RequireStream() const {
  if (!FNetworkStream)
    kz::RaiseSocketError(kz::kNoNetworkStreamText, kz::kNoNetworkStreamCode);
  return *FNetworkStream;
}

void TclConnection::CreateSocket(int AStruct, int AProtocol) {
  if (FSocket.Valid())
    throw std::logic_error("CreateSocket: the socket exists already");
  FSocket.Reset(::socket(AF_INET, AStruct | SOCK_NONBLOCK | SOCK_CLOEXEC, AProtocol));
  if (!FSocket.Valid())
    kz::RaiseLastSocketError();
}

void TclConnection::ReplaceSocket(kz::UniqueFd socket) {
  FSocket = std::move(socket);
  FActive = FSocket.Valid();
}

void TclConnection::InitProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes) {
  FTotalBytesProceed = ABytesProceed;
  FTotalBytes = ATotalBytes;
  if (FNetworkStream)
    FNetworkStream->ResetBytesProceed();
}

std::int64_t TclConnection::ReadBuf(std::span<char> buffer) {
  return RequireStream().ReadBuf(buffer);
}

std::int64_t TclConnection::WriteBuf(std::span<const char> buffer) {
  return RequireStream().WriteBuf(buffer);
}

bool TclConnection::HasUnreadBytes() const {
  if (FNetworkStream && FNetworkStream->HasReadData())
    return true;
  if (!FActive)
    return false;
  char probe = 0;
  ssize_t n;
  do {
    n = ::recv(FSocket.Get(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

void TclConnection::SetNoDelay() {
  if (!FSocket.Valid())
    return;
  const int on = 1;
  ::setsockopt(FSocket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool TclConnection::CloseSession(bool ANotifyPeer) {
  TclNetworkStream& stream = RequireStream();
  stream.Close(ANotifyPeer);
  if (ANotifyPeer)
    DispatchNextAction();
  return stream.NextAction() != saNone;
}

bool TclConnection::Close(bool ANotifyPeer) {
  // However the session ends (done, still pending, or failed), the socket closes unless
  // a close notification is still under way.
  bool pending = false;
  kz::ScopeGuard closeEnd([&] {
    if (!pending)
      CloseEnd();
  });
  if (FActive && FNetworkStream)
    pending = CloseSession(ANotifyPeer);
  return pending;
}

void TclConnection::CloseEnd() {
  FActive = false;
  if (FSocket.Valid()) {
    ::shutdown(FSocket.Get(), SHUT_RDWR);
    FSocket.Reset();
  }
}

void TclConnection::Abort() {
  FIsAborted = true;
}

void TclConnection::DoProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes) {
  if (OnProgress)
    OnProgress(this, ABytesProceed, ATotalBytes);
}

void TclConnection::DoReady() {
  if (OnReady)
    OnReady(this);
}

void TclConnection::SetLocalInfo(std::string_view AIP, int APort) {
  FIP = AIP;
  FPort = APort;
}

void TclConnection::SetPeerInfo(std::string_view AIP, int APort) {
  FPeerIP = AIP;
  FPeerPort = APort;
}

// ---- TclSyncConnection ----

TclSyncConnection::~TclSyncConnection() {
  ShutDown();
}

void TclSyncConnection::Abort() {
  TclConnection::Abort();
  FAbortEvent.Signal();
}

void TclSyncConnection::ClearAbort() {
  FIsAborted = false;
  FAbortEvent.Reset();
}

void TclSyncConnection::HoldTimeOut(bool hold) {
  if (hold && !FTimeOutHeld)
    FTimeOutTicks = kz::TickCount();
  FTimeOutHeld = hold;
}

bool TclSyncConnection::WaitForEvents(short events, short& revents) {
  const kz::WaitOutcome outcome =
      kz::WaitForEvents(FSocket.Get(), events, FAbortEvent.Get(), FTimeOutTicks, FTimeOut);
  revents = outcome.revents;
  return outcome.result == kz::WaitResult::kDescriptor;
}

TclNetworkEvents TclSyncConnection::EnumNetworkEvents(short revents, bool connecting) const {
  TclNetworkEvents events;
  const bool error = (revents & POLLERR) != 0;
  const bool hangUp = (revents & (POLLHUP | POLLRDHUP)) != 0;
  int soError = 0;
  if (connecting || error || hangUp) {
    socklen_t length = sizeof soError;
    if (::getsockopt(FSocket.Get(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
      kz::RaiseLastSocketError();
    }
  }
  if (connecting) {
    events.Connect = revents != 0;
    events.ConnectError = soError;
    return events;
  }
  if (revents & POLLIN)
    events.Read = true;
  if (revents & POLLOUT)
    events.Write = true;
  if (error) {
    // A pending socket error ends whichever direction is being waited for.
    events.Read = events.Write = true;
    events.ReadError = events.WriteError = soError;
  }
  if (hangUp && !(revents & POLLIN)) {
    events.Close = true;
    events.CloseError = soError;
  }
  return events;
}

void TclSyncConnection::WriteString(std::string_view AString) {
  TMemoryStream data(kz::AnsiEncode(AString));
  WriteData(&data);
  if (data.Remaining() > 0) {
    // Aborted, or the peer closed before everything went out: never report success.
    kz::RaiseSocketError(IsAborted() ? ECONNABORTED : ENOTCONN);
  }
}

std::string TclSyncConnection::ReadString() {
  InitProgress(0, 0);
  TMemoryStream data;
  ReadData(&data);
  return kz::AnsiDecode(data.Data());
}

// ---- TclTcpConnection ----

bool TclTcpConnection::ReadData(TStream* AData) {
  for (;;) {
    ReadStep(AData);
    for (;;) {
      const TclNetworkStreamAction action = RequireStream().NextAction();
      if (action == saRead)
        break;
      if (action != saWrite)
        return FActive;
      WriteData(nullptr);
    }
  }
}

bool TclTcpConnection::WriteData(TStream* AData) {
  WriteStep(AData);
  for (;;) {
    switch (RequireStream().NextAction()) {
      case saRead:
        ReadData(nullptr);
        break;
      case saWrite:
        WriteStep(nullptr);
        break;
      default:
        return FActive;
    }
  }
}

void TclTcpConnection::DispatchNextAction() {
  switch (RequireStream().NextAction()) {
    case saRead:
      ReadData(nullptr);
      break;
    case saWrite:
      WriteData(nullptr);
      break;
    default:
      break;
  }
}

void TclTcpConnection::ReadStep(TStream* AData) {
  RestartTimeOut();
  TclNetworkStream& stream = RequireStream();
  if (stream.HasReadData()) {
    stream.SetHasReadData(false);
    stream.Read(AData);
    if (stream.NeedClose()) {
      Close(false);
      return;
    }
    if (!(FIsReadUntilClose && FActive)) {
      if (!FActive)
        stream.ClearNextAction();
      return;
    }
  }
  for (;;) {
    if (!FActive)
      kz::RaiseSocketError(ENOTSOCK);
    short revents = 0;
    if (WaitForEvents(POLLIN | POLLRDHUP, revents)) {
      const TclNetworkEvents events = EnumNetworkEvents(revents, false);
      if (events.Read) {
        if (events.ReadError != 0)
          kz::RaiseSocketError(events.ReadError);
        stream.Read(AData);
        // A receive of 0 bytes: the peer closed; what came before it is delivered.
        if (stream.NeedClose())
          break;
        if (!FIsReadUntilClose)
          return;
        RestartTimeOut();
      }
      if (events.Close) {
        if (events.CloseError != 0)
          kz::RaiseSocketError(events.CloseError);
        break;
      }
    }
    if (stream.NeedClose())
      break;
    if (stream.IsTransferDone())
      return;
  }
  Close(false);
}

void TclTcpConnection::WriteStep(TStream* AData) {
  RestartTimeOut();
  TclNetworkStream& stream = RequireStream();
  if (!FActive && AData != nullptr && AData->Remaining() > 0)
    kz::RaiseSocketError(ENOTSOCK);
  if (stream.Write(AData))
    return;
  int closeError = 0;
  for (;;) {
    if (!FActive)
      kz::RaiseSocketError(ENOTSOCK);
    short revents = 0;
    // Readable data is only noted here (the next read step takes it), so POLLIN is asked
    // for only until it has been seen once.
    const short wanted = POLLOUT | (stream.HasReadData() ? 0 : POLLIN);
    if (WaitForEvents(wanted, revents)) {
      const TclNetworkEvents events = EnumNetworkEvents(revents, false);
      if (events.Write) {
        if (events.WriteError != 0)
          kz::RaiseSocketError(events.WriteError);
        RestartTimeOut();
        if (stream.Write(AData))
          return;
      } else if (events.Read) {
        if (events.ReadError != 0)
          kz::RaiseSocketError(events.ReadError);
        stream.SetHasReadData(true);
      }
      if (events.Close) {
        closeError = events.CloseError;
        break;
      }
    }
    if (stream.IsTransferDone())
      return;
  }
  if (closeError != 0)
    kz::RaiseSocketError(closeError);
  Close(false);
}

// ---- TclTcpClientConnection ----

void TclTcpClientConnection::Open(std::string_view AServer, int APort) {
  // A session start reads only its own replies, never until the peer closes.
  kz::SaveAndRestore suspend(FIsReadUntilClose, false);
  TclNetworkStream& stream = RequireStream();
  ClearAbort();
  FTimeOutHeld = false;  // a handshake that failed last time holds nothing any more
  CreateSocket(SOCK_STREAM, IPPROTO_TCP);
  const std::string_view binding = kz::Trim(FLocalBinding);
  if (!binding.empty())
    stream.Bind(binding, 0);

  if (!stream.Connect(AServer, APort)) {
    RestartTimeOut();
    do {
      short revents = 0;
      if (WaitForEvents(POLLOUT, revents)) {
        const TclNetworkEvents events = EnumNetworkEvents(revents, true);
        if (events.Connect) {
          if (events.ConnectError != 0)
            kz::RaiseSocketError(events.ConnectError);
          break;
        }
      }
    } while (!IsAborted());
  }
  if (IsAborted()) {
    Close(false);
    return;
  }
  FActive = true;
  DispatchNextAction();
  // A peer that closed during the session start (a proxy or TLS server giving up) has
  // closed the connection already.
  if (!FActive)
    kz::RaiseSocketError(kz::kNotActiveText, kz::kNotActiveCode);
  stream.ConnectEnd();
  stream.StreamReady();
}

void TclTcpClientConnection::OpenSession() {
  if (!FActive)
    kz::RaiseSocketError(kz::kNotActiveText, kz::kNotActiveCode);
  kz::SaveAndRestore suspend(FIsReadUntilClose, false);
  TclNetworkStream& stream = RequireStream();
  FTimeOutHeld = false;
  stream.OpenClientSession();
  if (IsAborted()) {
    Close(false);
    return;
  }
  DispatchNextAction();
  if (!FActive)
    kz::RaiseSocketError(kz::kNotActiveText, kz::kNotActiveCode);
  stream.StreamReady();
}
