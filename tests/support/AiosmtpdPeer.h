// Aiosmtpd runs tests/smtp/smtp_peer.py (Debian's python3-aiosmtpd) on 127.0.0.1 in a
// temporary folder, which it removes again. Message(n) and Envelope(n) are what the n-th
// delivery brought: the data byte for byte, and the sender and recipients one per line.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeers.h"

namespace smtptest {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Aiosmtpd {
 public:
  // `script` is smtp_peer.py; `extra` its options (--mode, --cert, --key, --user, ...).
  Aiosmtpd(const std::string& script, std::vector<std::string> extra) {
    char dir[] = "/tmp/kz-aiosmtpd-XXXXXX";
    dir_ = ::mkdtemp(dir);
    std::vector<std::string> args = {script, "--port-file", dir_ + "/port", "--outdir", dir_};
    args.insert(args.end(), extra.begin(), extra.end());
    process_ = std::make_unique<nettest::ChildProcess>("/usr/bin/python3", args);
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      const std::string text = ReadFile(dir_ + "/port");
      if (!text.empty())
        port_ = std::atoi(text.c_str());
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Aiosmtpd() {
    process_.reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  Aiosmtpd(const Aiosmtpd&) = delete;
  Aiosmtpd& operator=(const Aiosmtpd&) = delete;

  int Port() const { return port_; }
  const std::string& Dir() const { return dir_; }
  std::string MessagePath(int n) const { return dir_ + "/" + std::to_string(n) + ".eml"; }
  std::string Message(int n) const { return ReadFile(MessagePath(n)); }
  std::string Envelope(int n) const { return ReadFile(dir_ + "/" + std::to_string(n) + ".env"); }

 private:
  std::string dir_;
  int port_ = 0;
  std::unique_ptr<nettest::ChildProcess> process_;
};

}  // namespace smtptest
