// The message operations of TclCertificate: signed and enveloped CMS messages (RFC 5652)
// in DER form.
#include <openssl/err.h>

#include "net/clCertificate.h"

using namespace kz;

namespace {

// NTE_NO_KEY: the certificate has no private key to sign or decrypt with.
constexpr int kNoKeyCode = static_cast<int>(0x8009000Du);

std::string ToDer(CMS_ContentInfo* cms) {
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!out || i2d_CMS_bio(out.get(), cms) != 1)
    EclCryptError::RaiseLast();
  return BioContents(out.get());
}

CmsPtr FromDer(std::string_view der) {
  ERR_clear_error();
  BioPtr in = MemoryBio(der);
  CmsPtr cms(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
  if (!cms)
    EclCryptError::RaiseLast();
  return cms;
}

// StackOf: a stack holding a reference to every certificate of `list` (none: empty).
X509StackPtr StackOf(const TclCertificateList* list) {
  X509StackPtr stack(sk_X509_new_null());
  if (!stack)
    EclCryptError::RaiseLast();
  for (int i = 0; list != nullptr && i < list->Count(); ++i) {
    X509Ptr cert = UpRef(list->Items(i)->Context());
    if (sk_X509_push(stack.get(), cert.get()) <= 0)
      EclCryptError::RaiseLast();
    cert.release();  // the stack owns it now
  }
  return stack;
}

}  // namespace

std::string TclCertificate::Sign(std::string_view AData, bool ADetached, bool AIncludeCertificates,
                                 const TclCertificateList* AExtraCerts) const {
  if (!FKey)
    throw EclCryptError("The certificate has no private key", kNoKeyCode);
  ERR_clear_error();
  X509StackPtr extra = StackOf(AIncludeCertificates ? AExtraCerts : nullptr);
  const unsigned flags = CMS_BINARY | CMS_PARTIAL | (ADetached ? CMS_DETACHED : 0u) |
                         (AIncludeCertificates ? 0u : CMS_NOCERTS);
  BioPtr in = MemoryBio(AData);
  CmsPtr cms(CMS_sign(nullptr, nullptr, extra.get(), nullptr, flags));
  if (!cms ||
      CMS_add1_signer(cms.get(), FCertContext.get(), FKey.get(), EVP_sha256(), flags) == nullptr ||
      CMS_final(cms.get(), in.get(), nullptr, flags) != 1) {
    EclCryptError::RaiseLast();
  }
  return ToDer(cms.get());
}

std::string TclCertificate::Encrypt(std::string_view AData) const {
  TclCertificateList recipients(true);
  recipients.AddFrom(*this);
  return Encrypt(AData, recipients);
}

std::string TclCertificate::Encrypt(std::string_view AData, const TclCertificateList& ARecipients) {
  ERR_clear_error();
  X509StackPtr recipients = StackOf(&ARecipients);
  BioPtr in = MemoryBio(AData);
  CmsPtr cms(CMS_encrypt(recipients.get(), in.get(), EVP_aes_256_cbc(), CMS_BINARY));
  if (!cms)
    EclCryptError::RaiseLast();
  return ToDer(cms.get());
}

std::string TclCertificate::Decrypt(std::string_view AEnveloped) const {
  if (!FKey)
    throw EclCryptError("The certificate has no private key", kNoKeyCode);
  CmsPtr cms = FromDer(AEnveloped);
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!out ||
      CMS_decrypt(cms.get(), FKey.get(), FCertContext.get(), nullptr, out.get(), CMS_BINARY) != 1) {
    EclCryptError::RaiseLast();
  }
  return BioContents(out.get());
}

std::string TclCertificate::VerifyEnveloped(std::string_view ASigned) {
  CmsPtr cms = FromDer(ASigned);
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!out || CMS_verify(cms.get(), nullptr, nullptr, nullptr, out.get(),
                         CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    EclCryptError::RaiseLast();
  }
  return BioContents(out.get());
}

void TclCertificate::VerifyDetached(std::string_view AData, std::string_view ASignature) {
  CmsPtr cms = FromDer(ASignature);
  BioPtr data = MemoryBio(AData);
  if (CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr,
                 CMS_BINARY | CMS_DETACHED | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    EclCryptError::RaiseLast();
  }
}
