// The tcp-connect example as a user runs it: standard input to the peer, the peer's answer
// to standard output, errors with their code on standard error, and what a user reads
// when a TLS handshake fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "TlsTestPeers.h"

namespace {

struct ShellRun {
  std::string output;
  int status = -1;
};

ShellRun Shell(const std::string& command) {
  ShellRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(NetTcpConnectExample, CopiesStandardInputAndTheAnswer) {
  nettest::EchoServer echo;
  const ShellRun run = Shell("printf 'line one\\nline two\\n' | timeout 10 " TCP_CONNECT
                             " --timeout 5000 localhost " +
                             std::to_string(echo.Port()));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "line one\nline two\n");
}

TEST(NetTcpConnectExample, GoesThroughASocksProxy) {
  nettest::DantedProxy danted;
  ASSERT_TRUE(danted.Started()) << danted.Log();
  nettest::EchoServer echo;
  for (const char* version : {"--socks4", "--socks5"}) {
    const ShellRun run =
        Shell("printf 'via proxy' | timeout 10 " TCP_CONNECT " " + std::string(version) +
              " 127.0.0.1:" + std::to_string(danted.Port()) + " --resolve-locally localhost " +
              std::to_string(echo.Port()));
    EXPECT_EQ(run.status, 0) << version;
    EXPECT_EQ(run.output, "via proxy") << version;
  }
}

TEST(NetTcpConnectExample, ReportsAnErrorWithItsCode) {
  const int port = nettest::FreePort();
  const ShellRun run =
      Shell("timeout 10 " TCP_CONNECT " 127.0.0.1 " + std::to_string(port) + " </dev/null 2>&1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "tcp-connect: Connection refused (code 111)\n");
}

TEST(NetTcpConnectExample, RefusesABadPort) {
  const ShellRun run = Shell("timeout 10 " TCP_CONNECT " 127.0.0.1 70000 </dev/null 2>/dev/null");
  EXPECT_EQ(run.status, 2);
}

// TLS from the first byte against s_server, which answers each line reversed.
struct TlsRun {
  const char* name;
  const char* cert;
  const char* host;
  const char* flags;
  int status;
  const char* output;
};

void PrintTo(const TlsRun& row, std::ostream* os) {
  *os << row.name;
}

class NetTcpConnectTlsExample : public ::testing::TestWithParam<TlsRun> {};

TEST_P(NetTcpConnectTlsExample, ChecksTheServer) {
  const TlsRun& row = GetParam();
  ASSERT_TRUE(tlstest::TestCertificates::Get().Ready());
  tlstest::SServer server(row.cert, {"-rev"});
  ASSERT_NE(server.Port(), 0) << server.Log();
  const ShellRun run = Shell(
      "printf 'secure line\\n' | timeout 10 " TCP_CONNECT " --timeout 5000 " +
      std::string(row.flags) + " " + row.host + " " + std::to_string(server.Port()) + " 2>&1");
  EXPECT_EQ(run.status, row.status);
  EXPECT_EQ(run.output, row.output);
}

TEST(NetTcpConnectExample, TlsInsideASocksTunnel) {
  ASSERT_TRUE(tlstest::TestCertificates::Get().Ready());
  nettest::DantedProxy danted;
  ASSERT_TRUE(danted.Started()) << danted.Log();
  tlstest::SServer server("good", {"-rev"});
  const ShellRun run = Shell("printf 'tunnelled\\n' | timeout 10 " TCP_CONNECT
                             " --timeout 5000 --socks5 127.0.0.1:" +
                             std::to_string(danted.Port()) + " --tls localhost " +
                             std::to_string(server.Port()) + " 2>&1");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "dellennut\n");
}

INSTANTIATE_TEST_SUITE_P(
    Tls, NetTcpConnectTlsExample,
    ::testing::Values(
        TlsRun{"Trusted", "good", "localhost", "--tls", 0, "enil eruces\n"},
        TlsRun{"SelfSigned", "selfsigned", "localhost", "--tls", 1,
               "tcp-connect: A certificate chain processed correctly, but terminated in a root "
               "certificate which is not trusted by the trust provider (code 0x800B0109)\n"},
        TlsRun{"ByAddress", "good", "127.0.0.1", "--tls", 0, "enil eruces\n"},
        TlsRun{"WrongName", "otherhost", "localhost", "--tls", 1,
               "tcp-connect: The certificate's CN name does not match the passed value (code "
               "0x800B010F)\n"},
        TlsRun{"Insecure", "allwrong", "localhost", "--tls --insecure", 0, "enil eruces\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- failed handshakes, as a user reads them ----

enum class Peer {
  kSServer,           // openssl s_server with the row's options
  kPlainGreeting,     // a server that greets in plain text, as SMTP does on 25 and 587
  kClosesAfterHello,  // a server that reads the ClientHello and hangs up
  kCutInHandshake,    // s_server behind a relay that cuts its first flight after 10 bytes
};

// ReadRecord reads one whole TLS record (so that closing afterwards is a clean end, not a
// reset for unread data).
void ReadRecord(int fd) {
  const std::string header = nettest::RecvExactly(fd, 5);
  if (header.size() == 5)
    nettest::RecvExactly(
        fd, static_cast<unsigned char>(header[3]) * 256u + static_cast<unsigned char>(header[4]));
}

struct HandshakeFailure {
  const char* name;
  Peer peer;
  std::vector<std::string> serverArgs;
  const char* clientPolicy;  // a file of this folder given as OPENSSL_CONF, or none
  const char* output;
  bool alertToServer;  // the server's log shows the alert we sent
};

void PrintTo(const HandshakeFailure& row, std::ostream* os) {
  *os << row.name;
}

class NetTcpConnectHandshakeFailure : public ::testing::TestWithParam<HandshakeFailure> {};

TEST_P(NetTcpConnectHandshakeFailure, SaysWhatFailed) {
  const HandshakeFailure& row = GetParam();
  ASSERT_TRUE(tlstest::TestCertificates::Get().Ready());
  std::unique_ptr<tlstest::SServer> server;
  std::unique_ptr<tlstest::Relay> relay;
  std::unique_ptr<nettest::ScriptedPeer> scripted;
  int port = 0;
  switch (row.peer) {
    case Peer::kSServer:
    case Peer::kCutInHandshake:
      server = std::make_unique<tlstest::SServer>("good", row.serverArgs);
      ASSERT_NE(server->Port(), 0) << server->Log();
      port = server->Port();
      if (row.peer == Peer::kCutInHandshake) {
        relay = std::make_unique<tlstest::Relay>(port, tlstest::Relay::Mode::kWhole);
        relay->CutNextServerData(10);
        port = relay->Port();
      }
      break;
    case Peer::kPlainGreeting:
      scripted = std::make_unique<nettest::ScriptedPeer>([](int fd) {
        nettest::SendAll(fd, "220 localhost ESMTP ready\r\n");
        nettest::RecvUntilClose(fd);
      });
      port = scripted->Port();
      break;
    case Peer::kClosesAfterHello:
      scripted = std::make_unique<nettest::ScriptedPeer>(ReadRecord);
      port = scripted->Port();
      break;
  }
  const std::string policy =
      row.clientPolicy != nullptr
          ? std::string("OPENSSL_CONF=") + NET_TEST_DIR + "/" + row.clientPolicy + " "
          : std::string();
  const ShellRun run =
      Shell(policy + "timeout 10 " TCP_CONNECT " --timeout 5000 --tls --insecure localhost " +
            std::to_string(port) + " </dev/null 2>&1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, row.output);
  if (row.alertToServer) {
    EXPECT_TRUE(server->WaitForLog("SSL alert number")) << server->Log();
    EXPECT_EQ(server->Log().find("unexpected eof"), std::string::npos) << server->Log();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tls, NetTcpConnectHandshakeFailure,
    ::testing::Values(
        HandshakeFailure{"ServerOfferingOnlyTls10",
                         Peer::kSServer,
                         {"-tls1", "-cipher", "ALL:@SECLEVEL=0"},
                         nullptr,
                         "tcp-connect: The server and this client have no TLS protocol version in "
                         "common: legacy sigalg disallowed or unsupported (code -16)\n",
                         true},
        HandshakeFailure{"ServerOfferingOnlyTls11",
                         Peer::kSServer,
                         {"-tls1_1", "-cipher", "ALL:@SECLEVEL=0"},
                         nullptr,
                         "tcp-connect: The server and this client have no TLS protocol version in "
                         "common: legacy sigalg disallowed or unsupported (code -16)\n",
                         true},
        HandshakeFailure{"Tls12ServerRefusesOurTls13",
                         Peer::kSServer,
                         {"-tls1_2"},
                         "openssl-tls13-only.cnf",
                         "tcp-connect: The server and this client have no TLS protocol version in "
                         "common: tlsv1 alert protocol version (code -16)\n",
                         false},
        HandshakeFailure{"Tls13ServerRefusesOurTls12",
                         Peer::kSServer,
                         {"-tls1_3"},
                         "openssl-up-to-tls12.cnf",
                         "tcp-connect: The server and this client have no TLS protocol version in "
                         "common: tlsv1 alert protocol version (code -16)\n",
                         false},
        HandshakeFailure{"NoCipherInCommon",
                         Peer::kSServer,
                         {"-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"},
                         nullptr,
                         "tcp-connect: The client and server cannot communicate, because they do "
                         "not possess a common algorithm: sslv3 alert handshake failure (code "
                         "0x80090331)\n",
                         false},
        HandshakeFailure{"ServerFailsOnItsOwnVersion",
                         Peer::kSServer,
                         {"-tls1"},
                         nullptr,
                         "tcp-connect: The server ended the TLS session with an alert: tlsv1 "
                         "alert internal error (code -17)\n",
                         false},
        HandshakeFailure{"PlainTextServer",
                         Peer::kPlainGreeting,
                         {},
                         nullptr,
                         "tcp-connect: The server did not answer in TLS: this port does not take "
                         "TLS from the first byte: wrong version number; the answer began \"220 "
                         "localhost ESMTP ready\\r\\n\" (code -15)\n",
                         false},
        HandshakeFailure{"ServerHangsUpAfterOurHello",
                         Peer::kClosesAfterHello,
                         {},
                         nullptr,
                         "tcp-connect: The connection was closed in the middle of a TLS record: "
                         "the connection ended during the TLS handshake (code -14)\n",
                         false},
        HandshakeFailure{"CutInTheServersFirstFlight",
                         Peer::kCutInHandshake,
                         {"-tls1_3"},
                         nullptr,
                         "tcp-connect: The connection was closed in the middle of a TLS record: "
                         "the connection ended during the TLS handshake (code -14)\n",
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
