// Connections: a socket driven by blocking calls. The connection owns the socket, the
// wait machinery, the byte counters and exactly one network stream; every wait happens
// here, never in a stream.
//
// How the readiness of the socket becomes the "network events" the loops act on
// (see TclNetworkEvents): poll() reports level-triggered readiness, so each step polls only
// for what it waits for, and
//   * while connecting, POLLOUT / POLLERR / POLLHUP is "connect complete" with the
//     socket's SO_ERROR as its error code;
//   * POLLIN is "read" (error 0); a receive of 0 bytes later tells the stream the peer
//     closed, POLLERR is "read" (or "write" while writing) with SO_ERROR;
//   * POLLOUT is "write" (error 0);
//   * POLLHUP or POLLRDHUP without POLLIN is "close", with SO_ERROR as its error code.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/Stream.h"
#include "core/UniqueFd.h"
#include "net/clEventFd.h"
#include "net/clNetworkStream.h"
#include "net/clSocketError.h"
#include "net/clWait.h"

class TclConnection;

using TclSocketProgressEvent = std::function<void(TclConnection* Sender, std::int64_t ABytesProceed,
                                                  std::int64_t ATotalBytes)>;
using TclConnectionNotifyEvent = std::function<void(TclConnection* Sender)>;

struct TclNetworkEvents {
  bool Connect = false, Read = false, Write = false, Close = false;
  int ConnectError = 0, ReadError = 0, WriteError = 0, CloseError = 0;
};

class TclConnection {
 public:
  TclConnection() = default;
  virtual ~TclConnection();
  TclConnection(const TclConnection&) = delete;
  TclConnection& operator=(const TclConnection&) = delete;

  TclNetworkStream* NetworkStream() const { return FNetworkStream.get(); }
  // SetNetworkStream installs a new stream (none frees the current one). The new stream
  // takes over the peer and local address and HasReadData of the old one.
  void SetNetworkStream(std::unique_ptr<TclNetworkStream> stream);
  // RequireStream is the current stream, or "NetworkStream is required" (-5).
  TclNetworkStream& RequireStream() const;

  bool IsAborted() const { return FIsAborted.load(); }
  bool Active() const { return FActive; }
  int Socket() const { return FSocket.Get(); }
  int BatchSize() const { return FBatchSize; }
  void SetBatchSize(int value) { FBatchSize = value; }
  int BitsPerSec() const { return FBitsPerSec; }
  void SetBitsPerSec(int value) { FBitsPerSec = value; }
  std::int64_t BytesProceed() const { return FTotalBytesProceed; }
  std::int64_t TotalBytes() const { return FTotalBytes; }
  std::int64_t BytesToProceed() const { return FBytesToProceed; }
  void SetBytesToProceed(std::int64_t value) { FBytesToProceed = value; }
  const std::string& IP() const { return FIP; }
  int Port() const { return FPort; }
  const std::string& PeerIP() const { return FPeerIP; }
  int PeerPort() const { return FPeerPort; }

  TclSocketProgressEvent OnProgress;
  TclConnectionNotifyEvent OnReady;

  // CreateSocket makes the non-blocking IPv4 socket; the socket must not exist yet.
  void CreateSocket(int AStruct, int AProtocol);
  void InitProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes);
  // ReadData / WriteData move bytes between the socket and AData; none means: only do
  // what the stream has pending. Both return whether the connection is still active.
  virtual bool ReadData(TStream* AData) = 0;
  virtual bool WriteData(TStream* AData) = 0;
  std::int64_t ReadBuf(std::span<char> buffer);
  std::int64_t WriteBuf(std::span<const char> buffer);
  // Close ends the stream's session and then closes the socket; true while the session
  // still has a close notification to send or receive (the socket then stays open).
  virtual bool Close(bool ANotifyPeer);
  void CloseEnd();
  bool CloseSession(bool ANotifyPeer);
  // HasUnreadBytes: bytes from the peer wait that nobody has read yet, in the stream
  // (HasReadData) or on the socket. It never blocks and takes nothing: the probe behind
  // the rule that plain text must not wait when a TLS handshake starts.
  bool HasUnreadBytes() const;
  // SetNoDelay sends each write at once (TCP_NODELAY): a short command that waits for its
  // reply must not wait in Nagle's buffer for the previous segment's acknowledgement.
  void SetNoDelay();
  virtual void Abort();
  virtual void DispatchNextAction() {}
  virtual void DoProgress(std::int64_t ABytesProceed, std::int64_t ATotalBytes);
  virtual void DoReady();

  // AbortEventHandle: the descriptor a bandwidth pause watches to end early on Abort.
  virtual int AbortEventHandle() const { return -1; }

 protected:
  // ShutDown closes without waiting; the destructors call it, ignoring socket errors.
  void ShutDown() noexcept;

  kz::UniqueFd FSocket;
  int FBatchSize = 8192;
  int FBitsPerSec = 0;
  std::atomic<bool> FIsAborted{false};
  std::unique_ptr<TclNetworkStream> FNetworkStream;
  bool FActive = false;
  std::int64_t FTotalBytesProceed = 0;
  std::int64_t FTotalBytes = 0;
  std::int64_t FBytesToProceed = -1;
  std::string FIP;
  int FPort = 0;
  std::string FPeerIP;
  int FPeerPort = 0;

 private:
  // What a stream reports back to its connection; only the streams call these (derived
  // streams through TclNetworkStream's protected members).
  friend class TclNetworkStream;
  void AddBytesProceed(std::int64_t n) { FTotalBytesProceed += n; }
  void SetLocalInfo(std::string_view AIP, int APort);
  void SetPeerInfo(std::string_view AIP, int APort);
  // ReplaceSocket hands the connection another descriptor (an accepted one).
  void ReplaceSocket(kz::UniqueFd socket);
  // HoldTimeOut(true) starts one deadline for a handshake: until it is released the
  // time-out no longer restarts with each step, so the whole exchange must end within one
  // TimeOut however the peer spreads its bytes. A connection without a time-out ignores it.
  virtual void HoldTimeOut(bool /*hold*/) {}
};

// TclSyncConnection adds the blocking wait: an inactivity time-out and an abort event.
class TclSyncConnection : public TclConnection {
 public:
  TclSyncConnection() = default;
  ~TclSyncConnection() override;

  int TimeOut() const { return FTimeOut; }
  void SetTimeOut(int value) { FTimeOut = value; }
  const std::string& LocalBinding() const { return FLocalBinding; }
  void SetLocalBinding(std::string_view value) { FLocalBinding = value; }

  // Abort may be called from any thread or from the pump hook; it ends the current wait.
  void Abort() override;
  int AbortEventHandle() const override { return FAbortEvent.Get(); }
  // WriteString sends the text in the system ANSI code page; all of it must go out.
  void WriteString(std::string_view AString);
  // ReadString reads what arrives (progress restarts from zero) and returns it as text.
  std::string ReadString();

 protected:
  // WaitForEvents waits for `events` on the socket or the abort event; the socket's
  // readiness comes back in `revents`. True when the socket is ready, false on abort or
  // when the pump hook ran. Raises the time-out after TimeOut ms without progress.
  bool WaitForEvents(short events, short& revents);
  // RestartTimeOut begins a new period of inactivity, unless a handshake holds one deadline.
  void RestartTimeOut() {
    if (!FTimeOutHeld)
      FTimeOutTicks = kz::TickCount();
  }
  // EnumNetworkEvents turns the readiness of one wait into network events.
  TclNetworkEvents EnumNetworkEvents(short revents, bool connecting) const;
  // ClearAbort forgets an earlier abort so that a new Open can run.
  void ClearAbort();

  int FTimeOut = 5000;
  kz::EventFd FAbortEvent;
  std::int64_t FTimeOutTicks = 0;
  bool FTimeOutHeld = false;
  std::string FLocalBinding;

 private:
  void HoldTimeOut(bool hold) override;
};

// TclTcpConnection runs the read and write steps and the next-action dispatch.
class TclTcpConnection : public TclSyncConnection {
 public:
  bool IsReadUntilClose() const { return FIsReadUntilClose; }
  void SetIsReadUntilClose(bool value) { FIsReadUntilClose = value; }

  bool ReadData(TStream* AData) override;
  bool WriteData(TStream* AData) override;
  void DispatchNextAction() override;

 protected:
  void ReadStep(TStream* AData);
  void WriteStep(TStream* AData);

  bool FIsReadUntilClose = false;
};

// TclTcpClientConnection opens a TCP connection to a dotted IPv4 address.
class TclTcpClientConnection : public TclTcpConnection {
 public:
  // Open connects, then runs the stream's session (TLS handshake, SOCKS negotiation).
  void Open(std::string_view AServer, int APort);
  // OpenSession starts a new stream session on the open connection (STARTTLS).
  void OpenSession();
};
