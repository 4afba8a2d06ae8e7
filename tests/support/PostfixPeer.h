// PostfixPeer runs tests/smtp/postfix_peer.py: a private Postfix instance set up as a strict
// submission server (TLS from the first byte, log-in required, fully qualified HELO names,
// RFC 5321 envelopes, no bare line feeds) on 127.0.0.1, in a temporary folder it removes
// again. Mailbox() is what its virtual(8) agent delivered (mbox format); SkipReason() says
// why Postfix cannot run on this machine, empty when it runs.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeers.h"
#include "support/AiosmtpdPeer.h"

namespace smtptest {

class PostfixPeer {
 public:
  PostfixPeer(const std::string& script, const std::string& cert, const std::string& key,
              const std::string& user, const std::string& password, const std::string& domain) {
    char dir[] = "/tmp/kz-postfix-XXXXXX";
    dir_ = ::mkdtemp(dir);
    process_ = std::make_unique<nettest::ChildProcess>(
        "/usr/bin/python3",
        std::vector<std::string>{script, "--dir", dir_, "--port-file", dir_ + "/port", "--cert",
                                 cert, "--key", key, "--user", user, "--password", password,
                                 "--domain", domain});
    // Postfix's first start builds its queue and starts a dozen daemons: allow 20 s.
    for (int i = 0; i < 400 && port_ == 0 && skip_.empty(); ++i) {
      const std::string text = ReadFile(dir_ + "/port");
      if (text.rfind("skip: ", 0) == 0)
        skip_ = text.substr(6);
      else if (!text.empty())
        port_ = std::atoi(text.c_str());
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~PostfixPeer() {
    process_.reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  PostfixPeer(const PostfixPeer&) = delete;
  PostfixPeer& operator=(const PostfixPeer&) = delete;

  int Port() const { return port_; }
  const std::string& SkipReason() const { return skip_; }
  std::string Mailbox() const { return ReadFile(dir_ + "/mail/inbox"); }
  std::string Log() const { return ReadFile(dir_ + "/maillog"); }

  // WaitForMailbox waits until the mailbox holds `count` deliveries (lines starting "From ").
  std::string WaitForMailbox(int count) const {
    std::string box;
    for (int i = 0; i < 200; ++i) {
      box = Mailbox();
      int found = box.rfind("From ", 0) == 0 ? 1 : 0;
      for (std::size_t at = 0; (at = box.find("\nFrom ", at)) != std::string::npos; ++at)
        ++found;
      if (found >= count)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return box;
  }

 private:
  std::string dir_;
  int port_ = 0;
  std::string skip_;
  std::unique_ptr<nettest::ChildProcess> process_;
};

}  // namespace smtptest
