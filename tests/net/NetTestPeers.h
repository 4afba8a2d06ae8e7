// Peers for the transport tests, all on 127.0.0.1: a scripted peer on its own thread, an
// echo server, and child processes (real proxies) that are killed and reaped on destruction.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/clPosixSocket.h"
#include "net/clSocketError.h"

namespace nettest {

// RecvExactly reads n bytes (less when the peer closes or timeoutMs passes).
std::string RecvExactly(int fd, std::size_t n, int timeoutMs = 5000);
// RecvUntilClose reads until the peer closes (or timeoutMs passes).
std::string RecvUntilClose(int fd, int timeoutMs = 5000);
void SendAll(int fd, std::string_view data);
// ListenLoopback: a blocking listening socket on 127.0.0.1 at `port` (0: any free port).
kz::UniqueFd ListenLoopback(int port = 0);
int LocalPort(int fd);
// AcceptWithin: one accepted connection, or an invalid socket after timeoutMs.
kz::UniqueFd AcceptWithin(int listenFd, int timeoutMs = 5000);

// ScriptedPeer accepts one connection on a thread and runs `body` on it; the destructor
// joins the thread.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::function<void(int fd)> body);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;
  int Port() const { return port_; }

 private:
  kz::UniqueFd listener_;
  int port_ = 0;
  std::thread thread_;
};

// EchoServer echoes every connection until the client closes; stops on destruction.
class EchoServer {
 public:
  EchoServer();
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;
  int Port() const { return port_; }

 private:
  kz::UniqueFd listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
};

// ChildProcess runs a program in its own process group; the destructor kills the group
// and reaps the child.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Running();

 private:
  pid_t pid_ = -1;
};

// ExpectThrows runs f and checks that it raises E with `code`, and with `text` when given.
template <class E = EclSocketError, class F>
void ExpectThrows(F&& f, int code, std::string_view text = {}) {
  try {
    f();
    ADD_FAILURE() << "nothing raised; expected code " << code;
  } catch (const E& e) {
    EXPECT_EQ(e.ErrorCode, code) << e.what();
    if (!text.empty()) {
      EXPECT_EQ(std::string(e.what()), text);
    }
  }
}

// DantedProxy runs danted (SOCKS 4 and 5, no authentication) on a free loopback port with a
// configuration in a temporary folder, which it removes again.
class DantedProxy {
 public:
  DantedProxy();
  ~DantedProxy();
  DantedProxy(const DantedProxy&) = delete;
  DantedProxy& operator=(const DantedProxy&) = delete;
  bool Started() const { return started_; }
  int Port() const { return port_; }
  std::string Log() const;

 private:
  std::string dir_;
  int port_ = 0;
  bool started_ = false;
  std::unique_ptr<ChildProcess> process_;
};

// FreePort: a loopback TCP port that was free a moment ago.
int FreePort();
// WaitForListener: true once something accepts connections on 127.0.0.1:port.
bool WaitForListener(int port, int timeoutMs = 5000);

}  // namespace nettest
