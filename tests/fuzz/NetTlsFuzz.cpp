// Fuzzes what a TLS server can send. The first byte picks the target:
//  * even: the rest is a certificate in DER; every field is read from it.
//  * odd: the rest is the server's answer to our ClientHello, cut into segments (each
//    segment's length comes from its leading byte), as reads from a server would deliver
//    it. Only the context's own errors may come out.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/clCertificate.h"
#include "net/clSspiTls.h"

namespace {

void Certificate(std::string_view der) {
  try {
    TclCertificate cert(der);
    // Every field was read at construction; the usage tests walk the usage text.
    if (cert.IsServerAuthentication() && cert.Usage().size() > der.size() * 8)
      __builtin_trap();
  } catch (const EclCryptError&) {
  }
}

void Handshake(const std::uint8_t* data, std::size_t size) {
  TclTlsClientSspi context;
  context.SetTargetName("localhost");
  TclCertificateList certificates(false);
  TMemoryStream buffer;
  try {
    context.GenContext(&buffer, &certificates, false);
    std::size_t i = 0;
    while (i < size) {
      const std::size_t segment = 1 + data[i] % 64;
      ++i;
      const std::size_t take = std::min(segment, size - i);
      buffer.Clear();
      buffer.Write(std::string_view(reinterpret_cast<const char*>(data + i), take));
      buffer.SetPosition(0);
      i += take;
      const TclSspiReturnCode result = context.GenContext(&buffer, &certificates, false);
      if (result == rcOK || result == rcEncodeNeeded || result == rcCredentialNeeded)
        return;
    }
  } catch (const EclSSPIError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No trust store: loading the system's for every run would only slow the fuzzer down.
  ::setenv("SSL_CERT_FILE", "/dev/null", 1);
  ::setenv("SSL_CERT_DIR", "/nonexistent", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1)
    return 0;
  if ((data[0] & 1) == 0)
    Certificate(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  else
    Handshake(data + 1, size - 1);
  return 0;
}
