// The TLS security context: a client TLS session (RFC 8446, RFC 5246) over OpenSSL with
// two memory BIOs, driven token in / token out. The context never touches a socket: the
// caller hands it the bytes that arrived and sends the bytes it produces (the TLS network
// stream does both). After the handshake the server's certificate is checked against the
// system's trust store and the target name (RFC 6125), under the five ignore flags.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/EnumSet.h"
#include "core/Stream.h"
#include "net/clCertificate.h"
#include "net/clCryptAPI.h"
#include "net/clSspi.h"

enum TclTlsFlag { tfUseSSL2, tfUseSSL3, tfUseTLS };
using TclTlsFlags = kz::EnumSet<TclTlsFlag>;

enum TclCertificateVerifyFlag {
  cfIgnoreCommonNameInvalid,
  cfIgnoreDateInvalid,
  cfIgnoreUnknownAuthority,
  cfIgnoreRevocation,
  cfIgnoreWrongUsage
};
using TclCertificateVerifyFlags = kz::EnumSet<TclCertificateVerifyFlag>;

// The sizes of the records the context produces: header and trailer around at most
// cbMaximumMessage plaintext bytes.
struct TclStreamSizes {
  int cbHeader = 0;
  int cbTrailer = 0;
  int cbMaximumMessage = 0;
  int cBuffers = 0;
  int cbBlockSize = 0;
};

namespace kz {

// RecordFraming follows the record boundaries (RFC 8446 5.1: a 5-byte header whose last two
// bytes give the body's length) of a byte stream that starts at a boundary, so that it can
// tell whether the bytes so far end inside a record.
class RecordFraming {
 public:
  void Feed(std::string_view bytes);
  bool InsideRecord() const { return headerSeen_ > 0 || bodyLeft_ > 0; }
  void Reset() { *this = RecordFraming(); }

 private:
  unsigned char header_[5] = {};
  std::size_t headerSeen_ = 0;
  std::size_t bodyLeft_ = 0;
};

}  // namespace kz

class TclTlsSspi : public TclSspi {
 public:
  TclTlsSspi();
  ~TclTlsSspi() override;

  // StreamSizes of the established session (EclSSPIError -6 before the handshake ends).
  const TclStreamSizes& StreamSizes();
  TclCertificate* PeerCertificate() const { return FPeerCertificate.get(); }
  bool Certified() const { return FCertified; }
  int StatusCode() const { return FStatusCode; }
  TclCertificateVerifyFlags CertificateFlags() const { return FCertificateFlags; }
  void SetCertificateFlags(TclCertificateVerifyFlags value) { FCertificateFlags = value; }
  TclTlsFlags TLSFlags() const { return FTLSFlags; }
  void SetTLSFlags(TclTlsFlags value) { FTLSFlags = value; }

  // Encrypt turns ASourceSize bytes of ASource (its position is kept) into records that it
  // appends to ADestination, whose position then stands at the first appended byte.
  TclSspiReturnCode Encrypt(TStream* ASource, TStream* ADestination, std::int64_t ASourceSize);
  // Decrypt takes every byte of ASource from its position and appends the plaintext of the
  // complete records to ADestination. The context keeps an incomplete record itself, so
  // AExtraBuffer (which may be ASource) is always left empty. Results: rcOK (every record
  // complete; plaintext or none), rcContinueAndMoreDataNeeded (plaintext, a record
  // incomplete), rcMoreDataNeeded (no plaintext, a record incomplete), rcClosingNeeded
  // (the peer's close notification arrived; plaintext before it is delivered).
  TclSspiReturnCode Decrypt(TStream* ASource, TStream* ADestination, TMemoryStream* AExtraBuffer);
  // Decrypt as above, with the received bytes given directly.
  TclSspiReturnCode Decrypt(std::string_view AInput, TStream* ADestination);

  // One handshake step: ABuffer carries the received bytes in (from its position) and the
  // token to send out. A failed step raises EclSSPIError with a status of the table and
  // the TLS library's reason as Detail; the alert the session wrote for the peer then
  // waits in TakeOutput().
  virtual TclSspiReturnCode GenContext(TMemoryStream* ABuffer, TclCertificateList* ACertificates,
                                       bool AllowEmptyCred) = 0;
  // EndSession produces the close notification in ABuffer (rcCompleteNeeded) and ends
  // the session.
  virtual TclSspiReturnCode EndSession(TMemoryStream* ABuffer) = 0;

  // HandshakeComplete: the session is established (a last token may still wait to be sent).
  bool HandshakeComplete() const;
  // HasPendingInput: part of a record given to Decrypt arrived and waits for the rest.
  bool HasPendingInput() const;
  // TakeOutput: bytes the session produced on its own while decrypting (a key update, an
  // alert) that must be sent.
  std::string TakeOutput();
  bool PeerClosed() const { return FPeerClosed; }

 protected:
  // NewSession creates the TLS library's context and session objects (the credentials).
  void NewSession();
  void FreeSession() noexcept;
  // AppendOutput moves what the session wrote to ADestination.
  void AppendOutput(TStream* ADestination);
  void FeedInput(std::string_view bytes);
  // RaiseSessionError raises the failure of the last TLS library call (`result`).
  [[noreturn]] void RaiseSessionError(int result, int fallbackStatus);

  kz::SslCtxPtr FCtx;
  kz::SslPtr FSsl;
  BIO* FInput = nullptr;   // owned by FSsl
  BIO* FOutput = nullptr;  // owned by FSsl
  TclStreamSizes FStreamSizes;
  int FStatusCode = 0;
  std::unique_ptr<TclCertificate> FPeerCertificate;
  bool FCertified = false;
  bool FPeerClosed = false;
  TclCertificateVerifyFlags FCertificateFlags;
  TclTlsFlags FTLSFlags{tfUseTLS};
  std::vector<char> FPlain;
  // The records Decrypt was given. The library reads a record's header before its body
  // and keeps the header to itself, so its own buffers cannot tell a record cut right
  // after its header from a clean end.
  kz::RecordFraming FFraming;
};

class TclTlsClientSspi : public TclTlsSspi {
 public:
  TclTlsClientSspi();

  const std::string& TargetName() const { return FTargetName; }
  void SetTargetName(std::string_view value) { FTargetName = value; }
  // Upgrade: the session switches a connection that carried plain text before (STARTTLS).
  // A server answer that is not TLS then reads "Unencrypted data arrived before the TLS
  // handshake" (-13); on a connection that starts with TLS it means the port does not take
  // TLS from the first byte (-15).
  bool Upgrade() const { return FUpgrade; }
  void SetUpgrade(bool value) { FUpgrade = value; }

  TclSspiReturnCode GenContext(TMemoryStream* ABuffer, TclCertificateList* ACertificates,
                               bool AllowEmptyCred) override;
  TclSspiReturnCode EndSession(TMemoryStream* ABuffer) override;
  // VerifyServerCertificate checks the server's certificate; false stores the reason in
  // StatusCode.
  bool VerifyServerCertificate();

 private:
  static int ClientCertificateCallback(SSL* ssl, X509** cert, EVP_PKEY** key);
  // AcquireCredentials picks the client certificate (the first of ACertificates with a
  // private key; the others travel as its chain); false when none can be given.
  bool AcquireCredentials(TclCertificateList* ACertificates, bool AllowEmptyCred);
  TclSspiReturnCode StartHandshake(TMemoryStream* ABuffer);
  TclSspiReturnCode ContinueHandshake(TMemoryStream* ABuffer);
  void SetTarget();
  [[noreturn]] void RaiseNotTls(std::string_view input);

  std::string FTargetName;
  bool FUpgrade = false;
  bool FNewConversation = true;
  bool FCheckFirstReply = false;
  bool FAllowEmptyCred = false;
  kz::X509Ptr FClientCert;
  kz::EvpPkeyPtr FClientKey;
};
