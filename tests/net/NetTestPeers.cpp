#include "NetTestPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace nettest {

namespace {

std::int64_t Now() {
  return kz::TickCount();
}

bool WaitReadable(int fd, std::int64_t deadline) {
  const std::int64_t left = deadline - Now();
  if (left <= 0)
    return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(left)) > 0;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

std::string RecvExactly(int fd, std::size_t n, int timeoutMs) {
  const std::int64_t deadline = Now() + timeoutMs;
  std::string out;
  char buffer[65536];
  while (out.size() < n && WaitReadable(fd, deadline)) {
    const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
    if (got <= 0)
      break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

std::string RecvUntilClose(int fd, int timeoutMs) {
  const std::int64_t deadline = Now() + timeoutMs;
  std::string out;
  char buffer[65536];
  while (WaitReadable(fd, deadline)) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0)
      break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent <= 0)
      return;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
}

kz::UniqueFd ListenLoopback(int port) {
  kz::UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in address = Loopback(port);
  if (::bind(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s.Get(), 16) != 0) {
    throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  }
  return s;
}

int LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

kz::UniqueFd AcceptWithin(int listenFd, int timeoutMs) {
  if (!WaitReadable(listenFd, Now() + timeoutMs))
    return kz::UniqueFd();
  return kz::UniqueFd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
}

ScriptedPeer::ScriptedPeer(std::function<void(int fd)> body) : listener_(ListenLoopback()) {
  port_ = LocalPort(listener_.Get());
  thread_ = std::thread([this, body = std::move(body)] {
    kz::UniqueFd peer = AcceptWithin(listener_.Get());
    if (peer.Valid())
      body(peer.Get());
  });
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable())
    thread_.join();
}

EchoServer::EchoServer() : listener_(ListenLoopback()) {
  port_ = LocalPort(listener_.Get());
  thread_ = std::thread([this] {
    while (!stop_) {
      kz::UniqueFd client = AcceptWithin(listener_.Get(), 50);
      if (!client.Valid())
        continue;
      workers_.emplace_back([this, fd = client.Release()] {
        kz::UniqueFd owned(fd);
        char buffer[65536];
        while (!stop_) {
          if (!WaitReadable(fd, Now() + 50))
            continue;
          const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
          if (got <= 0)
            break;
          SendAll(fd, std::string_view(buffer, static_cast<std::size_t>(got)));
        }
      });
    }
  });
}

EchoServer::~EchoServer() {
  stop_ = true;
  thread_.join();
  for (auto& worker : workers_)
    worker.join();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (pid_ > 0)
    ::setpgid(pid_, pid_);
}

bool ChildProcess::Running() {
  if (pid_ <= 0)
    return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0)
    return;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
      return;
    ::usleep(20000);
  }
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

DantedProxy::DantedProxy() {
  char pattern[] = "/tmp/kadenza-danted-XXXXXX";
  if (::mkdtemp(pattern) == nullptr)
    return;
  dir_ = pattern;
  port_ = FreePort();
  const std::string conf = dir_ + "/danted.conf";
  std::ofstream out(conf);
  out << "logoutput: " << dir_ << "/danted.log\n"
      << "internal: 127.0.0.1 port = " << port_ << "\n"
      << "external: 127.0.0.1\n"
      << "clientmethod: none\n"
      << "socksmethod: none\n";
  // As root danted insists on users to switch to; CI runs as root.
  if (::geteuid() == 0)
    out << "user.privileged: root\nuser.unprivileged: nobody\n";
  out << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
      << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n"
      << "  protocol: tcp\n}\n";
  out.close();
  process_ = std::make_unique<ChildProcess>("/usr/sbin/danted",
                                            std::vector<std::string>{"-f", conf, "-N", "1"});
  started_ = WaitForListener(port_);
}

DantedProxy::~DantedProxy() {
  process_.reset();
  if (!dir_.empty())
    std::filesystem::remove_all(dir_);
}

std::string DantedProxy::Log() const {
  std::ifstream in(dir_ + "/danted.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int FreePort() {
  kz::UniqueFd s = ListenLoopback(0);
  return LocalPort(s.Get());
}

bool WaitForListener(int port, int timeoutMs) {
  const std::int64_t deadline = Now() + timeoutMs;
  while (Now() < deadline) {
    kz::UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(port);
    if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      return true;
    }
    ::usleep(20000);
  }
  return false;
}

}  // namespace nettest
