#include "net/clCryptAPI.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include <climits>

namespace kz {

X509Ptr UpRef(X509* cert) {
  if (cert != nullptr)
    X509_up_ref(cert);
  return X509Ptr(cert);
}

BioPtr MemoryBio(std::string_view data) {
  const int length =
      data.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(data.size());
  return BioPtr(BIO_new_mem_buf(data.data(), length));
}

std::string BioContents(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  if (length <= 0 || data == nullptr)
    return {};
  return std::string(data, static_cast<std::size_t>(length));
}

std::string TakeOpenSslError() {
  const unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (first == 0)
    return {};
  const char* reason = ERR_reason_error_string(first);
  if (reason != nullptr)
    return reason;
  char buffer[256];
  ERR_error_string_n(first, buffer, sizeof buffer);
  return buffer;
}

std::string ObjectText(const ASN1_OBJECT* object) {
  if (object == nullptr)
    return {};
  char buffer[128];
  const int length = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
  if (length <= 0)
    return {};
  if (static_cast<std::size_t>(length) < sizeof buffer)
    return std::string(buffer, static_cast<std::size_t>(length));
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  OBJ_obj2txt(text.data(), length + 1, object, 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string ObjectName(const ASN1_OBJECT* object) {
  const int nid = OBJ_obj2nid(object);
  if (nid != NID_undef) {
    if (const char* name = OBJ_nid2ln(nid))
      return name;
  }
  return ObjectText(object);
}

}  // namespace kz
