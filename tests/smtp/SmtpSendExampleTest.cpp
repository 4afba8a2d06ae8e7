// examples/smtp-send as a process against aiosmtpd: a composed message with the dialogue
// traced (log-in lines hidden), a ready message file, and an error's text, code and status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/AiosmtpdPeer.h"

namespace {

struct Result {
  int status;
  std::string out;
};

Result RunShell(const std::string& command) {
  std::string out;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class SmtpSendExample : public testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<smtptest::Aiosmtpd>(
        SMTP_TEST_DIR "/smtp_peer.py",
        std::vector<std::string>{"--user", "joe", "--password", "s3cret"});
    ASSERT_NE(server_->Port(), 0);
    dir_ = server_->Dir();
  }
  std::string Base() const {
    return std::string(SMTP_SEND) + " --server 127.0.0.1 --port " +
           std::to_string(server_->Port()) + " --tls none --user joe";
  }
  std::string Stored(int n) const { return server_->Message(n); }

  std::unique_ptr<smtptest::Aiosmtpd> server_;
  std::string dir_;
};

TEST_F(SmtpSendExample, ComposesTracesAndSendsAFile) {
  std::ofstream(dir_ + "/text.txt") << "Ahoj\n.\n";
  const Result composed =
      RunShell("echo s3cret | " + Base() + " --password - --from a@x --to b@y --bcc c@z " +
               "--subject Test --text " + dir_ + "/text.txt --attach " + dir_ +
               "/text.txt --trace --progress");
  EXPECT_EQ(composed.status, 0) << composed.out;
  // Without TLS, CRAM-MD5 is chosen over LOGIN, so the password never goes in the clear.
  EXPECT_NE(composed.out.find("C: AUTH CRAM-MD5\r\n"), std::string::npos) << composed.out;
  EXPECT_NE(composed.out.find("C: <hidden>\r\n"), std::string::npos);
  EXPECT_EQ(composed.out.find("czNjcmV0"), std::string::npos) << "the password leaked";
  EXPECT_NE(composed.out.find("100%"), std::string::npos);
  EXPECT_NE(Stored(1).find("Subject: Test"), std::string::npos);
  EXPECT_EQ(Stored(1).find("c@z"), std::string::npos);

  const std::string file = dir_ + "/ready.eml";
  std::ofstream(file, std::ios::binary) << "From: a@x\r\nTo: b@y\r\n\r\n.one\r\ntwo\r\n";
  const Result ready = RunShell(Base() + " --password s3cret --message " + file);
  EXPECT_EQ(ready.status, 0) << ready.out;
  EXPECT_NE(Stored(2).find("\r\n\r\n.one\r\ntwo\r\n"), std::string::npos) << Stored(2);
}

TEST_F(SmtpSendExample, ErrorPrintsTextAndCode) {
  const Result r = RunShell(Base() + " --password wrong --from a@x --to b@y --text /etc/hostname");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("smtp-send: 535 5.7.8 Authentication credentials invalid (code 535)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(RunShell(Base() + " --bogus").status, 2);
}

}  // namespace
