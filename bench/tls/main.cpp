// bench-tls [MiB] [rounds]: moves MiB (default 256) over loopback with TLS 1.3
// (TLS_AES_128_GCM_SHA256), in both directions, through TclTlsNetworkStream and through
// a plain OpenSSL client loop (SSL_read / SSL_write on the socket, 8192-byte writes),
// against the same OpenSSL server, in one run. It prints MB/s and the ratio ours / plain
// (the best of the rounds, default 5, alternating between the two).
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "net/clCryptAPI.h"
#include "net/clSocket.h"
#include "net/clTlsSocket.h"

namespace {

using kz::bench::ConnectPlain;
using kz::bench::CountingSink;
using kz::bench::Listen;
using kz::bench::PatternSource;
using kz::bench::Seconds;

constexpr std::size_t kBatch = 8192;
constexpr const char* kCipher = "TLS_AES_128_GCM_SHA256";

void Check(bool ok, const char* what) {
  if (!ok)
    throw std::runtime_error(what);
}

// The server: a self-signed P-256 certificate made in memory, TLS 1.3 with one cipher.
kz::SslCtxPtr ServerContext() {
  kz::EvpPkeyPtr key(EVP_EC_gen("P-256"));
  kz::X509Ptr cert(X509_new());
  Check(key && cert, "key or certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509_set_pubkey(cert.get(), key.get());
  Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "sign");
  kz::SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  Check(ctx != nullptr, "server context");
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_3_VERSION);
  SSL_CTX_set_ciphersuites(ctx.get(), kCipher);
  Check(SSL_CTX_use_certificate(ctx.get(), cert.get()) == 1 &&
            SSL_CTX_use_PrivateKey(ctx.get(), key.get()) == 1,
        "server credentials");
  return ctx;
}

// The plain OpenSSL loops, used by the server and by the plain client alike.
void SslSend(SSL* ssl, std::int64_t total) {
  std::vector<char> buffer(kBatch, 'k');
  while (total > 0) {
    const int n =
        SSL_write(ssl, buffer.data(), static_cast<int>(std::min<std::int64_t>(kBatch, total)));
    Check(n > 0, "SSL_write");
    total -= n;
  }
  SSL_shutdown(ssl);
}

std::int64_t SslReceive(SSL* ssl) {
  std::vector<char> buffer(kBatch);
  std::int64_t got = 0;
  for (;;) {
    const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
    if (n <= 0)
      return got;
    got += n;
  }
}

// Server runs one accepted session on a thread: it sends `send` bytes, or (send < 0)
// receives until the client closes and counts them.
class Server {
 public:
  Server(SSL_CTX* ctx, std::int64_t send) {
    listener_ = Listen(port_);
    thread_ = std::thread([this, ctx, send] {
      kz::Socket s(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      kz::SslPtr ssl(SSL_new(ctx));
      SSL_set_fd(ssl.get(), s.Get());
      if (SSL_accept(ssl.get()) != 1)
        return;
      if (send >= 0)
        SslSend(ssl.get(), send);
      else
        received_ = SslReceive(ssl.get());
    });
  }
  ~Server() { Join(); }
  void Join() {
    if (thread_.joinable())
      thread_.join();
  }
  int Port() const { return port_; }
  std::int64_t Received() const { return received_; }

 private:
  kz::Socket listener_;
  int port_ = 0;
  std::int64_t received_ = 0;
  std::thread thread_;
};

void OpenOurs(TclTcpClientConnection& c, int port) {
  auto tls = std::make_unique<TclTlsNetworkStream>();
  tls->SetTargetName("localhost");
  // The benchmark's certificate is made on the spot; its trust is not what is measured.
  tls->SetCertificateFlags({cfIgnoreCommonNameInvalid, cfIgnoreDateInvalid,
                            cfIgnoreUnknownAuthority, cfIgnoreRevocation, cfIgnoreWrongUsage});
  c.SetNetworkStream(std::move(tls));
  c.SetBatchSize(static_cast<int>(kBatch));
  c.SetTimeOut(30000);
  c.Open("127.0.0.1", port);
}

kz::SslPtr OpenPlain(SSL_CTX* clientCtx, const kz::Socket& s) {
  kz::SslPtr ssl(SSL_new(clientCtx));
  SSL_set_fd(ssl.get(), s.Get());
  Check(SSL_connect(ssl.get()) == 1, "SSL_connect");
  return ssl;
}

double OursReceive(SSL_CTX* server, std::int64_t total) {
  Server peer(server, total);
  TclTcpClientConnection c;
  OpenOurs(c, peer.Port());
  CountingSink sink;
  const auto start = std::chrono::steady_clock::now();
  while (c.Active() && sink.Size() < total)
    c.ReadData(&sink);
  const double t = Seconds(start);
  peer.Join();
  Check(sink.Size() == total, "the TLS stream lost bytes");
  return t;
}

double PlainReceive(SSL_CTX* server, SSL_CTX* client, std::int64_t total) {
  Server peer(server, total);
  kz::Socket s = ConnectPlain(peer.Port());
  kz::SslPtr ssl = OpenPlain(client, s);
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t got = SslReceive(ssl.get());
  const double t = Seconds(start);
  peer.Join();
  Check(got == total, "the plain loop lost bytes");
  return t;
}

double OursSend(SSL_CTX* server, std::int64_t total) {
  Server peer(server, -1);
  TclTcpClientConnection c;
  OpenOurs(c, peer.Port());
  PatternSource source(total);
  const auto start = std::chrono::steady_clock::now();
  c.WriteData(&source);
  c.Close(true);
  peer.Join();
  const double t = Seconds(start);
  Check(peer.Received() == total, "the TLS stream lost bytes");
  return t;
}

double PlainSend(SSL_CTX* server, SSL_CTX* client, std::int64_t total) {
  Server peer(server, -1);
  kz::Socket s = ConnectPlain(peer.Port());
  kz::SslPtr ssl = OpenPlain(client, s);
  const auto start = std::chrono::steady_clock::now();
  SslSend(ssl.get(), total);
  ::shutdown(s.Get(), SHUT_WR);
  peer.Join();
  const double t = Seconds(start);
  Check(peer.Received() == total, "the plain loop lost bytes");
  return t;
}

void Report(const char* what, std::int64_t total, double ours, double plain) {
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("%-8s ours %8.1f MB/s   plain SSL_read/SSL_write %8.1f MB/s   ratio %.2fx\n", what,
              mb / ours, mb / plain, plain / ours);
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  const long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5;
  if (mib <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: bench-tls [MiB] [rounds]\n");
    return 2;
  }
  const std::int64_t total = static_cast<std::int64_t>(mib) << 20;
  try {
    kz::SslCtxPtr server = ServerContext();
    kz::SslCtxPtr client(SSL_CTX_new(TLS_client_method()));
    Check(client != nullptr, "client context");
    std::printf("bench-tls: %ld MiB over loopback, TLS 1.3 %s, %zu-byte writes, best of %ld\n", mib,
                kCipher, kBatch, rounds);
    double plainRecv = 1e30, oursRecv = 1e30, plainSend = 1e30, oursSend = 1e30;
    for (long round = 0; round < rounds; ++round) {
      plainRecv = std::min(plainRecv, PlainReceive(server.get(), client.get(), total));
      oursRecv = std::min(oursRecv, OursReceive(server.get(), total));
      plainSend = std::min(plainSend, PlainSend(server.get(), client.get(), total));
      oursSend = std::min(oursSend, OursSend(server.get(), total));
    }
    Report("receive", total, oursRecv, plainRecv);
    Report("send", total, oursSend, plainSend);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench-tls: %s\n", e.what());
    return 1;
  }
  return 0;
}
