// TclNetworkStream: the replaceable stream that performs the socket reads and writes of a
// connection. It never blocks: a read drains the socket until it would block, a write sends
// until the socket would block, and the owning connection does all the waiting. Streams
// that run a handshake inside ordinary reads and writes (TLS, SOCKS) derive from it and ask
// the connection for further I/O through NextAction.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"

class TclConnection;

enum TclNetworkStreamAction { saNone, saRead, saWrite };

class TclNetworkStream {
 public:
  TclNetworkStream() = default;
  virtual ~TclNetworkStream() = default;
  TclNetworkStream(const TclNetworkStream&) = delete;
  TclNetworkStream& operator=(const TclNetworkStream&) = delete;

  TclConnection* Connection() const { return FConnection; }
  TclNetworkStreamAction NextAction() const { return FNextAction; }
  bool HasReadData() const { return FHasReadData; }
  void SetHasReadData(bool value) { FHasReadData = value; }
  bool NeedClose() const { return FNeedClose; }
  const std::string& PeerIP() const { return FPeerIP; }
  int PeerPort() const { return FPeerPort; }
  const std::string& IP() const { return FIP; }
  int Port() const { return FPort; }
  std::int64_t BytesProceed() const { return FBytesProceed; }
  virtual void ResetBytesProceed() { FBytesProceed = 0; }

  // UpdateProgress counts n moved bytes here and on the connection and reports progress.
  virtual void UpdateProgress(std::int64_t n);
  virtual void SetConnection(TclConnection* connection);
  // Assign takes over the peer and local address and HasReadData of the stream replaced.
  virtual void Assign(const TclNetworkStream& source);

  // Connect starts a connect to a dotted address on the connection's non-blocking socket
  // and starts the client session; true when the connect completed at once.
  virtual bool Connect(std::string_view AHost, int APort);
  // ConnectEnd reads the local address of the connected socket.
  virtual void ConnectEnd();
  virtual void Bind(std::string_view AHost, int APort);
  // Bind tries the ports from APortBegin to APortEnd, skipping those in use.
  virtual void Bind(std::string_view AHost, int APortBegin, int APortEnd);
  virtual void Broadcast();
  virtual void Listen();
  virtual void Accept();
  // Close ends the stream's session; the plain stream has none and only forgets its state.
  virtual void Close(bool ANotifyPeer);
  virtual void StreamReady();
  // Read appends what the socket holds to AData (none: nothing to do), draining it until
  // a receive would block, the peer closes (NeedClose) or the transfer is done. False
  // exactly when the last receive would have blocked: true means more data may be
  // waiting. A long drain gives the pump hook a turn once a slice.
  virtual bool Read(TStream* AData);
  // Write sends AData from its position on; true when all of it (or the transfer limit)
  // went out, false exactly when the socket would block (AData then stands at the first
  // unsent byte). A long run of sends gives the pump hook a turn once a slice.
  virtual bool Write(TStream* AData);
  // ReadFrom receives one datagram batch into AData and tells its sender.
  virtual bool ReadFrom(TStream* AData, std::string& AIP, int& APort);
  // WriteTo sends at most one batch of AData as a datagram to AHost:APort.
  virtual bool WriteTo(TStream* AData, std::string_view AHost, int APort);
  // ReadBuf / WriteBuf: one raw receive or send; the byte count, or -1 with errno set.
  virtual std::int64_t ReadBuf(std::span<char> buffer);
  virtual std::int64_t WriteBuf(std::span<const char> buffer);
  virtual int GetBatchSize();
  virtual void OpenClientSession() {}
  virtual void OpenServerSession() {}

  void ClearNextAction() { FNextAction = saNone; }
  // SetNextAction: the first request wins until the action is cleared.
  void SetNextAction(TclNetworkStreamAction action);
  void SetPeerInfo(std::string_view AIP, int APort);
  // IsTransferDone: the connection was aborted or BytesToProceed is reached.
  virtual bool IsTransferDone() const;

  // CreateEndPoint builds an IPv4 socket address; an empty host is 0.0.0.0, host names
  // are refused ("Invalid host address", -2), a negative port is "Invalid port number", -3.
  static sockaddr_in CreateEndPoint(std::string_view AHost, int APort);

 protected:
  int SocketHandle() const;
  // ThrottleDelay pauses after a socket call that moved `bytes` when a bandwidth cap is set.
  void ThrottleDelay(std::int64_t bytes);
  void SetLocalInfo(std::string_view AIP, int APort);
  void ReadLocalAddress();
  // ReplaceNextAction sets the next action even when one is set already (a stream that
  // passes on the request of the stream it wraps).
  void ReplaceNextAction(TclNetworkStreamAction action) { FNextAction = action; }
  // SetNeedClose records that a receive returned 0 bytes: the peer has closed.
  void SetNeedClose() { FNeedClose = true; }
  // The connection's transfer limit (BytesToProceed, -1 = none), for a stream that reads a
  // handshake reply and must not take what follows it.
  std::int64_t TransferLimit() const;
  void SetTransferLimit(std::int64_t limit);
  // HoldTimeOut: while held, the connection's time-out is one deadline for the handshake
  // this stream runs, not a limit on each pause of it (see TclConnection::HoldTimeOut).
  void HoldTimeOut(bool hold);

 private:
  TclConnection* FConnection = nullptr;
  TclNetworkStreamAction FNextAction = saNone;
  std::string FIP;
  int FPort = 0;
  std::string FPeerIP;
  int FPeerPort = 0;
  bool FHasReadData = false;
  bool FNeedClose = false;
  std::int64_t FBytesProceed = 0;

  // Buffer is the transfer buffer, grown (never shrunk) to at least `size` bytes.
  std::span<char> Buffer(std::size_t size);
  // SettleSend accounts for a send of `sent` of the `got` bytes just read from AData: the
  // unsent part goes back into AData; false when the socket would block, other failures
  // raise.
  bool SettleSend(TStream* AData, std::size_t got, std::int64_t sent, int error);

  std::vector<char> FBuffer;
};
