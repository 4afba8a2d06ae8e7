#include "TlsTestPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tlstest {

namespace {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

void SendBytes(int fd, const char* data, std::size_t n, bool oneAtATime) {
  if (!oneAtATime) {
    nettest::SendAll(fd, std::string_view(data, n));
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    nettest::SendAll(fd, std::string_view(data + i, 1));
    ::usleep(50);
  }
}

std::string& MadeFolderOfThisProgram() {
  static std::string folder;
  return folder;
}

}  // namespace

TestCertificates::TestCertificates() {
  char pattern[] = "/tmp/kadenza-tls-XXXXXX";
  if (::mkdtemp(pattern) == nullptr)
    return;
  dir_ = pattern;
  const std::string command =
      std::string("sh ") + NET_TEST_DIR + "/make-test-certs.sh " + ShellQuote(dir_);
  ready_ = std::system(command.c_str()) == 0;
  // Only the test CA is trusted, as a system store holding just that CA would be.
  ::setenv("SSL_CERT_FILE", Path("ca").c_str(), 1);
  ::setenv("SSL_CERT_DIR", dir_.c_str(), 1);
  MadeFolderOfThisProgram() = dir_;
}

std::string TestCertificates::MadeFolder() {
  return MadeFolderOfThisProgram();
}

namespace {

// The folder goes when the program's tests are done, while everything is still alive (a
// clean-up at exit would run after the objects that know the folder are gone). A folder
// that cannot be removed fails the program.
class RemoveCertificates : public ::testing::Environment {
 public:
  void TearDown() override {
    const std::string folder = TestCertificates::MadeFolder();
    if (folder.empty())
      return;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    EXPECT_FALSE(error) << "cannot remove " << folder << ": " << error.message();
    EXPECT_FALSE(std::filesystem::exists(folder)) << folder << " is left behind";
  }
};

[[maybe_unused]] ::testing::Environment* const kRemoveCertificates =
    ::testing::AddGlobalTestEnvironment(new RemoveCertificates);

}  // namespace

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates;
  return certificates;
}

SServer::SServer(const std::string& cert, const std::vector<std::string>& args,
                 const std::string& input) {
  const TestCertificates& certs = TestCertificates::Get();
  log_ = certs.Dir() + "/s_server-" + std::to_string(::getpid()) + "-" +
         std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".log";
  std::string command = "(printf '%s' " + ShellQuote(input) +
                        "; exec sleep 60) | exec openssl s_server -accept 127.0.0.1:0 -cert " +
                        ShellQuote(certs.Path(cert)) + " -key " + ShellQuote(certs.Key(cert));
  for (const std::string& arg : args)
    command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(log_) + " 2>&1";
  process_ =
      std::make_unique<nettest::ChildProcess>("/bin/sh", std::vector<std::string>{"-c", command});
  if (!WaitForLog("ACCEPT 127.0.0.1:"))
    return;
  const std::string log = Log();
  port_ = std::atoi(log.c_str() + log.find("ACCEPT 127.0.0.1:") + 17);
}

SServer::~SServer() {
  process_.reset();
  std::filesystem::remove(log_);
}

std::string SServer::Log() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool SServer::WaitForLog(const std::string& text, int timeoutMs) const {
  const std::int64_t deadline = kz::TickCount() + timeoutMs;
  while (kz::TickCount() < deadline) {
    if (Log().find(text) != std::string::npos)
      return true;
    ::usleep(10000);
  }
  return false;
}

Relay::Relay(int target, Mode mode, std::function<void(int clientFd)> prologue)
    : listener_(nettest::ListenLoopback()), target_(target) {
  port_ = nettest::LocalPort(listener_.Get());
  thread_ = std::thread(
      [this, mode, prologue = std::move(prologue)] { Run(static_cast<int>(mode), prologue); });
}

Relay::~Relay() {
  stop_ = true;
  thread_.join();
}

void Relay::ResetClient() {
  reset_ = true;
  for (int i = 0; i < 200 && reset_; ++i)
    ::usleep(5000);
}

std::string Relay::ClientBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return clientBytes_;
}

void Relay::Run(int modeValue, std::function<void(int)> prologue) {
  const Mode mode = static_cast<Mode>(modeValue);
  kz::Socket client = nettest::AcceptWithin(listener_.Get());
  if (!client.Valid())
    return;
  if (prologue)
    prologue(client.Get());
  kz::Socket server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(target_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(server.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return;
  const int on = 1;
  ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(server.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const bool oneAtATime = mode == Mode::kByteAtATime;
  char buffer[65536];
  while (!stop_) {
    if (reset_) {
      const linger abort{1, 0};
      ::setsockopt(client.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      client.Reset();
      reset_ = false;
      return;
    }
    pollfd fds[2] = {{client.Get(), POLLIN, 0}, {server.Get(), POLLIN, 0}};
    if (::poll(fds, 2, 20) <= 0)
      continue;
    if (fds[0].revents != 0) {
      const ssize_t n = ::recv(client.Get(), buffer, sizeof buffer, 0);
      if (n <= 0)
        return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        clientBytes_.append(buffer, static_cast<std::size_t>(n));
      }
      SendBytes(server.Get(), buffer, static_cast<std::size_t>(n), oneAtATime);
    }
    if (fds[1].revents != 0) {
      std::string data;
      ssize_t n = ::recv(server.Get(), buffer, sizeof buffer, 0);
      if (n <= 0)
        return;
      data.append(buffer, static_cast<std::size_t>(n));
      // Hold a flight back until the server has paused, then pass it on in one piece.
      while (mode == Mode::kHoldServerFlight) {
        pollfd more{server.Get(), POLLIN, 0};
        if (::poll(&more, 1, 200) <= 0)
          break;
        n = ::recv(server.Get(), buffer, sizeof buffer, 0);
        if (n <= 0)
          break;
        data.append(buffer, static_cast<std::size_t>(n));
      }
      const long cut = cut_.load();
      if (cut >= 0) {
        SendBytes(client.Get(), data.data(), std::min<std::size_t>(data.size(), cut), false);
        return;
      }
      SendBytes(client.Get(), data.data(), data.size(), oneAtATime);
    }
  }
}

}  // namespace tlstest
