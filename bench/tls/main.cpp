// bench-tls [MiB] [rounds]: moves MiB (default 256) over loopback with TLS 1.3
// (TLS_AES_128_GCM_SHA256), in both directions, through TclTlsNetworkStream and through
// a plain OpenSSL client loop (SSL_read / SSL_write on the socket, 8192-byte writes),
// against the same OpenSSL server, in one run. It prints MB/s and the ratio ours / plain
// (the best of the rounds, default 5, alternating between the two).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/clCryptAPI.h"
#include "net/clSocket.h"
#include "net/clTlsSocket.h"

namespace {

constexpr std::size_t kBatch = 8192;
constexpr const char* kCipher = "TLS_AES_128_GCM_SHA256";

// CountingSink accepts every byte and only counts them.
class CountingSink : public TStream {
 public:
  using TStream::Write;
  std::size_t Read(std::span<char>) override { return 0; }
  std::size_t Write(std::span<const char> data) override {
    count_ += static_cast<std::int64_t>(data.size());
    return data.size();
  }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return count_; }
  std::int64_t Size() override { return count_; }
  void SetSize(std::int64_t size) override { count_ = size; }

 private:
  std::int64_t count_ = 0;
};

// PatternSource yields `size` bytes of a fixed pattern without holding them.
class PatternSource : public TStream {
 public:
  explicit PatternSource(std::int64_t size) : size_(size) {}
  using TStream::Write;
  std::size_t Read(std::span<char> buffer) override {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(buffer.size(), size_ - pos_));
    std::memset(buffer.data(), 'k', n);
    pos_ += static_cast<std::int64_t>(n);
    return n;
  }
  std::size_t Write(std::span<const char>) override { return 0; }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t base = origin == SeekOrigin::Begin ? 0
                              : origin == SeekOrigin::End ? size_
                                                          : pos_;
    pos_ = std::clamp<std::int64_t>(base + offset, 0, size_);
    return pos_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override {}

 private:
  std::int64_t size_;
  std::int64_t pos_ = 0;
};

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

kz::Socket Listen(int& port) {
  kz::Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(
      ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(s.Get(), 4) == 0,
      "listen");
  socklen_t length = sizeof a;
  ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return s;
}

kz::Socket ConnectPlain(int port) {
  kz::Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(::connect(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0, "connect");
  return s;
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

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
