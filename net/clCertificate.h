// X.509 certificates (RFC 5280): TclCertificate wraps one certificate and reads its fields
// once, as text, dates and flags; TclCertificateList keeps an ordered list of them. The
// message operations (sign, encrypt, decrypt, verify) produce and read CMS messages
// (RFC 5652) in DER form.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "net/clCryptAPI.h"
#include "net/clCryptUtils.h"

enum TclCertificateVersion { cvVersion1, cvVersion2, cvVersion3 };
enum TclKeyType { ktKeyExchange = 1, ktSignature = 2 };

class TclCertificate;
class TclCertificateList;

// TclVerifyPeerEvent is offered the server's certificate with the outcome of its check;
// the handler may change AVerified either way.
using TclVerifyPeerEvent =
    std::function<void(void* Sender, TclCertificate* ACertificate, const std::string& AStatusText,
                       int AStatusCode, bool& AVerified)>;

namespace kz {
inline constexpr std::string_view kServerAuthOid = "1.3.6.1.5.5.7.3.1";
inline constexpr std::string_view kClientAuthOid = "1.3.6.1.5.5.7.3.2";
inline constexpr std::string_view kCodeSigningOid = "1.3.6.1.5.5.7.3.3";
inline constexpr std::string_view kSecureEmailOid = "1.3.6.1.5.5.7.3.4";
}  // namespace kz

class TclCertificate {
 public:
  // Wraps another reference to an existing certificate.
  explicit TclCertificate(X509* ACertContext);
  // Builds the certificate from its DER bytes; bytes that do not parse raise EclCryptError.
  explicit TclCertificate(std::string_view AEncoded);
  // FromPemFile reads the first certificate of a PEM file (EclCryptError when none).
  static std::unique_ptr<TclCertificate> FromPemFile(const std::string& APath);

  X509* Context() const { return FCertContext.get(); }
  const std::string& IssuedTo() const { return FIssuedTo; }
  const std::string& IssuedBy() const { return FIssuedBy; }
  const std::string& Email() const { return FEmail; }
  TDateTime ValidFrom() const { return FValidFrom; }
  TDateTime ValidTo() const { return FValidTo; }
  const std::string& SerialNumber() const { return FSerialNumber; }
  TclCertificateVersion Version() const { return FVersion; }
  const std::string& SignatureAlgorithm() const { return FSignatureAlgorithm; }
  const std::string& SignatureAlgorithmName() const { return FSignatureAlgorithmName; }
  const std::string& PublicKeyAlgorithm() const { return FPublicKeyAlgorithm; }
  const std::string& PublicKeyAlgorithmName() const { return FPublicKeyAlgorithmName; }
  const std::string& Subject() const { return FSubject; }
  // PrivateKey names where the private key came from (the key file), empty without one.
  const std::string& PrivateKey() const { return FPrivateKey; }
  const std::string& Usage() const { return FUsage; }
  const std::string& FriendlyName() const { return FFriendlyName; }

  // The usage tests are true when Usage is empty (no restriction) or lists the purpose.
  bool IsServerAuthentication() const { return HasUsage(kz::kServerAuthOid); }
  bool IsClientAuthentication() const { return HasUsage(kz::kClientAuthOid); }
  bool IsCodeSigning() const { return HasUsage(kz::kCodeSigningOid); }
  bool IsSecureEmail() const { return HasUsage(kz::kSecureEmailOid); }

  // SetFriendlyName and SetUsage change the certificate's local attributes (its alias and
  // trusted uses), not its signed content. Usage identifiers may be separated by "," or ";".
  void SetFriendlyName(std::string_view AValue);
  void SetUsage(std::string_view AValue);
  // SetPrivateKey reads the matching private key from a PEM file (an encrypted key needs
  // APassword); a key that does not belong to the certificate raises EclCryptError.
  void SetPrivateKey(const std::string& AKeyFile, TclKeyType AKeyType = ktKeyExchange,
                     std::string_view APassword = {});
  EVP_PKEY* PrivateKeyHandle() const { return FKey.get(); }
  TclKeyType KeyType() const { return FKeyType; }

  // Sign makes a signed message with this certificate's private key and SHA-256 (SHA-1
  // signatures can be forged by collision and are refused by current mail readers);
  // ADetached leaves the data out; AIncludeCertificates adds the signer's and AExtraCerts'
  // certificates.
  std::string Sign(std::string_view AData, bool ADetached, bool AIncludeCertificates = true,
                   const TclCertificateList* AExtraCerts = nullptr) const;
  // Encrypt makes an enveloped message for this certificate's owner, or for every
  // certificate of ARecipients, with AES-256-CBC as content cipher (RC2 is weak and
  // OpenSSL 3 no longer offers it by default).
  std::string Encrypt(std::string_view AData) const;
  static std::string Encrypt(std::string_view AData, const TclCertificateList& ARecipients);
  // Decrypt opens an enveloped message with this certificate and its private key.
  std::string Decrypt(std::string_view AEnveloped) const;
  // VerifyEnveloped checks the signature of a signed message that carries its data and
  // returns the data; VerifyDetached checks a detached signature over AData. Only the
  // signature is checked, not the signer's chain of trust.
  static std::string VerifyEnveloped(std::string_view ASigned);
  static void VerifyDetached(std::string_view AData, std::string_view ASignature);

 private:
  void ReadFields();
  bool HasUsage(std::string_view oid) const;
  std::string ReadUsage() const;

  kz::X509Ptr FCertContext;
  kz::EvpPkeyPtr FKey;
  TclKeyType FKeyType = ktKeyExchange;
  std::string FIssuedTo, FEmail, FIssuedBy;
  TDateTime FValidTo = 0, FValidFrom = 0;
  std::string FSerialNumber;
  std::string FFriendlyName;
  TclCertificateVersion FVersion = cvVersion1;
  std::string FPrivateKey;
  std::string FPublicKeyAlgorithm, FPublicKeyAlgorithmName;
  std::string FSubject;
  std::string FSignatureAlgorithm, FSignatureAlgorithmName;
  std::string FUsage;
};

// TclCertificateList: an ordered list of certificates. An owning list (AOwnsObjects)
// deletes the certificates it removes, clears or holds at its end; another list only
// refers to certificates owned elsewhere.
class TclCertificateList {
 public:
  explicit TclCertificateList(bool AOwnsObjects);
  ~TclCertificateList();
  TclCertificateList(const TclCertificateList&) = delete;
  TclCertificateList& operator=(const TclCertificateList&) = delete;

  // Add appends; an owning list takes ownership of ACertificate.
  void Add(TclCertificate* ACertificate);
  void Add(std::unique_ptr<TclCertificate> ACertificate) { Add(ACertificate.release()); }
  // AddFrom appends a new certificate wrapping the same X.509 object and returns it; only
  // an owning list can hold such a copy.
  TclCertificate* AddFrom(const TclCertificate& ACertificate);
  void Delete(int Index);
  void Remove(TclCertificate* ACertificate);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TclCertificate* Items(int Index) const;
  bool OwnsObjects() const { return FOwnsObjects; }

 private:
  void Release(TclCertificate* certificate);

  std::vector<TclCertificate*> FItems;
  bool FOwnsObjects;
};
