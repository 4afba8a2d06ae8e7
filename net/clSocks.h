// SOCKS proxy streams: SOCKS 4 / 4a (RFC-less de facto protocol) and SOCKS 5 (RFC 1928)
// with no authentication or user name and password (RFC 1929). The stream sits in front of
// the stream the client would otherwise use, negotiates the tunnel inside the connection's
// next-action dispatch and then hands every read and write to the wrapped stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/Stream.h"
#include "net/clNetworkStream.h"
#include "net/clSocketError.h"

// A refusal by the proxy (ErrorCode = the proxy's reply code), a reply of another protocol
// version (EPROTO), or a request that cannot be expressed in the protocol (ErrorCode =
// EMSGSIZE, EILSEQ or EINVAL; nothing was sent).
class EclSocksFirewallError : public EclSocketError {
 public:
  using EclSocketError::EclSocketError;
};

enum TclSocksConnectionState { csHello, csAuthenticate, csCommand, csData };

namespace kz {

inline constexpr std::size_t kSocksMaxRequest = 1024;

// SocksBytes turns text into the one byte per character the protocol carries; a
// character above U+00FF cannot be carried and raises EclSocksFirewallError (EILSEQ)
// naming `what`.
std::string SocksBytes(std::string_view utf8, std::string_view what);

std::string Socks4ReplyText(int code);
std::string Socks5ReplyText(int code);

}  // namespace kz

class TclSocksNetworkStream : public TclNetworkStream {
 public:
  // The SOCKS stream owns the wrapped stream; it starts in csHello with saWrite requested.
  explicit TclSocksNetworkStream(std::unique_ptr<TclNetworkStream> ABaseStream);

  TclNetworkStream* BaseStream() const { return FBaseStream.get(); }
  const std::string& TargetServer() const { return FTargetServer; }
  void SetTargetServer(std::string_view value) { FTargetServer = value; }
  std::uint16_t TargetPort() const { return FTargetPort; }
  void SetTargetPort(std::uint16_t value) { FTargetPort = value; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(std::string_view value) { FUserName = value; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(std::string_view value) { FPassword = value; }
  TclSocksConnectionState State() const { return FState; }

  void SetConnection(TclConnection* connection) override;
  void Assign(const TclNetworkStream& source) override;
  void OpenClientSession() override;
  void StreamReady() override;
  bool Read(TStream* AData) override;
  bool Write(TStream* AData) override;
  void Close(bool ANotifyPeer) override;
  void ResetBytesProceed() override;
  bool IsTransferDone() const override;

  // BuildRequest: the bytes to send in the current state (all limits checked). It changes
  // nothing, so it may be called any number of times.
  virtual std::string BuildRequest() const = 0;
  // ParseReply examines everything received in the current state; true when the reply was
  // complete and accepted, false (with saRead requested) while it is still short.
  virtual bool ParseReply(std::string_view reply) = 0;
  // GetReplyLength: the reply bytes expected to the request last sent, as far as known.
  virtual int GetReplyLength() const = 0;
  // CheckRequests refuses, before anything is sent, settings no request could carry.
  virtual void CheckRequests() const = 0;

 protected:
  // ExpectReply is called as the request of the current state goes out: the stream
  // starts waiting for that request's reply.
  virtual void ExpectReply() {}
  // TargetAddressBytes: the four address bytes of a dotted target, or none for a name.
  bool TargetAddressBytes(std::string& out) const;
  void Accepted();

  std::uint16_t FTargetPort = 0;
  std::string FTargetServer;
  TMemoryStream FReadBuffer;
  std::string FUserName;
  std::string FPassword;
  TclSocksConnectionState FState = csHello;
  std::unique_ptr<TclNetworkStream> FBaseStream;

 private:
  void TakeBaseState();

  TMemoryStream FWriteBuffer;  // a request not yet fully sent
  bool FBaseSessionStarted = false;
};

class TclSocks4NetworkStream : public TclSocksNetworkStream {
 public:
  using TclSocksNetworkStream::TclSocksNetworkStream;
  std::string BuildRequest() const override;
  bool ParseReply(std::string_view reply) override;
  int GetReplyLength() const override { return 8; }
  void CheckRequests() const override;
};

class TclSocks5NetworkStream : public TclSocksNetworkStream {
 public:
  using TclSocksNetworkStream::TclSocksNetworkStream;
  std::string BuildRequest() const override { return RequestFor(FState); }
  bool ParseReply(std::string_view reply) override;
  int GetReplyLength() const override { return FBytesToRead; }
  void CheckRequests() const override;

 protected:
  void ExpectReply() override;
  std::string RequestFor(TclSocksConnectionState state) const;

  int FBytesToRead = 2;
};
