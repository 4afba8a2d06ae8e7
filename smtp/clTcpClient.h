// TclTcpClient: the base of the protocol clients. It holds the server, port, time-out, TLS
// mode and proxy settings, owns the blocking connection, chooses the network stream
// (plain, TLS from the first byte, SOCKS around either), opens and closes the connection,
// switches an open connection to TLS, and runs an optional keep-alive tick. It knows no
// protocol: descendants fill in the opening and farewell through the virtual operations.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Component.h"
#include "net/clConnection.h"
#include "net/clFirewallUtils.h"
#include "net/clHostIPResolver.h"
#include "net/clSocketError.h"
#include "net/clTlsSocket.h"
#include "smtp/clKeepAlive.h"

// EclTcpClientError: the server answered with a reply the caller does not accept
// (ErrorCode = the reply code, message = the reply lines), or a client-side refusal
// with one of the negative codes below.
class EclTcpClientError : public EclSocketError {
 public:
  using EclSocketError::EclSocketError;
};

namespace kz {
inline constexpr int kDataLineTooLongCode = -100;
inline constexpr std::string_view kDataLineTooLongText =
    "The data line length must be lower than BatchSize";
inline constexpr int kUnsupportedFirewallCode = -101;
inline constexpr std::string_view kUnsupportedFirewallText = "Unsupported firewall type";
inline constexpr int kReplyLineTooLongCode = -102;
inline constexpr std::string_view kReplyLineTooLongText =
    "The server sent a reply line longer than 65536 characters";
inline constexpr int kReplyTooManyLinesCode = -103;
inline constexpr std::string_view kReplyTooManyLinesText =
    "The server sent a reply of more than 1000 lines";
inline constexpr int kCommandLineBreakCode = -104;
inline constexpr std::string_view kCommandLineBreakText =
    "A command must not contain CR or LF characters";
inline constexpr int kServerClosedCode = -105;
inline constexpr std::string_view kServerClosedText =
    "The server closed the connection before its reply was complete";
inline constexpr int kUnsolicitedReplyCode = -106;
inline constexpr std::string_view kUnsolicitedReplyText =
    "The server sent data that answers no command; the session is closed";
}  // namespace kz

namespace kz {
// kBulkBatchSize: the BatchSize for programs that send whole messages: batches of 64 KiB
// (as curl writes) take an eighth of the system calls of the 8 KiB default.
inline constexpr int kBulkBatchSize = 65536;
}  // namespace kz

enum TclClientTlsMode { ctNone = 0, ctAutomatic = 1, ctImplicit = 2, ctExplicit = 3 };

class TclTcpClient : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TclTcpClient* Sender)>;

  // ADefaultPort is the protocol's well-known port, the initial Port.
  explicit TclTcpClient(int ADefaultPort);
  // The destructor closes without the protocol farewell of descendants (their parts are gone
  // by then): a descendant that has one closes in its own destructor.
  virtual ~TclTcpClient();
  TclTcpClient(const TclTcpClient&) = delete;
  TclTcpClient& operator=(const TclTcpClient&) = delete;

  // Open connects and runs the protocol opening; nothing when already active. After a
  // failure the client is closed and the exception reaches the caller unchanged.
  void Open();
  // Close sends the protocol farewell when active, closes the connection and fires OnClose
  // if it was active. Safe when not connected.
  void Close();
  // StartTls switches the open connection to TLS (a protocol sends its own command first).
  virtual void StartTls();
  // ExplicitStartTls decides whether STARTTLS belongs in the opening and runs it.
  bool ExplicitStartTls();

  const std::string& Server() const { return FServer; }
  void SetServer(std::string_view value);
  int Port() const { return FPort; }
  void SetPort(int value);
  const std::string& LocalBinding() const { return FConnection.LocalBinding(); }
  void SetLocalBinding(std::string_view value);
  int BatchSize() const { return FConnection.BatchSize(); }
  void SetBatchSize(int value);
  int TimeOut() const { return FConnection.TimeOut(); }
  void SetTimeOut(int value);
  TclClientTlsMode UseTLS() const { return FUseTLS; }
  virtual void SetUseTLS(TclClientTlsMode value);
  int BitsPerSec() const { return FConnection.BitsPerSec(); }
  void SetBitsPerSec(int value);
  int KeepAlive() const { return FKeepAlive; }
  void SetKeepAlive(int value);
  TclCertificateVerifyFlags CertificateFlags() const { return FCertificateFlags; }
  void SetCertificateFlags(TclCertificateVerifyFlags value);
  TclTlsFlags TLSFlags() const { return FTLSFlags; }
  void SetTLSFlags(TclTlsFlags value);
  TclFirewallSettings& FirewallSettings() { return FFirewallSettings; }
  void SetFirewallSettings(const TclFirewallSettings& value) { FFirewallSettings.Assign(value); }

  // IsTls: the connection's current stream is a TLS stream.
  bool IsTls() const;
  TclTcpClientConnection& Connection() { return FConnection; }
  bool Active() const { return FConnection.Active(); }
  bool InProgress() const { return FInProgress; }

  TNotifyEvent OnChanged;
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  // Forwarded from the TLS stream (Sender is this client).
  TclGetCertificateEvent OnGetCertificate;
  TclVerifyPeerEvent OnVerifyServer;

 protected:
  virtual int GetDefaultPort() const = 0;
  // IsStartTlsPort: under ctAutomatic, the ports that speak plain text first and then
  // STARTTLS; every other port takes TLS from the first byte. Here: the default port.
  virtual bool IsStartTlsPort(int APort) const { return APort == GetDefaultPort(); }
  virtual void OpenConnection(std::string_view AServer, int APort);
  virtual void InternalOpen();
  virtual void InternalClose();
  virtual void SendKeepAlive() {}
  // CreateTlsStream makes the TLS stream for the current settings (server name, checks).
  virtual std::unique_ptr<TclNetworkStream> CreateTlsStream();
  // CheckConnected raises "The connection to the server is not active" (-6).
  void CheckConnected() const;
  // CleanUpAfterFailure closes without the protocol farewell; socket errors of that close
  // are dropped so that the caller's exception is the one that counts.
  void CleanUpAfterFailure();

  virtual void DoChanged();
  virtual void DoOpen();
  virtual void DoClose();
  virtual void DoGetCertificate(TclCertificate*& ACertificate, TclCertificateList& AExtraCerts,
                                bool& Handled);
  virtual void DoVerifyServer(TclCertificate* ACertificate, const std::string& AStatusText,
                              int AStatusCode, bool& AVerified);

  bool FInProgress = false;

 private:
  std::unique_ptr<TclNetworkStream> CreateSocksStream(std::unique_ptr<TclNetworkStream> inner,
                                                      std::string_view AServer, int APort);
  void StartKeepAliveTimer();
  void StopKeepAliveTimer();
  void KeepAliveTick();
  void SetNoDelay();

  TclTcpClientConnection FConnection;
  std::string FServer;
  int FPort = 0;
  TclClientTlsMode FUseTLS = ctNone;
  TclCertificateVerifyFlags FCertificateFlags;
  TclTlsFlags FTLSFlags{tfUseTLS};
  TclHostIPResolver FIPResolver;
  TclFirewallSettings FFirewallSettings;
  int FKeepAlive = 0;
  kz::TclIntervalTimer FTimer;
};

// InProgressGuard sets a client's in-progress flag for its scope and restores it after.
class InProgressGuard {
 public:
  explicit InProgressGuard(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~InProgressGuard() { flag_ = saved_; }
  InProgressGuard(const InProgressGuard&) = delete;
  InProgressGuard& operator=(const InProgressGuard&) = delete;

 private:
  bool& flag_;
  bool saved_;
};
