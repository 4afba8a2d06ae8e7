// TclTlsNetworkStream: the network stream that runs TLS over a connection. Installed
// before connecting it starts its handshake as soon as the socket is up (TLS from the
// first byte); installed on an open connection, the connection's OpenSession runs the
// handshake (STARTTLS, RFC 3207). The handshake runs inside the connection's ordinary
// read and write dispatch; afterwards every write becomes one record per batch and reads
// hand out the decrypted bytes. The server is accepted through its certificate check and
// the OnVerifyPeer event; closing sends the close notification.
//
// A stream and its context belong to the connection's thread: every call, the events
// included, runs there, and nothing in them locks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Stream.h"
#include "net/clCertificate.h"
#include "net/clNetworkStream.h"
#include "net/clSspiTls.h"

// TclGetCertificateEvent asks for a client certificate when the server requests one.
// The handler sets ACertificate (with its private key; it stays the handler's) and may add
// further certificates of its chain to AExtraCerts (a list that does not own them);
// Handled = true with no certificate lets the handshake go on without one.
using TclGetCertificateEvent = std::function<void(void* Sender, TclCertificate*& ACertificate,
                                                  TclCertificateList& AExtraCerts, bool& Handled)>;

class TclTlsNetworkStream : public TclNetworkStream {
 public:
  TclTlsNetworkStream();
  ~TclTlsNetworkStream() override;

  const std::string& TargetName() const { return FTargetName; }
  void SetTargetName(std::string_view value);
  TclCertificateVerifyFlags CertificateFlags() const { return FCertificateFlags; }
  void SetCertificateFlags(TclCertificateVerifyFlags value);
  TclTlsFlags TLSFlags() const { return FTLSFlags; }
  void SetTLSFlags(TclTlsFlags value);
  bool RequireClientCertificate() const { return FRequireClientCertificate; }
  void SetRequireClientCertificate(bool value) { FRequireClientCertificate = value; }
  // PeerVerified: the server of the current session was accepted.
  bool PeerVerified() const { return FPeerVerified; }
  // SSPI is the current session's context (none before the first session).
  TclTlsSspi* SSPI();

  TclGetCertificateEvent OnGetCertificate;
  TclVerifyPeerEvent OnVerifyPeer;

  void Assign(const TclNetworkStream& source) override;
  void UpdateProgress(std::int64_t n) override;
  bool Read(TStream* AData) override;
  bool Write(TStream* AData) override;
  void Close(bool ANotifyPeer) override;
  int GetBatchSize() override;
  // OpenClientSession starts a new session with a fresh context; plain bytes that already
  // wait on the connection make it fail ("Unencrypted data arrived before the TLS
  // handshake", -13): they would otherwise be taken for the server's answer.
  void OpenClientSession() override;
  // The server side of the handshake is not provided ("Not supported.", -12).
  void OpenServerSession() override;
  // The handshake's end reports readiness itself; the connection's call does nothing.
  void StreamReady() override {}

 private:
  // The phases a session passes through, each stored as the FSSPIResult (and, for the
  // two that make the next write run a handshake step, FNeedAuthenticate) that names it.
  // MoveTo is the only place either field changes.
  enum class Phase {
    kSessionOpened,           // rcOK, FNeedAuthenticate: the next write starts the handshake
    kTokenToSend,             // rcAuthContinueNeeded: a handshake token waits in FSSPIBuffer
    kAwaitingServer,          // rcAuthDataNeeded: our token went out; the server answers next
    kHandshakePart,           // rcAuthMoreDataNeeded: part of a handshake message arrived
    kCredentialNeeded,        // rcCredentialNeeded: the server asks for a client certificate
    kDataWithHandshake,       // rcEncodeNeeded: application data came with the last message
    kEstablished,             // rcOK: records go both ways
    kRecordPart,              // rcMoreDataNeeded: part of a record arrived
    kPeerClosed,              // rcClosingNeeded: the server's close notification arrived
    kCloseNotifyToSend,       // rcCompleteNeeded: our close notification waits in FSSPIBuffer
    kRenegotiationRequested,  // rcReAuthNeeded, FNeedAuthenticate: the next write renegotiates
    kClosed,                  // rcReAuthNeeded: the session has ended
    kFailed,                  // rcError: the context could not run the step
  };
  // PhaseAfter is the phase a context result leads to.
  static Phase PhaseAfter(TclSspiReturnCode AResult);
  void MoveTo(Phase APhase);
  void Authenticate(TStream* ADestination);
  // Step runs one handshake step of the context; a failed step sends the session's alert
  // to the server before its error goes on.
  TclSspiReturnCode Step(TclCertificateList* ACertificates, bool AllowEmptyCred);
  void SendAlert();
  void ProcessIncoming(std::string_view AIncoming, TStream* ADestination);
  void DecryptBuffer(TStream* ADestination);
  void Decrypted(TclSspiReturnCode AResult);
  // ReadIncoming receives and processes what the socket holds, one receive at a time
  // (each record is decrypted while it is still in the cache), until the socket would
  // block, the peer closes, the session ends or a pump slice has passed.
  void ReadIncoming(TStream* ADestination);
  bool SendEncrypted(TStream* AData, std::int64_t ASize);
  // SendOutput queues what the context produced on its own (a key update, an alert).
  void SendOutput();
  void VerifyPeer();
  void HandshakeDone();
  // SwitchesOpenConnection: the session starts on a connection that carried plain text.
  bool SwitchesOpenConnection() const;
  void CheckNoPlainData();
  void CheckEndOfStream();
  void DiscardUnread();
  bool InHandshake() const;

  TMemoryStream FReadData;      // decrypted bytes not handed out yet
  TMemoryStream FWriteData;     // wire bytes waiting to be sent
  TMemoryStream FSSPIBuffer;    // received wire bytes being processed, or a token
  std::vector<char> FReceived;  // one raw receive
  std::unique_ptr<TclTlsClientSspi> FSSPI;
  TclSspiReturnCode FSSPIResult = rcOK;
  int FPacketSize = 0;
  bool FNeedAuthenticate = false;
  std::int64_t FWriteSize = 0;
  TclCertificateVerifyFlags FCertificateFlags;
  std::string FTargetName;
  TclTlsFlags FTLSFlags{tfUseTLS};
  bool FPeerVerified = false;
  bool FVerifyDone = false;
  bool FUpgrade = false;  // the session switched a connection that carried plain text
  bool FRequireClientCertificate = false;
};
