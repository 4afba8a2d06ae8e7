// The certificate and TLS services the security code stands on: owning handles for every
// OpenSSL object we create (each freed by its own OpenSSL function, on every path) and the
// few helpers that turn OpenSSL's error queue and objects into text.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <string_view>

namespace kz {

template <auto Fn>
struct CFree {
  template <class T>
  void operator()(T* p) const noexcept {
    Fn(p);
  }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, CFree<&SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, CFree<&SSL_free>>;
using BioPtr = std::unique_ptr<BIO, CFree<&BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, CFree<&X509_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, CFree<&X509_STORE_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, CFree<&X509_STORE_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, CFree<&EVP_PKEY_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CFree<&CMS_ContentInfo_free>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, CFree<&GENERAL_NAMES_free>>;
using ExtKeyUsagePtr = std::unique_ptr<EXTENDED_KEY_USAGE, CFree<&EXTENDED_KEY_USAGE_free>>;

// X509StackPtr owns a stack of certificates and the certificates in it.
struct X509StackFree {
  void operator()(STACK_OF(X509) * p) const noexcept { sk_X509_pop_free(p, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

// UpRef returns a second owning reference to `cert`.
X509Ptr UpRef(X509* cert);

// MemoryBio is a read-only BIO over `data`, which must outlive it.
BioPtr MemoryBio(std::string_view data);
// BioContents is everything written to a memory BIO so far.
std::string BioContents(BIO* bio);

// TakeOpenSslError empties OpenSSL's error queue of this thread and returns the text of
// its oldest entry ("" when the queue was empty).
std::string TakeOpenSslError();

// ObjectText is the dotted identifier of `object`; ObjectName its OpenSSL long name, or the
// dotted identifier when OpenSSL has no name for it.
std::string ObjectText(const ASN1_OBJECT* object);
std::string ObjectName(const ASN1_OBJECT* object);

}  // namespace kz
