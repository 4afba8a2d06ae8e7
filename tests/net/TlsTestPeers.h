// Peers for the TLS tests, all on 127.0.0.1: certificates made with `openssl` into a
// temporary folder (whose CA the tests trust through SSL_CERT_FILE), `openssl s_server`
// as the TLS server, and a relay that sits between client and server and can forward one
// byte at a time, hold a flight back, cut a record in two or reset the client.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeers.h"

namespace tlstest {

// TestCertificates made once per test program, in a folder of their own that is removed
// when the program's tests are done: Path("good") is good.pem, Key("good") good.key.
// Creating them also points OpenSSL's trust store at the test CA.
class TestCertificates {
 public:
  static const TestCertificates& Get();
  std::string Path(const std::string& name) const { return dir_ + "/" + name + ".pem"; }
  std::string Key(const std::string& name) const { return dir_ + "/" + name + ".key"; }
  const std::string& Dir() const { return dir_; }
  bool Ready() const { return ready_; }
  // MadeFolder: the folder of the certificates once they were made, else empty.
  static std::string MadeFolder();

 private:
  TestCertificates();
  std::string dir_;
  bool ready_ = false;
};

// SServer runs `openssl s_server` with a certificate of TestCertificates. `args` are
// further options ("-tls1_3", "-rev", "-Verify", "1"); `input` is what the server sends
// as soon as a client is connected (its standard input).
class SServer {
 public:
  SServer(const std::string& cert, const std::vector<std::string>& args,
          const std::string& input = {});
  ~SServer();
  SServer(const SServer&) = delete;
  SServer& operator=(const SServer&) = delete;
  int Port() const { return port_; }
  std::string Log() const;
  // WaitForLog: true once the server's output contains `text`.
  bool WaitForLog(const std::string& text, int timeoutMs = 5000) const;

 private:
  std::string log_;
  int port_ = 0;
  std::unique_ptr<nettest::ChildProcess> process_;
};

// Relay accepts one client and connects it to 127.0.0.1:target. A prologue, when given,
// talks plain text with the client first (a STARTTLS dialogue).
class Relay {
 public:
  enum class Mode { kWhole, kByteAtATime, kHoldServerFlight };
  Relay(int target, Mode mode, std::function<void(int clientFd)> prologue = {});
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  int Port() const { return port_; }
  // CutNextServerData: forward only the first `bytes` bytes of the server's next data,
  // then close both sides.
  void CutNextServerData(std::size_t bytes) { cut_ = static_cast<long>(bytes); }
  // ResetClient: abort the client's side with a reset and stop relaying.
  void ResetClient();
  // ClientBytes: everything the client sent through the relay so far.
  std::string ClientBytes();

 private:
  void Run(int mode, std::function<void(int)> prologue);

  kz::Socket listener_;
  int port_ = 0;
  int target_ = 0;
  std::atomic<long> cut_{-1};
  std::atomic<bool> reset_{false};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string clientBytes_;
  std::thread thread_;
};

}  // namespace tlstest
