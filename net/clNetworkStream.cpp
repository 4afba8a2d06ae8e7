#include "net/clNetworkStream.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/clAddress.h"
#include "net/clConnection.h"
#include "net/clPumpHook.h"
#include "net/clSocketError.h"
#include "net/clWait.h"

namespace {

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

void TclNetworkStream::UpdateProgress(std::int64_t n) {
  FBytesProceed += n;
  if (FConnection == nullptr)
    return;
  FConnection->AddBytesProceed(n);
  FConnection->DoProgress(FConnection->BytesProceed(), FConnection->TotalBytes());
}

void TclNetworkStream::SetConnection(TclConnection* connection) {
  FConnection = connection;
}

void TclNetworkStream::Assign(const TclNetworkStream& source) {
  FPeerIP = source.FPeerIP;
  FPeerPort = source.FPeerPort;
  FIP = source.FIP;
  FPort = source.FPort;
  FHasReadData = source.FHasReadData;
}

void TclNetworkStream::SetNextAction(TclNetworkStreamAction action) {
  if (FNextAction == saNone)
    FNextAction = action;
}

void TclNetworkStream::SetPeerInfo(std::string_view AIP, int APort) {
  FPeerIP = AIP;
  FPeerPort = APort;
  if (FConnection != nullptr)
    FConnection->SetPeerInfo(AIP, APort);
}

void TclNetworkStream::SetLocalInfo(std::string_view AIP, int APort) {
  FIP = AIP;
  FPort = APort;
  if (FConnection != nullptr)
    FConnection->SetLocalInfo(AIP, APort);
}

bool TclNetworkStream::IsTransferDone() const {
  if (FConnection == nullptr)
    return false;
  if (FConnection->IsAborted())
    return true;
  const std::int64_t limit = FConnection->BytesToProceed();
  return limit >= 0 && FBytesProceed >= limit;
}

std::int64_t TclNetworkStream::TransferLimit() const {
  return FConnection != nullptr ? FConnection->BytesToProceed() : -1;
}

void TclNetworkStream::SetTransferLimit(std::int64_t limit) {
  if (FConnection != nullptr)
    FConnection->SetBytesToProceed(limit);
}

void TclNetworkStream::HoldTimeOut(bool hold) {
  if (FConnection != nullptr)
    FConnection->HoldTimeOut(hold);
}

int TclNetworkStream::SocketHandle() const {
  if (FConnection == nullptr)
    kz::RaiseSocketError(ENOTSOCK);
  return FConnection->Socket();
}

int TclNetworkStream::GetBatchSize() {
  const int batch = FConnection != nullptr ? FConnection->BatchSize() : 0;
  if (batch < 1)
    kz::RaiseSocketError(kz::kInvalidBatchSizeText, kz::kInvalidBatchSizeCode);
  const std::int64_t limit = FConnection->BytesToProceed();
  if (limit >= 0) {
    const std::int64_t left = std::max<std::int64_t>(0, limit - FBytesProceed);
    if (left < batch)
      return static_cast<int>(left);
  }
  return batch;
}

sockaddr_in TclNetworkStream::CreateEndPoint(std::string_view AHost, int APort) {
  if (APort < 0 || APort > 65535)
    kz::RaiseSocketError(kz::kInvalidPortText, kz::kInvalidPortCode);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(APort));
  if (AHost.empty()) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (AHost == "255.255.255.255") {
    address.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  } else if (auto parsed = kz::ParseDottedAddress(AHost)) {
    address.sin_addr = *parsed;
  } else {
    kz::RaiseSocketError(kz::kInvalidAddressText, kz::kInvalidAddressCode);
  }
  return address;
}

bool TclNetworkStream::Connect(std::string_view AHost, int APort) {
  ClearNextAction();
  if (APort <= 0)
    kz::RaiseSocketError(kz::kInvalidPortText, kz::kInvalidPortCode);
  const sockaddr_in address = CreateEndPoint(AHost, APort);
  bool completed = true;
  if (::connect(SocketHandle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && !WouldBlock(errno))
      kz::RaiseLastSocketError();
    completed = false;
  }
  SetPeerInfo(kz::FormatAddress(address.sin_addr), APort);
  OpenClientSession();
  return completed;
}

void TclNetworkStream::ReadLocalAddress() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(SocketHandle(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    kz::RaiseLastSocketError();
  }
  SetLocalInfo(kz::FormatAddress(address.sin_addr), ntohs(address.sin_port));
}

void TclNetworkStream::ConnectEnd() {
  ReadLocalAddress();
}

void TclNetworkStream::Bind(std::string_view AHost, int APort) {
  const sockaddr_in address = CreateEndPoint(AHost, APort);
  if (::bind(SocketHandle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    kz::RaiseLastSocketError();
  }
}

void TclNetworkStream::Bind(std::string_view AHost, int APortBegin, int APortEnd) {
  if (APortBegin <= 0 || APortEnd < APortBegin) {
    kz::RaiseSocketError(kz::kInvalidPortText, kz::kInvalidPortCode);
  }
  for (int port = APortBegin;; ++port) {
    const sockaddr_in address = CreateEndPoint(AHost, port);
    if (::bind(SocketHandle(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      return;
    }
    if (errno != EADDRINUSE || port >= APortEnd)
      kz::RaiseLastSocketError();
  }
}

void TclNetworkStream::Broadcast() {
  const int on = 1;
  if (::setsockopt(SocketHandle(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    kz::RaiseLastSocketError();
  }
}

void TclNetworkStream::Listen() {
  ClearNextAction();
  // The connection's sockets are created non-blocking already.
  if (::listen(SocketHandle(), 1) != 0)
    kz::RaiseLastSocketError();
  ReadLocalAddress();
}

void TclNetworkStream::Accept() {
  ClearNextAction();
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  kz::UniqueFd accepted(::accept4(SocketHandle(), reinterpret_cast<sockaddr*>(&peer), &length,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!accepted.Valid())
    kz::RaiseLastSocketError();
  FConnection->ReplaceSocket(std::move(accepted));
  ReadLocalAddress();
  SetPeerInfo(kz::FormatAddress(peer.sin_addr), ntohs(peer.sin_port));
  OpenServerSession();
}

void TclNetworkStream::Close(bool /*ANotifyPeer*/) {
  ClearNextAction();
  FNeedClose = false;
}

void TclNetworkStream::StreamReady() {
  if (FConnection != nullptr)
    FConnection->DoReady();
}

void TclNetworkStream::ThrottleDelay(std::int64_t bytes) {
  const int bitsPerSec = FConnection != nullptr ? FConnection->BitsPerSec() : 0;
  if (bitsPerSec <= 0 || bytes <= 0)
    return;
  const int savedErrno = errno;
  kz::PauseFor(bytes * 8000 / bitsPerSec, FConnection->AbortEventHandle());
  errno = savedErrno;
}

std::int64_t TclNetworkStream::ReadBuf(std::span<char> buffer) {
  ssize_t n;
  do {
    n = ::recv(SocketHandle(), buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0)
    ThrottleDelay(n);
  return n;
}

std::int64_t TclNetworkStream::WriteBuf(std::span<const char> buffer) {
  ssize_t n;
  do {
    // MSG_NOSIGNAL: a peer that reset the connection gives EPIPE, not a SIGPIPE.
    n = ::send(SocketHandle(), buffer.data(), buffer.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n > 0)
    ThrottleDelay(n);
  return n;
}

std::span<char> TclNetworkStream::Buffer(std::size_t size) {
  if (FBuffer.size() < size)
    FBuffer.resize(size);
  return std::span<char>(FBuffer.data(), size);
}

bool TclNetworkStream::SettleSend(TStream* AData, std::size_t got, std::int64_t sent, int error) {
  if (sent < 0) {
    AData->Seek(-static_cast<std::int64_t>(got), SeekOrigin::Current);
    if (WouldBlock(error))
      return false;
    kz::RaiseSocketError(error);
  }
  if (sent < static_cast<std::int64_t>(got))
    AData->Seek(sent - static_cast<std::int64_t>(got), SeekOrigin::Current);
  UpdateProgress(sent);
  return true;
}

bool TclNetworkStream::Read(TStream* AData) {
  ClearNextAction();
  if (AData == nullptr)
    return true;
  for (;;) {
    const int batch = GetBatchSize();
    if (batch == 0)
      return true;
    const std::span<char> buffer = Buffer(static_cast<std::size_t>(batch));
    const std::int64_t n = ReadBuf(buffer);
    if (n < 0) {
      if (WouldBlock(errno))
        return false;
      kz::RaiseLastSocketError();
    }
    if (n == 0) {
      FNeedClose = true;
      return true;
    }
    AData->Write(buffer.first(static_cast<std::size_t>(n)));
    UpdateProgress(n);
    // A sender as fast as we are keeps one drain going for a long time; the user
    // interface gets its turn meanwhile (and may abort, which ends the transfer).
    kz::PumpIfDue();
    if (IsTransferDone())
      return true;
  }
}

bool TclNetworkStream::Write(TStream* AData) {
  ClearNextAction();
  if (AData == nullptr || AData->Remaining() <= 0)
    return true;
  for (;;) {
    const std::int64_t chunk = std::min<std::int64_t>(GetBatchSize(), AData->Remaining());
    if (chunk <= 0)
      return true;
    const std::span<char> buffer = Buffer(static_cast<std::size_t>(chunk));
    const std::size_t got = AData->Read(buffer);
    if (got == 0)
      return true;  // the data object has nothing more to give
    const std::int64_t sent = WriteBuf(buffer.first(got));
    if (!SettleSend(AData, got, sent, errno))
      return false;
    if (AData->Remaining() <= 0)
      return true;
    // As in Read: a long run of sends gives the user interface a turn.
    kz::PumpIfDue();
    if (IsTransferDone())
      return true;
  }
}

bool TclNetworkStream::ReadFrom(TStream* AData, std::string& AIP, int& APort) {
  ClearNextAction();
  const std::span<char> buffer = Buffer(static_cast<std::size_t>(GetBatchSize()));
  sockaddr_in from{};
  socklen_t length = sizeof from;
  ssize_t n;
  do {
    n = ::recvfrom(SocketHandle(), buffer.data(), buffer.size(), 0,
                   reinterpret_cast<sockaddr*>(&from), &length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (WouldBlock(errno))
      return false;
    kz::RaiseLastSocketError();
  }
  ThrottleDelay(n);
  if (AData != nullptr) {
    AData->Write(buffer.first(static_cast<std::size_t>(n)));
  }
  UpdateProgress(n);
  ReadLocalAddress();
  AIP = kz::FormatAddress(from.sin_addr);
  APort = ntohs(from.sin_port);
  return true;
}

bool TclNetworkStream::WriteTo(TStream* AData, std::string_view AHost, int APort) {
  ClearNextAction();
  if (AData == nullptr || AData->Remaining() <= 0)
    return true;
  const sockaddr_in address = CreateEndPoint(AHost, APort);
  const std::int64_t chunk = std::min<std::int64_t>(GetBatchSize(), AData->Remaining());
  const std::span<char> buffer = Buffer(static_cast<std::size_t>(chunk));
  const std::size_t got = AData->Read(buffer);
  ssize_t sent;
  do {
    sent = ::sendto(SocketHandle(), buffer.data(), got, MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (sent < 0 && errno == EINTR);
  const int error = errno;
  if (sent > 0)
    ThrottleDelay(sent);
  return SettleSend(AData, got, sent, error);
}
