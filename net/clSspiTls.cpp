#include "net/clSspiTls.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstdio>

#include "core/DateTime.h"

using namespace kz;

namespace {

constexpr int kMaxRecordPlaintext = 16384;

// The status a failed handshake or record reports, from the library's reason and the
// version the session had agreed on (0 before the server's hello).
int StatusOfReason(unsigned long error, int version, int fallbackStatus) {
  if (ERR_GET_LIB(error) != ERR_LIB_SSL)
    return fallbackStatus;
  const int reason = ERR_GET_REASON(error);
  switch (reason) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
      // The first record's header is not TLS: the peer speaks something else.
      return version == 0 ? kNotTlsCode : kSecEIllegalMessage;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      return kNoCommonVersionCode;
    case SSL_R_LEGACY_SIGALG_DISALLOWED_OR_UNSUPPORTED:
      // TLS 1.0 and 1.1 sign with MD5 and SHA-1, which the security level refuses: a
      // server that offers nothing newer has no version in common with us.
      return version != 0 && version < TLS1_2_VERSION ? kNoCommonVersionCode
                                                      : kSecEAlgorithmMismatch;
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_NO_SHARED_SIGNATURE_ALGORITHMS:
    case SSL_R_NO_SUITABLE_KEY_SHARE:
    case SSL_R_WRONG_CIPHER_RETURNED:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
      return kSecEAlgorithmMismatch;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
    case SSL_R_DECRYPTION_FAILED:
      return kSecEDecryptFailure;
    default:
      // Every other alert the server sent (its reason is the alert's name).
      if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
        return kPeerAlertCode;
      return fallbackStatus;
  }
}

}  // namespace

// ---- RecordFraming ----

void kz::RecordFraming::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    if (bodyLeft_ > 0) {
      const std::size_t take = std::min(bodyLeft_, bytes.size());
      bodyLeft_ -= take;
      bytes.remove_prefix(take);
      continue;
    }
    header_[headerSeen_++] = static_cast<unsigned char>(bytes.front());
    bytes.remove_prefix(1);
    if (headerSeen_ == sizeof header_) {
      bodyLeft_ = header_[3] * 256u + header_[4];
      headerSeen_ = 0;
    }
  }
}

// ---- TclTlsSspi ----

TclTlsSspi::TclTlsSspi() : FPlain(kMaxRecordPlaintext) {}

TclTlsSspi::~TclTlsSspi() {
  FreeSession();
}

void TclTlsSspi::NewSession() {
  FreeSession();
  ERR_clear_error();
  SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx)
    throw EclSSPIError(kAcquireCredentialsCode, TakeOpenSslError());
  // The trust store is the system's, so SSL_CERT_FILE and SSL_CERT_DIR apply as they do
  // for every other program.
  SSL_CTX_set_default_verify_paths(ctx.get());
  // The certificate is checked by VerifyServerCertificate once the handshake is done, so
  // that each failure can be told apart and ignored on request.
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  // Versions. A fresh context carries the system's policy (openssl.cnf MinProtocol and
  // security level) as its bounds; the flags only narrow them, never widen them.
  //  * tfUseTLS: TLS 1.0 up to TLS 1.3 within that policy.
  //  * tfUseSSL2, tfUseSSL3: OpenSSL 3 has no SSL 2.0 and no SSL 3.0 at all, so these flags
  //    enable nothing; with neither TLS flag set no version remains and the context
  //    cannot be made ("Not supported.").
  //  * no flag at all: the library's defaults.
  if (!FTLSFlags.Empty()) {
    if (!FTLSFlags.Contains(tfUseTLS))
      throw EclSSPIError(kNotSupportedCode, "SSL 2.0 and SSL 3.0 are not available");
    const long policyMin = SSL_CTX_get_min_proto_version(ctx.get());
    const long policyMax = SSL_CTX_get_max_proto_version(ctx.get());
    SSL_CTX_set_min_proto_version(ctx.get(), std::max<long>(policyMin, TLS1_VERSION));
    SSL_CTX_set_max_proto_version(
        ctx.get(), policyMax == 0 ? TLS1_3_VERSION : std::min<long>(policyMax, TLS1_3_VERSION));
  }
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION);
  SslPtr ssl(SSL_new(ctx.get()));
  BioPtr input(BIO_new(BIO_s_mem()));
  BioPtr output(BIO_new(BIO_s_mem()));
  if (!ssl || !input || !output)
    throw EclSSPIError(kAcquireCredentialsCode, TakeOpenSslError());
  // An empty memory BIO means "no data yet", never an end of file.
  BIO_set_mem_eof_return(input.get(), -1);
  FInput = input.get();
  FOutput = output.get();
  SSL_set_bio(ssl.get(), input.release(), output.release());  // the session owns them now
  SSL_set_connect_state(ssl.get());
  SSL_set_app_data(ssl.get(), this);
  FCtx = std::move(ctx);
  FSsl = std::move(ssl);
  FStreamSizes = TclStreamSizes();
  FFraming.Reset();
  FPeerClosed = false;
}

void TclTlsSspi::FreeSession() noexcept {
  FSsl.reset();
  FCtx.reset();
  FInput = FOutput = nullptr;
}

void TclTlsSspi::FeedInput(std::string_view bytes) {
  if (bytes.empty())
    return;
  if (!FSsl)
    throw EclSSPIError(kSecEInvalidHandle);
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (BIO_write(FInput, bytes.data(), chunk) != chunk)
      throw EclSSPIError(kOutOfMemoryCode);
    bytes.remove_prefix(static_cast<std::size_t>(chunk));
  }
}

void TclTlsSspi::AppendOutput(TStream* ADestination) {
  char* data = nullptr;
  const long length = FOutput != nullptr ? BIO_get_mem_data(FOutput, &data) : 0;
  if (length > 0) {
    ADestination->Write(std::span<const char>(data, static_cast<std::size_t>(length)));
    (void)BIO_reset(FOutput);
  }
}

std::string TclTlsSspi::TakeOutput() {
  TMemoryStream out;
  AppendOutput(&out);
  return out.TakeData();
}

bool TclTlsSspi::HandshakeComplete() const {
  return FSsl && SSL_is_init_finished(FSsl.get());
}

bool TclTlsSspi::HasPendingInput() const {
  return FSsl && FFraming.InsideRecord();
}

void TclTlsSspi::RaiseSessionError(int result, int fallbackStatus) {
  const int error = SSL_get_error(FSsl.get(), result);
  const unsigned long reason = ERR_peek_error();
  std::string detail = TakeOpenSslError();
  // Until the server's hello has been read the version is "any".
  const int negotiated = SSL_version(FSsl.get());
  const int version = negotiated == TLS_ANY_VERSION ? 0 : negotiated;
  int status = StatusOfReason(reason, version, fallbackStatus);
  if (error == SSL_ERROR_ZERO_RETURN) {
    detail = "the peer closed the session";
    status = fallbackStatus;
  }
  if (detail.empty())
    detail = "the TLS library gave no reason";
  FStatusCode = status;
  throw EclSSPIError(status, detail);
}

const TclStreamSizes& TclTlsSspi::StreamSizes() {
  if (FStreamSizes.cbMaximumMessage != 0)
    return FStreamSizes;
  if (!HandshakeComplete())
    throw EclSSPIError(kPackageInfoCode);
  const SSL_CIPHER* cipher = SSL_get_current_cipher(FSsl.get());
  if (cipher == nullptr)
    throw EclSSPIError(kPackageInfoCode);
  TclStreamSizes sizes;
  sizes.cbHeader = 5;
  sizes.cbMaximumMessage = kMaxRecordPlaintext;
  sizes.cBuffers = 4;
  if (SSL_version(FSsl.get()) >= TLS1_3_VERSION) {
    sizes.cbTrailer = 16 + 1;  // tag and inner content type
    sizes.cbBlockSize = 1;
  } else if (SSL_CIPHER_is_aead(cipher)) {
    sizes.cbTrailer = 16 + 8;  // tag and explicit nonce (at most)
    sizes.cbBlockSize = 1;
  } else {
    sizes.cbTrailer = 16 + EVP_MAX_MD_SIZE + 16;  // explicit IV, MAC, padding
    sizes.cbBlockSize = 16;
  }
  FStreamSizes = sizes;
  return FStreamSizes;
}

TclSspiReturnCode TclTlsSspi::Encrypt(TStream* ASource, TStream* ADestination,
                                      std::int64_t ASourceSize) {
  if (!HandshakeComplete())
    throw EclSSPIError(kSecEInvalidHandle);
  const std::int64_t start = ASource->Position();
  const std::int64_t appendAt = ADestination->Size();
  std::int64_t left = ASourceSize;
  while (left > 0) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(left, kMaxRecordPlaintext));
    const std::size_t got = ASource->Read(std::span<char>(FPlain.data(), chunk));
    if (got == 0)
      break;
    ERR_clear_error();
    const int written = SSL_write(FSsl.get(), FPlain.data(), static_cast<int>(got));
    if (written <= 0) {
      ASource->SetPosition(start);
      RaiseSessionError(written, kSecEInvalidHandle);
    }
    left -= static_cast<std::int64_t>(got);
  }
  ASource->SetPosition(start);
  ADestination->Seek(0, SeekOrigin::End);
  AppendOutput(ADestination);
  ADestination->SetPosition(appendAt);
  return rcOK;
}

TclSspiReturnCode TclTlsSspi::Decrypt(TStream* ASource, TStream* ADestination,
                                      TMemoryStream* AExtraBuffer) {
  TclSspiReturnCode result;
  if (auto* memory = dynamic_cast<TMemoryStream*>(ASource)) {
    const auto position =
        static_cast<std::size_t>(std::clamp<std::int64_t>(memory->Position(), 0, memory->Size()));
    result = Decrypt(memory->Data().substr(position), ADestination);
  } else {
    const std::int64_t start = ASource->Position();
    const std::string input = ASource->ReadAll();
    ASource->SetPosition(start);
    result = Decrypt(input, ADestination);
  }
  if (AExtraBuffer != nullptr)
    AExtraBuffer->Clear();
  return result;
}

TclSspiReturnCode TclTlsSspi::Decrypt(std::string_view AInput, TStream* ADestination) {
  FeedInput(AInput);
  FFraming.Feed(AInput);
  bool produced = false;
  // A successful read leaves the error queue as it was, so clearing it once suffices.
  ERR_clear_error();
  for (;;) {
    const int n = SSL_read(FSsl.get(), FPlain.data(), static_cast<int>(FPlain.size()));
    if (n > 0) {
      ADestination->Write(std::span<const char>(FPlain.data(), static_cast<std::size_t>(n)));
      produced = true;
      continue;
    }
    const int error = SSL_get_error(FSsl.get(), n);
    if (error == SSL_ERROR_WANT_READ)
      break;
    if (error == SSL_ERROR_ZERO_RETURN) {
      FPeerClosed = true;
      return rcClosingNeeded;
    }
    RaiseSessionError(n, kSecEDecryptFailure);
  }
  // Only an incomplete record asks for more: complete records without data (a session
  // ticket, a key update) end the call like data does, so a reader is never kept waiting
  // for bytes the peer has no reason to send.
  if (HasPendingInput())
    return produced ? rcContinueAndMoreDataNeeded : rcMoreDataNeeded;
  return rcOK;
}

// ---- TclTlsClientSspi ----

TclTlsClientSspi::TclTlsClientSspi() {
  // Until the stream gives it the server's name, the target is a text no certificate
  // carries: the current local date and time as a day count.
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", Now());
  FTargetName = text;
}

int TclTlsClientSspi::ClientCertificateCallback(SSL* ssl, X509** cert, EVP_PKEY** key) {
  auto* self = static_cast<TclTlsClientSspi*>(SSL_get_app_data(ssl));
  if (self->FClientCert && self->FClientKey) {
    *cert = UpRef(self->FClientCert.get()).release();
    EVP_PKEY_up_ref(self->FClientKey.get());
    *key = self->FClientKey.get();
    return 1;
  }
  if (self->FAllowEmptyCred)
    return 0;  // the server gets an empty certificate message
  self->FStatusCode = kSecIIncompleteCredentials;
  return -1;  // suspend the handshake: GenContext reports rcCredentialNeeded
}

bool TclTlsClientSspi::AcquireCredentials(TclCertificateList* ACertificates, bool AllowEmptyCred) {
  const int count = ACertificates != nullptr ? ACertificates->Count() : 0;
  TclCertificate* own = nullptr;
  for (int i = 0; i < count && own == nullptr; ++i) {
    if (ACertificates->Items(i)->PrivateKeyHandle() != nullptr)
      own = ACertificates->Items(i);
  }
  if (own == nullptr) {
    if (!AllowEmptyCred)
      return false;
    FAllowEmptyCred = true;
    return true;
  }
  FClientCert = UpRef(own->Context());
  EVP_PKEY_up_ref(own->PrivateKeyHandle());
  FClientKey.reset(own->PrivateKeyHandle());
  for (int i = 0; i < count; ++i) {
    if (ACertificates->Items(i) != own)
      SSL_add1_chain_cert(FSsl.get(), ACertificates->Items(i)->Context());
  }
  return true;
}

void TclTlsClientSspi::SetTarget() {
  X509_VERIFY_PARAM* param = SSL_get0_param(FSsl.get());
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (FTargetName.empty())
    return;
  // An address is checked against the certificate's IP address entries; a name against
  // its DNS names, and it is sent as the server name indication.
  if (X509_VERIFY_PARAM_set1_ip_asc(param, FTargetName.c_str()) == 1)
    return;
  ERR_clear_error();
  SSL_set1_host(FSsl.get(), FTargetName.c_str());
  SSL_set_tlsext_host_name(FSsl.get(), FTargetName.c_str());
}

TclSspiReturnCode TclTlsClientSspi::GenContext(TMemoryStream* ABuffer,
                                               TclCertificateList* ACertificates,
                                               bool AllowEmptyCred) {
  if (FStatusCode == kSecIIncompleteCredentials && !FNewConversation) {
    if (!AcquireCredentials(ACertificates, AllowEmptyCred))
      return rcCredentialNeeded;
  }
  FStatusCode = kSecIContinueNeeded;
  TclSspiReturnCode result;
  if (FNewConversation) {
    FNewConversation = false;
    result = StartHandshake(ABuffer);
  } else {
    result = ContinueHandshake(ABuffer);
  }
  if (!FCertified && !FPeerCertificate && (result == rcOK || result == rcEncodeNeeded))
    FCertified = VerifyServerCertificate();
  return result;
}

TclSspiReturnCode TclTlsClientSspi::StartHandshake(TMemoryStream* ABuffer) {
  NewSession();
  SSL_CTX_set_client_cert_cb(FCtx.get(), &TclTlsClientSspi::ClientCertificateCallback);
  SetTarget();
  FClientCert.reset();
  FClientKey.reset();
  FAllowEmptyCred = false;
  FCertified = false;
  FPeerCertificate.reset();
  ERR_clear_error();
  const int result = SSL_do_handshake(FSsl.get());
  if (result != 1 && SSL_get_error(FSsl.get(), result) != SSL_ERROR_WANT_READ)
    RaiseSessionError(result, kAcquireCredentialsCode);
  ABuffer->Clear();
  AppendOutput(ABuffer);
  ABuffer->SetPosition(0);
  FCheckFirstReply = true;
  return rcAuthContinueNeeded;
}

TclSspiReturnCode TclTlsClientSspi::ContinueHandshake(TMemoryStream* ABuffer) {
  if (!FSsl)
    return rcError;
  const std::string_view input = ABuffer->Data().substr(
      static_cast<std::size_t>(std::min<std::int64_t>(ABuffer->Position(), ABuffer->Size())));
  if (!input.empty() && FCheckFirstReply) {
    // The server's answer starts with a handshake record (22) or an alert (21) of
    // version 3.x. Anything else is not TLS: a server that speaks plain text first, or
    // plain text sent (or injected) before the switch. It must never be read as a reply.
    const auto type = static_cast<unsigned char>(input[0]);
    if ((type != 21 && type != 22) || (input.size() > 1 && input[1] != 3))
      RaiseNotTls(input);
    FCheckFirstReply = false;
  }
  FeedInput(input);
  ABuffer->Clear();
  if (!SSL_is_init_finished(FSsl.get())) {
    ERR_clear_error();
    const int result = SSL_do_handshake(FSsl.get());
    if (result != 1) {
      const int error = SSL_get_error(FSsl.get(), result);
      if (error == SSL_ERROR_WANT_X509_LOOKUP)
        return rcCredentialNeeded;  // FStatusCode is SEC_I_INCOMPLETE_CREDENTIALS
      if (error != SSL_ERROR_WANT_READ)
        RaiseSessionError(result, kSecEIllegalMessage);
    }
  }
  AppendOutput(ABuffer);
  ABuffer->SetPosition(0);
  if (ABuffer->Size() > 0)
    return rcAuthContinueNeeded;
  if (!SSL_is_init_finished(FSsl.get()))
    return rcAuthMoreDataNeeded;
  FStatusCode = 0;
  // Bytes after the last handshake message: application data that came with it. They
  // go back to the caller, who decrypts them at once.
  const std::size_t extra = BIO_ctrl_pending(FInput);
  if (extra > 0) {
    std::string bytes(extra, '\0');
    BIO_read(FInput, bytes.data(), static_cast<int>(extra));
    ABuffer->Write(std::string_view(bytes));
    ABuffer->SetPosition(0);
    return rcEncodeNeeded;
  }
  return rcOK;
}

namespace {

// Quoted shows the first bytes of an answer as a person can read them.
std::string Quoted(std::string_view bytes) {
  constexpr std::size_t kShown = 40;
  std::string text = "\"";
  for (const char c : bytes.substr(0, kShown)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (byte < 0x20 || byte > 0x7E || c == '"' || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    } else {
      text += c;
    }
  }
  text += bytes.size() > kShown ? "\"..." : "\"";
  return text;
}

}  // namespace

void TclTlsClientSspi::RaiseNotTls(std::string_view input) {
  // The library sees the bytes too, so that it reaches its own verdict and writes the
  // alert it sends in such a case (for a peer that is not TLS at all, usually none).
  FeedInput(input);
  ERR_clear_error();
  (void)SSL_do_handshake(FSsl.get());
  std::string reason = TakeOpenSslError();
  FStatusCode = FUpgrade ? kPlainDataBeforeHandshakeCode : kNotTlsCode;
  throw EclSSPIError(FStatusCode,
                     (reason.empty() ? "" : reason + "; ") + "the answer began " + Quoted(input));
}

TclSspiReturnCode TclTlsClientSspi::EndSession(TMemoryStream* ABuffer) {
  FNewConversation = true;
  FCertified = false;
  TclSspiReturnCode result = rcOK;
  if (FSsl && SSL_is_init_finished(FSsl.get()) &&
      (SSL_get_shutdown(FSsl.get()) & SSL_SENT_SHUTDOWN) == 0) {
    ERR_clear_error();
    SSL_shutdown(FSsl.get());
    ABuffer->Clear();
    AppendOutput(ABuffer);
    ABuffer->SetPosition(0);
    if (ABuffer->Size() > 0)
      result = rcCompleteNeeded;
  }
  ERR_clear_error();
  FreeSession();
  return result;
}

// ---- the server's certificate ----

namespace {

struct VerifyCondition {
  int status;
  int flag;  // the TclCertificateVerifyFlag that ignores it, or -1
};

// Each failure the chain check can report becomes one status of the table; the ignore
// flags work on these statuses.
VerifyCondition ConditionOf(int error) {
  switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return {kCertEExpired, cfIgnoreDateInvalid};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      return {kCertEUntrustedRoot, cfIgnoreUnknownAuthority};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return {kCertECnNoMatch, cfIgnoreCommonNameInvalid};
    case X509_V_ERR_INVALID_PURPOSE:
      return {kCertEWrongUsage, cfIgnoreWrongUsage};
    // Revocation lists are not fetched, so these arise only where a caller's trust store
    // carries CRLs and asks for them.
    case X509_V_ERR_CERT_REVOKED:
      return {kCertERevoked, cfIgnoreRevocation};
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
      return {kCertERevocationFailure, cfIgnoreRevocation};
    case X509_V_ERR_INVALID_CA:
      return {kCertERole, -1};
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return {kCertEPathLenConst, -1};
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return {kCertECritical, -1};
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return {kCertEMalformed, -1};
    default:
      return {kTrustEFail, -1};
  }
}

struct VerifyState {
  TclCertificateVerifyFlags flags;
  int status = 0;
};

int VerifyIndex() {
  static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Keeps the chain check going past every failure, so that a later one is still seen,
// and keeps the first failure that no flag ignores.
int CollectFailure(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1)
    return 1;
  auto* state = static_cast<VerifyState*>(X509_STORE_CTX_get_ex_data(ctx, VerifyIndex()));
  const VerifyCondition condition = ConditionOf(X509_STORE_CTX_get_error(ctx));
  const bool ignored = condition.flag >= 0 &&
                       state->flags.Contains(static_cast<TclCertificateVerifyFlag>(condition.flag));
  if (!ignored && state->status == 0)
    state->status = condition.status;
  return 1;
}

}  // namespace

bool TclTlsClientSspi::VerifyServerCertificate() {
  FPeerCertificate.reset();
  X509* peer = FSsl ? SSL_get0_peer_certificate(FSsl.get()) : nullptr;
  if (peer == nullptr)
    throw EclSSPIError(kRemoteCertificateCode);
  FPeerCertificate = std::make_unique<TclCertificate>(peer);

  X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx)
    throw EclSSPIError(kOutOfMemoryCode);
  VerifyState state{FCertificateFlags};
  if (X509_STORE_CTX_init(ctx.get(), SSL_CTX_get_cert_store(FCtx.get()), peer,
                          SSL_get_peer_cert_chain(FSsl.get())) != 1 ||
      X509_STORE_CTX_set_default(ctx.get(), "ssl_server") != 1) {
    throw EclSSPIError(kServerAuthErrorCode, TakeOpenSslError());
  }
  // The same name or address the session was given (SSL_set1_host): a certificate for
  // another host must never pass unnoticed.
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  if (X509_VERIFY_PARAM_set1(param, SSL_get0_param(FSsl.get())) != 1)
    throw EclSSPIError(kServerAuthErrorCode, TakeOpenSslError());
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
  X509_STORE_CTX_set_ex_data(ctx.get(), VerifyIndex(), &state);
  X509_STORE_CTX_set_verify_cb(ctx.get(), &CollectFailure);
  ERR_clear_error();
  if (X509_verify_cert(ctx.get()) < 0)
    throw EclSSPIError(kServerAuthErrorCode, TakeOpenSslError());
  // Without a target name nothing could be compared: that is a name that does not match.
  if (FTargetName.empty() && !FCertificateFlags.Contains(cfIgnoreCommonNameInvalid) &&
      state.status == 0) {
    state.status = kCertECnNoMatch;
  }
  if (state.status != 0) {
    FStatusCode = state.status;
    return false;
  }
  return true;
}
