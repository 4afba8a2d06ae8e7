#include "net/clCertificate.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "core/StringUtils.h"

using namespace kz;

namespace {

std::string Asn1Text(const ASN1_STRING* value) {
  if (value == nullptr)
    return {};
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0)
    return {};
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

std::string NameEntry(const X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0)
    return {};
  return Asn1Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

// The simple display name: the common name, else the organisational unit, the
// organisation, the e-mail address.
std::string DisplayName(const X509_NAME* name) {
  for (const int nid :
       {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    std::string text = NameEntry(name, nid);
    if (!text.empty())
      return text;
  }
  return {};
}

// The name as an X.500 string in the order of its encoding: "C=CZ, O=Kadenza, CN=localhost".
std::string X500Text(const X509_NAME* name) {
  BioPtr out(BIO_new(BIO_s_mem()));
  const unsigned long flags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) |
                              XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | XN_FLAG_DUMP_UNKNOWN_FIELDS;
  if (X509_NAME_print_ex(out.get(), name, 0, flags) < 0)
    return {};
  return BioContents(out.get());
}

TDateTime LocalDateTime(const ASN1_TIME* time) {
  std::tm utc{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &utc) != 1)
    return 0;
  return DateTimeFromTimeT(timegm(&utc));
}

// The serial number most significant byte first, as its DER content: a leading zero byte
// stays where the top bit of the first byte is set.
std::string SerialText(const ASN1_INTEGER* serial) {
  const unsigned char* bytes = ASN1_STRING_get0_data(serial);
  const int length = ASN1_STRING_length(serial);
  std::string text;
  if (length > 0 && (bytes[0] & 0x80) != 0)
    text = "00";
  for (int i = 0; i < length; ++i) {
    text.push_back(kHexDigits[bytes[i] >> 4]);
    text.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return text;
}

std::string SubjectEmail(X509* cert) {
  std::string email = NameEntry(X509_get_subject_name(cert), NID_pkcs9_emailAddress);
  if (!email.empty())
    return email;
  GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names.get(), i);
    if (entry->type == GEN_EMAIL)
      return Asn1Text(entry->d.rfc822Name);
  }
  return {};
}

}  // namespace

TclCertificate::TclCertificate(X509* ACertContext) : FCertContext(UpRef(ACertContext)) {
  if (!FCertContext)
    throw std::invalid_argument("TclCertificate: no certificate");
  ReadFields();
}

TclCertificate::TclCertificate(std::string_view AEncoded) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(AEncoded.data());
  ERR_clear_error();
  FCertContext.reset(d2i_X509(nullptr, &bytes, static_cast<long>(AEncoded.size())));
  if (!FCertContext)
    EclCryptError::RaiseLast();
  ReadFields();
}

std::unique_ptr<TclCertificate> TclCertificate::FromPemFile(const std::string& APath) {
  ERR_clear_error();
  BioPtr in(BIO_new_file(APath.c_str(), "r"));
  X509Ptr cert(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert)
    EclCryptError::RaiseLast();
  return std::make_unique<TclCertificate>(cert.get());
}

void TclCertificate::ReadFields() {
  X509* cert = FCertContext.get();
  FIssuedTo = DisplayName(X509_get_subject_name(cert));
  FIssuedBy = DisplayName(X509_get_issuer_name(cert));
  FEmail = SubjectEmail(cert);
  FSerialNumber = SerialText(X509_get0_serialNumber(cert));
  FValidFrom = LocalDateTime(X509_get0_notBefore(cert));
  FValidTo = LocalDateTime(X509_get0_notAfter(cert));
  const char* alias = reinterpret_cast<const char*>(X509_alias_get0(cert, nullptr));
  int aliasLength = 0;
  X509_alias_get0(cert, &aliasLength);
  FFriendlyName = alias != nullptr ? std::string(alias, static_cast<std::size_t>(aliasLength)) : "";
  FUsage = ReadUsage();
  const long version = X509_get_version(cert);
  FVersion = version == 1 ? cvVersion2 : version == 2 ? cvVersion3 : cvVersion1;
  const X509_ALGOR* signature = nullptr;
  X509_get0_signature(nullptr, &signature, cert);
  const ASN1_OBJECT* signatureObject = nullptr;
  X509_ALGOR_get0(&signatureObject, nullptr, nullptr, signature);
  FSignatureAlgorithm = ObjectText(signatureObject);
  FSignatureAlgorithmName = ObjectName(signatureObject);
  ASN1_OBJECT* keyObject = nullptr;
  X509_PUBKEY_get0_param(&keyObject, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(cert));
  FPublicKeyAlgorithm = ObjectText(keyObject);
  FPublicKeyAlgorithmName = ObjectName(keyObject);
  FSubject = X500Text(X509_get_subject_name(cert));
}

// The uses set locally (SetUsage) stand in for the extension, as a local property does.
std::string TclCertificate::ReadUsage() const {
  X509* cert = FCertContext.get();
  std::vector<std::string> oids;
  if (STACK_OF(ASN1_OBJECT)* trusted = X509_get0_trust_objects(cert)) {
    for (int i = 0; i < sk_ASN1_OBJECT_num(trusted); ++i)
      oids.push_back(ObjectText(sk_ASN1_OBJECT_value(trusted, i)));
  } else {
    int critical = 0;
    ERR_clear_error();
    ExtKeyUsagePtr usage(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
    if (!usage && critical != -1)
      EclCryptError::RaiseLast();
    for (int i = 0; usage && i < sk_ASN1_OBJECT_num(usage.get()); ++i)
      oids.push_back(ObjectText(sk_ASN1_OBJECT_value(usage.get(), i)));
  }
  return JoinLines(oids, ",");
}

bool TclCertificate::HasUsage(std::string_view oid) const {
  if (FUsage.empty())
    return true;
  std::string_view rest = FUsage;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    if (rest.substr(0, comma) == oid)
      return true;
    if (comma == std::string_view::npos)
      break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

void TclCertificate::SetFriendlyName(std::string_view AValue) {
  if (AValue == FFriendlyName)
    return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(AValue.data());
  if (X509_alias_set1(FCertContext.get(), AValue.empty() ? nullptr : bytes,
                      static_cast<int>(AValue.size())) != 1) {
    EclCryptError::RaiseLast(ENOMEM);
  }
  FFriendlyName = AValue;
}

void TclCertificate::SetUsage(std::string_view AValue) {
  X509* cert = FCertContext.get();
  X509_trust_clear(cert);
  std::string_view rest = AValue;
  while (!rest.empty()) {
    const std::size_t separator = rest.find_first_of(",;");
    const std::string oid(Trim(rest.substr(0, separator)));
    if (!oid.empty()) {
      ASN1_OBJECT* object = OBJ_txt2obj(oid.c_str(), 1);
      if (object == nullptr)
        EclCryptError::RaiseLast(EINVAL);
      const int added = X509_add1_trust_object(cert, object);
      ASN1_OBJECT_free(object);
      if (added != 1)
        EclCryptError::RaiseLast(ENOMEM);
    }
    if (separator == std::string_view::npos)
      break;
    rest.remove_prefix(separator + 1);
  }
  FUsage = ReadUsage();
}

void TclCertificate::SetPrivateKey(const std::string& AKeyFile, TclKeyType AKeyType,
                                   std::string_view APassword) {
  ERR_clear_error();
  BioPtr in(BIO_new_file(AKeyFile.c_str(), "r"));
  if (!in)
    EclCryptError::RaiseLast(ENOENT);
  std::string password(APassword);
  EvpPkeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr,
                                         password.empty() ? nullptr : password.data()));
  if (!key)
    EclCryptError::RaiseLast(EINVAL);
  if (X509_check_private_key(FCertContext.get(), key.get()) != 1)
    EclCryptError::RaiseLast(EINVAL);
  FKey = std::move(key);
  FKeyType = AKeyType;
  FPrivateKey = AKeyFile;
}

// ---- TclCertificateList ----

TclCertificateList::TclCertificateList(bool AOwnsObjects) : FOwnsObjects(AOwnsObjects) {}

TclCertificateList::~TclCertificateList() {
  Clear();
}

void TclCertificateList::Release(TclCertificate* certificate) {
  if (FOwnsObjects)
    delete certificate;
}

void TclCertificateList::Add(TclCertificate* ACertificate) {
  if (ACertificate == nullptr)
    throw std::invalid_argument("TclCertificateList: no certificate");
  FItems.push_back(ACertificate);
}

TclCertificate* TclCertificateList::AddFrom(const TclCertificate& ACertificate) {
  if (!FOwnsObjects)
    throw std::logic_error("TclCertificateList::AddFrom needs an owning list");
  auto copy = std::make_unique<TclCertificate>(ACertificate.Context());
  FItems.push_back(copy.get());
  return copy.release();
}

void TclCertificateList::Delete(int Index) {
  TclCertificate* item = Items(Index);
  FItems.erase(FItems.begin() + Index);
  Release(item);
}

void TclCertificateList::Remove(TclCertificate* ACertificate) {
  const auto found = std::find(FItems.begin(), FItems.end(), ACertificate);
  if (found == FItems.end())
    return;
  FItems.erase(found);
  Release(ACertificate);
}

void TclCertificateList::Clear() {
  std::vector<TclCertificate*> items;
  items.swap(FItems);
  for (TclCertificate* item : items)
    Release(item);
}

TclCertificate* TclCertificateList::Items(int Index) const {
  if (Index < 0 || Index >= Count())
    throw std::out_of_range("TclCertificateList: index out of range");
  return FItems[static_cast<std::size_t>(Index)];
}
