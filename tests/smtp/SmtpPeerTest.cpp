// The SMTP client against a real server: aiosmtpd (Debian's python3-aiosmtpd) started on
// 127.0.0.1 by the test, requiring log-in by LOGIN or CRAM-MD5. What arrives is compared
// byte for byte with what was sent (aiosmtpd un-stuffs the dots).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "NetTestPeers.h"
#include "SmtpScript.h"
#include "TlsTestPeers.h"
#include "mail/clMailMessage.h"
#include "smtp/clAuthUtils.h"
#include "smtp/clSmtp.h"
#include "support/AiosmtpdPeer.h"

namespace {

// The server of these tests: smtp_peer.py through the shared helper.
class Aiosmtpd : public smtptest::Aiosmtpd {
 public:
  explicit Aiosmtpd(std::vector<std::string> extra)
      : smtptest::Aiosmtpd(SMTP_TEST_DIR "/smtp_peer.py", std::move(extra)) {}
};

std::string Wire(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines)
    out += line + "\r\n";
  return out;
}

std::vector<std::string> SmallMessage() {
  return {"From: Alice <alice@example.org>",
          "To: bob@example.org",
          "Bcc: carol@example.org",
          "Subject: hello",
          "",
          "Hi Bob,",
          "",
          "bye"};
}

std::vector<std::string> DotsMessage() {
  return {"From: alice@example.org",
          "To: bob@example.org",
          "Subject: dots",
          "",
          ".",
          "..",
          ".leading",
          "middle . dot",
          "."};
}

// A message with a 10 MiB attachment, base64 in lines of 76 characters.
std::vector<std::string> BigMessage() {
  std::vector<std::string> lines = {"From: alice@example.org",
                                    "To: bob@example.org",
                                    "Subject: big",
                                    "MIME-Version: 1.0",
                                    "Content-Type: multipart/mixed; boundary=\"b\"",
                                    "",
                                    "--b",
                                    "Content-Type: text/plain",
                                    "",
                                    "see attachment",
                                    "--b",
                                    "Content-Type: application/octet-stream",
                                    "Content-Transfer-Encoding: base64",
                                    ""};
  std::string bytes(10 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 7919) >> 3);
  const std::string b64 = kz::Base64Encode(bytes);
  for (std::size_t i = 0; i < b64.size(); i += 76)
    lines.push_back(b64.substr(i, 76));
  lines.push_back("--b--");
  return lines;
}

struct PeerRow {
  std::string name;
  bool useSasl;
  std::vector<std::string> (*message)();
  std::string mode = "plain";  // the server: plain, starttls or tls
  TclClientTlsMode useTls = ctNone;
  bool viaStream = false;  // Send(stream) with reads of 1000 bytes
};

void PrintTo(const PeerRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpAiosmtpd : public testing::TestWithParam<PeerRow> {};

TEST_P(SmtpAiosmtpd, DeliversByteForByte) {
  const std::string password = "pa\xC5\x99\xC3\xAD \xF0\x9F\x98\x80";
  const PeerRow& row = GetParam();
  const auto& certs = tlstest::TestCertificates::Get();
  ASSERT_TRUE(certs.Ready());
  Aiosmtpd server({"--user", "joe", "--password", password, "--mode", row.mode, "--cert",
                   certs.Path("good"), "--key", certs.Key("good")});
  ASSERT_NE(server.Port(), 0) << "aiosmtpd did not start";
  TclSmtp smtp;
  smtp.SetServer("127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetTimeOut(20000);
  smtp.SetUserName("joe");
  smtp.SetPassword(password);
  smtp.SetUseSasl(GetParam().useSasl);
  smtp.SetUseTLS(row.useTls);
  std::int64_t lastProgress = 0, total = 0;
  smtp.OnProgress = [&](TclTcpCommandClient*, std::int64_t done, std::int64_t all) {
    if (all != total || lastProgress == total)
      lastProgress = 0;  // the next block
    EXPECT_GE(done, lastProgress);
    lastProgress = done;
    total = all;
  };
  std::vector<std::string> message = GetParam().message();
  smtp.Open();
  EXPECT_EQ(smtp.IsTls(), row.mode != "plain");
  // After STARTTLS only the second EHLO counts: it no longer offers STARTTLS.
  EXPECT_EQ(std::count(smtp.Extensions().begin(), smtp.Extensions().end(), "STARTTLS"), 0);
  EXPECT_TRUE(std::find(smtp.AuthMethods().begin(), smtp.AuthMethods().end(), "CRAM-MD5") !=
              smtp.AuthMethods().end());
  if (row.viaStream) {
    smtptest::TrickleStream stream(Wire(message), 1000);
    smtp.Send(stream);
    // The stream path completes a copy of the header: what arrived is the lines path's.
    smtp.Send(message);
    smtp.Close();
    EXPECT_EQ(server.Message(1).substr(server.Message(1).find("\r\n\r\n")),
              server.Message(2).substr(server.Message(2).find("\r\n\r\n")));
    EXPECT_EQ(server.Message(1).size(), server.Message(2).size());
  } else {
    smtp.Send(message);
    smtp.Close();
  }
  EXPECT_EQ(server.Message(row.viaStream ? 2 : 1), Wire(message));
  EXPECT_EQ(message.back(), GetParam().message().back());
  EXPECT_GT(total, 0);
  EXPECT_EQ(lastProgress, total);
  const std::string envelope = server.Envelope(1);
  EXPECT_EQ(envelope.substr(0, envelope.find('\n')), "alice@example.org");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpAiosmtpd,
    testing::Values(
        PeerRow{"SmallWithLogin", false, SmallMessage},
        PeerRow{"DotsWithCramMd5", true, DotsMessage},
        PeerRow{"TenMiBAttachment", true, BigMessage},
        PeerRow{"StartTlsSmall", false, SmallMessage, "starttls", ctExplicit},
        PeerRow{"StartTlsDotsCramMd5", true, DotsMessage, "starttls", ctExplicit},
        PeerRow{"StartTlsTenMiB", true, BigMessage, "starttls", ctExplicit},
        PeerRow{"ImplicitTlsSmall", false, SmallMessage, "tls", ctImplicit},
        PeerRow{"AutomaticOnOtherPortIsImplicit", true, DotsMessage, "tls", ctAutomatic},
        PeerRow{"ImplicitTlsTenMiB", false, BigMessage, "tls", ctImplicit},
        PeerRow{"StreamedDots", false, DotsMessage, "plain", ctNone, true},
        PeerRow{"StreamedTenMiBOverStartTls", false, BigMessage, "starttls", ctExplicit, true}),
    [](const auto& info) { return info.param.name; });

TEST(SmtpAiosmtpdLogin, WrongPasswordIsRefusedWith535) {
  Aiosmtpd server({"--user", "joe", "--password", "right"});
  ASSERT_NE(server.Port(), 0);
  for (bool sasl : {false, true}) {
    TclSmtp smtp;
    smtp.SetServer("127.0.0.1");
    smtp.SetPort(server.Port());
    smtp.SetUserName("joe");
    smtp.SetPassword("wrong");
    smtp.SetUseSasl(sasl);
    smtp.SetTimeOut(5000);
    try {
      smtp.Open();
      ADD_FAILURE() << "logged in with a wrong password";
    } catch (const EclTcpClientError& e) {
      EXPECT_EQ(e.ErrorCode, 535) << e.what();
    }
    EXPECT_FALSE(smtp.Active());
  }
}

TEST(SmtpAiosmtpdLogin, BccRecipientsGetTheMessageButNotTheField) {
  Aiosmtpd server({});
  ASSERT_NE(server.Port(), 0);
  TclSmtp smtp;
  smtp.SetServer("127.0.0.1");
  smtp.SetPort(server.Port());
  std::vector<std::string> message = SmallMessage();
  smtp.Open();
  smtp.Send(message);
  smtp.Close();
  EXPECT_EQ(server.Envelope(1), "alice@example.org\nbob@example.org\ncarol@example.org\n");
  EXPECT_EQ(server.Message(1).find("carol"), std::string::npos);
  EXPECT_NE(server.Message(1).find("\r\nX-Mailer: www.kadenza.cz - Kadenza\r\nMessage-ID: <"),
            std::string::npos);
}

}  // namespace

namespace {

// A message object: its sender and recipients come from the object, its cached lines are
// sent with the header completed in place, so a second send repeats the Message-ID.
TEST(SmtpAiosmtpdMessage, SendsAMessageObjectTwiceWithOneMessageId) {
  Aiosmtpd server({});
  ASSERT_NE(server.Port(), 0);
  char dir[] = "/tmp/kz-attach-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string attachment = std::string(dir) + "/data.bin";
  std::ofstream(attachment, std::ios::binary) << std::string(300000, '\x01') << "end";
  TclMailMessage message;
  message.SetCharSet("UTF-8");
  message.BuildMessage(
      "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88\n.\n",
      std::vector<std::string>{attachment});
  message.SetFrom("Alice <alice@example.org>");
  message.SetSubject("Zpr\xC3\xA1va");
  message.ToList().Add("bob@example.org");
  message.BCCList().Add("carol@example.org");
  TclSmtp smtp;
  smtp.SetServer("127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetMailFrom("ignored@example.org");
  smtp.SetMailMessage(&message);
  smtp.Open();
  smtp.Send();
  smtp.Send(&message);
  smtp.Close();
  const std::string first = server.Message(1);
  EXPECT_EQ(first, Wire(message.MessageSource()));
  EXPECT_EQ(server.Message(2), first);
  EXPECT_EQ(server.Envelope(1), "alice@example.org\nbob@example.org\ncarol@example.org\n");
  EXPECT_EQ(first.find("carol"), std::string::npos);
  EXPECT_NE(first.find("\r\nMessage-ID: <"), std::string::npos);
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace

namespace {

// Through real SOCKS proxies (danted) to aiosmtpd: plain text, TLS from the first byte
// inside the tunnel (the connection's stream is then the SOCKS stream), and STARTTLS, after
// which the TLS stream replaces the SOCKS stream.
struct SocksRow {
  std::string name;
  TclFirewallType type;
  std::string mode;
  TclClientTlsMode useTls;
  bool isTlsAfterOpen;
};

void PrintTo(const SocksRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpThroughSocks : public testing::TestWithParam<SocksRow> {};

TEST_P(SmtpThroughSocks, Delivers) {
  const SocksRow& row = GetParam();
  nettest::DantedProxy proxy;
  ASSERT_TRUE(proxy.Started()) << proxy.Log();
  const auto& certs = tlstest::TestCertificates::Get();
  Aiosmtpd server({"--mode", row.mode, "--cert", certs.Path("good"), "--key", certs.Key("good")});
  ASSERT_NE(server.Port(), 0);
  TclSmtp smtp;
  smtp.SetServer("127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetUseTLS(row.useTls);
  TclFirewallSettings socks;
  socks.FirewallType = row.type;
  socks.Server = "127.0.0.1";
  socks.Port = proxy.Port();
  smtp.SetFirewallSettings(socks);
  std::vector<std::string> message = SmallMessage();
  smtp.Open();
  EXPECT_EQ(smtp.IsTls(), row.isTlsAfterOpen);
  smtp.Send(message);
  smtp.Close();
  EXPECT_EQ(server.Message(1), Wire(message));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpThroughSocks,
    testing::Values(SocksRow{"Socks4Plain", ftSocks4, "plain", ctNone, false},
                    SocksRow{"Socks5ImplicitTls", ftSocks5, "tls", ctImplicit, false},
                    SocksRow{"Socks5StartTls", ftSocks5, "starttls", ctExplicit, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace

namespace {

// StartTls on an open plain session greets again: Extensions are then those of the
// protected session alone, which offers no STARTTLS, and the server takes mail.
TEST(SmtpAiosmtpdStartTls, OnAnOpenSessionGreetsAgain) {
  const auto& certs = tlstest::TestCertificates::Get();
  ASSERT_TRUE(certs.Ready());
  Aiosmtpd server({"--mode", "starttls", "--cert", certs.Path("good"), "--key", certs.Key("good")});
  ASSERT_NE(server.Port(), 0) << "aiosmtpd did not start";
  TclSmtp smtp;
  smtp.SetServer("127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetTimeOut(20000);
  smtp.Open();
  const auto offersStartTls = [&] {
    return std::count(smtp.Extensions().begin(), smtp.Extensions().end(), "STARTTLS") > 0;
  };
  ASSERT_FALSE(smtp.IsTls());
  EXPECT_TRUE(offersStartTls());
  smtp.StartTls();
  EXPECT_TRUE(smtp.IsTls());
  EXPECT_FALSE(offersStartTls());
  EXPECT_FALSE(smtp.Extensions().empty());
  std::vector<std::string> message = SmallMessage();
  smtp.Send(message);
  smtp.Close();
  EXPECT_EQ(server.Message(1), Wire(message));
}

}  // namespace
