// bench-smtp [runs]: sends a 20 MiB and a 2 KiB message with smtp-send and with curl to a
// local sink and prints, for each case, the best wall time and processor time of the runs,
// the peak resident memory of the sending process and our figures as ratios of curl's. The
// two take turns, run by run, so that both see the same load of a shared machine; the best of
// the runs is the figure least disturbed by it.
//
// The sinks: a small one run by this program, in plain text and with TLS from the first byte,
// which costs far less than a sender, so its rows measure the senders; and Postfix's
// smtp-sink, which reads the data a byte at a time and so sets the pace of a large message
// itself. Its own time for that message (sent from memory by this program) is printed as
// the floor that both senders meet.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

template <auto Fn>
struct CFree {
  template <class T>
  void operator()(T* p) const noexcept {
    Fn(p);
  }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, CFree<&SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, CFree<&SSL_free>>;

int ListenLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int FreePort() {
  int port = 0;
  ::close(ListenLoopback(port));
  return port;
}

// Sink answers SMTP, over TLS from the first byte or in plain text, and throws the data
// away. It looks for the end of the data with one search per piece read, so that it costs
// far less than either sender: what the row measures is the sender.
class Sink {
 public:
  // Plain text answers without TLS.
  Sink() { Start(); }
  Sink(const std::string& cert, const std::string& key) : ctx_(SSL_CTX_new(TLS_server_method())) {
    if (SSL_CTX_use_certificate_file(ctx_.get(), cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_.get(), key.c_str(), SSL_FILETYPE_PEM) != 1) {
      std::fprintf(stderr, "bench-smtp: cannot load the sink's certificate\n");
      std::exit(1);
    }
    Start();
  }
  ~Sink() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  int Port() const { return port_; }

 private:
  void Start() {
    listener_ = ListenLoopback(port_);
    thread_ = std::thread([this] { Run(); });
  }
  void Run() {
    while (!stop_) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      // A real server answers at once: no Nagle delay behind the session tickets.
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      if (!ctx_) {
        Serve(fd, nullptr);
      } else {
        SslPtr ssl(SSL_new(ctx_.get()));
        SSL_set_fd(ssl.get(), fd);
        if (SSL_accept(ssl.get()) == 1)
          Serve(fd, ssl.get());
        SSL_shutdown(ssl.get());
      }
      ::close(fd);
    }
  }
  static void Put(int fd, SSL* ssl, const char* line) {
    const auto n = std::strlen(line);
    if (ssl != nullptr)
      SSL_write(ssl, line, static_cast<int>(n));
    else
      (void)!::send(fd, line, n, MSG_NOSIGNAL);
  }
  static long Get(int fd, SSL* ssl, char* chunk, std::size_t size) {
    if (ssl != nullptr)
      return SSL_read(ssl, chunk, static_cast<int>(size));
    return ::recv(fd, chunk, size, 0);
  }
  void Serve(int fd, SSL* ssl) {
    Put(fd, ssl, "220 sink ESMTP\r\n");
    std::string buffer;
    bool inData = false;
    std::vector<char> chunk(256 * 1024);
    for (;;) {
      const long n = Get(fd, ssl, chunk.data(), chunk.size());
      if (n <= 0)
        return;
      buffer.append(chunk.data(), static_cast<std::size_t>(n));
      for (;;) {
        if (inData) {
          const std::size_t end = buffer.find("\r\n.\r\n");
          if (end == std::string::npos) {
            if (buffer.size() > 8)
              buffer.erase(0, buffer.size() - 8);
            break;
          }
          buffer.erase(0, end + 5);
          inData = false;
          Put(fd, ssl, "250 ok\r\n");
          continue;
        }
        const std::size_t eol = buffer.find("\r\n");
        if (eol == std::string::npos)
          break;
        const std::string line = buffer.substr(0, eol);
        buffer.erase(0, eol + 2);
        if (line.rfind("DATA", 0) == 0) {
          inData = true;
          buffer.insert(0, "\r\n");  // the data may end at once with ".\r\n"
          Put(fd, ssl, "354 go\r\n");
        } else if (line.rfind("QUIT", 0) == 0) {
          Put(fd, ssl, "221 bye\r\n");
          return;
        } else {
          Put(fd, ssl, "250 ok\r\n");
        }
      }
    }
  }

  SslCtxPtr ctx_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the sending process
  long peakKiB = 0;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Run starts a program, waits for it and reports its wall time, its processor time and its
// peak resident memory.
Sample Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench-smtp: %s failed (status %d)\n", args[0].c_str(), status);
    std::exit(1);
  }
  return {std::chrono::duration<double>(end - start).count(),
          Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss};
}

// Best runs the two programs in turn `runs` times and gives each one's best wall and
// processor times and its highest peak memory.
std::pair<Sample, Sample> Best(const std::vector<std::string>& ours,
                               const std::vector<std::string>& theirs, int runs) {
  std::pair<Sample, Sample> best{{1e9, 1e9, 0}, {1e9, 1e9, 0}};
  const auto keep = [](Sample& kept, const Sample& s) {
    kept.seconds = std::min(kept.seconds, s.seconds);
    kept.cpuSeconds = std::min(kept.cpuSeconds, s.cpuSeconds);
    kept.peakKiB = std::max(kept.peakKiB, s.peakKiB);
  };
  for (int i = 0; i < runs; ++i) {
    keep(best.first, Run(ours));
    keep(best.second, Run(theirs));
  }
  return best;
}

// ReadReply reads one SMTP reply (up to its final line) from a blocking socket.
bool ReadReply(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    const long n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0)
      return false;
    text.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t start = 0, eol; (eol = text.find("\r\n", start)) != std::string::npos;
         start = eol + 2) {
      if (eol - start >= 4 && text[start + 3] == ' ')
        return true;
    }
  }
}

// FloorSeconds is the best time of a sender that holds the message ready in memory, already
// dot-stuffed, and writes it in 1 MiB pieces: the time the sink itself needs, which no
// sender can go below.
double FloorSeconds(int port, const std::string& path, int runs) {
  std::ifstream in(path, std::ios::binary);
  std::string wire, line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '.')
      wire += '.';
    wire += line;
    wire += '\n';
  }
  wire += ".\r\n";
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ReadReply(fd);
    for (const char* command : {"EHLO bench\r\n", "MAIL FROM:<a@example.org>\r\n",
                                "RCPT TO:<b@example.org>\r\n", "DATA\r\n"}) {
      ok = ok && ::send(fd, command, std::strlen(command), MSG_NOSIGNAL) > 0 && ReadReply(fd);
    }
    for (std::size_t done = 0; ok && done < wire.size();) {
      const long n = ::send(fd, wire.data() + done,
                            std::min<std::size_t>(wire.size() - done, 1 << 20), MSG_NOSIGNAL);
      ok = n > 0;
      done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ReadReply(fd) && ::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL) > 0 && ReadReply(fd);
    ::close(fd);
    if (!ok) {
      std::fprintf(stderr, "bench-smtp: the sink did not take the message from memory\n");
      std::exit(1);
    }
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void WriteMessage(const std::string& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  out << "From: a@example.org\r\nTo: b@example.org\r\nSubject: bench\r\n"
         "Message-ID: <bench@example.org>\r\nX-Mailer: bench\r\n\r\n";
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t written = 0, k = 0;
  std::string line(76, 'A');
  while (written < bytes) {
    for (char& c : line)
      c = alphabet[(k++ * 2654435761u >> 7) % 64];
    if (written % 7000 == 0)
      line[0] = '.';  // a line that needs dot-stuffing now and then
    out << line << "\r\n";
    written += line.size() + 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  ::signal(SIGPIPE, SIG_IGN);
  char dirTemplate[] = "/tmp/kz-bench-smtp-XXXXXX";
  const std::string dir = ::mkdtemp(dirTemplate);
  const std::string big = dir + "/big.eml", small = dir + "/small.eml";
  WriteMessage(big, 20u * 1024 * 1024);
  WriteMessage(small, 2048);
  const std::string cert = dir + "/sink.pem", key = dir + "/sink.key";
  const std::string makeCert = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key +
                               " -out " + cert +
                               " -days 1 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1"
                               " >/dev/null 2>&1";
  if (std::system(makeCert.c_str()) != 0) {
    std::fprintf(stderr, "bench-smtp: openssl could not make the sink's certificate\n");
    return 1;
  }

  // Postfix's smtp-sink for plain text; it must drop root privileges when it has them.
  const int plainPort = FreePort();
  std::fflush(stdout);
  const pid_t sink = ::fork();
  if (sink == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    const std::string where = "127.0.0.1:" + std::to_string(plainPort);
    if (::geteuid() == 0)
      ::execl("/usr/sbin/smtp-sink", "smtp-sink", "-u", "nobody", where.c_str(), "64", nullptr);
    else
      ::execl("/usr/sbin/smtp-sink", "smtp-sink", where.c_str(), "64", nullptr);
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Sink plainSink;
  Sink tlsSink(cert, key);
  ::setenv("SSL_CERT_FILE", cert.c_str(), 1);

  std::printf("%-26s %9s %9s %9s %9s %7s %7s %7s\n", "case", "ours s", "curl s", "ours MiB",
              "curl MiB", "time x", "cpu x", "mem x");
  struct Case {
    std::string name;
    int port;
    bool tls;
    std::string file;
  };
  const std::vector<Case> cases = {
      {"plain 20 MiB", plainSink.Port(), false, big},
      {"plain 20 MiB to smtp-sink", plainPort, false, big},
      {"plain 2 KiB to smtp-sink", plainPort, false, small},
      {"TLS 20 MiB", tlsSink.Port(), true, big},
      {"TLS 2 KiB", tlsSink.Port(), true, small},
  };
  bool ok = true;
  for (const Case& c : cases) {
    const std::string p = std::to_string(c.port);
    std::vector<std::string> ours = {SMTP_SEND,
                                     "--server",
                                     "127.0.0.1",
                                     "--port",
                                     p,
                                     "--from",
                                     "a@example.org",
                                     "--to",
                                     "b@example.org",
                                     "--message",
                                     c.file,
                                     "--tls",
                                     c.tls ? "implicit" : "none"};
    std::vector<std::string> curl = {"/usr/bin/curl",
                                     "-s",
                                     "-S",
                                     std::string(c.tls ? "smtps" : "smtp") + "://127.0.0.1:" + p,
                                     "--mail-from",
                                     "a@example.org",
                                     "--mail-rcpt",
                                     "b@example.org",
                                     "--upload-file",
                                     c.file};
    if (c.tls) {
      // Both check the sink's certificate against the same one-certificate trust store.
      curl.push_back("--cacert");
      curl.push_back(cert);
    }
    const int n = c.file == big ? runs : runs * 4;
    const auto [a, b] = Best(ours, curl, n);
    std::printf("%-26s %9.4f %9.4f %9.1f %9.1f %7.2f %7.2f %7.2f\n", c.name.c_str(), a.seconds,
                b.seconds, a.peakKiB / 1024.0, b.peakKiB / 1024.0, a.seconds / b.seconds,
                a.cpuSeconds / b.cpuSeconds,
                static_cast<double>(a.peakKiB) / static_cast<double>(b.peakKiB));
    if (c.file == big && a.peakKiB / 1024.0 > 2 * 20.0 + 8)
      ok = false;
  }
  // Postfix's sink reads the data a byte at a time: for the large message it, not the
  // sender, sets the pace, so both senders meet this floor.
  std::printf("smtp-sink's own time for the 20 MiB message (sent from memory): %.4f s\n",
              FloorSeconds(plainPort, big, runs));
  ::kill(sink, SIGTERM);
  ::waitpid(sink, nullptr, 0);
  std::system(("rm -rf '" + dir + "'").c_str());
  std::printf(
      "aim: time at most 1.0x curl's (0.9x for the plain 20 MiB message to the benchmark's "
      "sink); peak memory at most 2x the message size\n");
  return ok ? 0 : 1;
}
