// The TLS stream against `openssl s_server` on 127.0.0.1, with TLS 1.2 and TLS 1.3: the
// certificate cases and their ignore flags, data both ways, the close notification,
// records cut into single bytes, application data that comes with the last handshake
// message, a cut record, a reset during closing, client certificates and STARTTLS.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <tuple>

#include "TlsTestPeers.h"
#include "net/clSocket.h"
#include "net/clTlsSocket.h"

using tlstest::Relay;
using tlstest::SServer;
using tlstest::TestCertificates;

namespace {

class TlsClient {
 public:
  explicit TlsClient(const std::string& target, TclCertificateVerifyFlags flags = {},
                     TclTlsFlags versions = {tfUseTLS}) {
    auto stream = std::make_unique<TclTlsNetworkStream>();
    stream->SetTargetName(target);
    stream->SetCertificateFlags(flags);
    stream->SetTLSFlags(versions);
    tls = stream.get();
    connection.SetNetworkStream(std::move(stream));
    connection.SetTimeOut(5000);
  }
  void Open(int port) { connection.Open("127.0.0.1", port); }
  std::string ReadUntil(std::string_view end) {
    TMemoryStream data;
    while (data.Data().find(end) == std::string_view::npos && connection.Active())
      connection.ReadData(&data);
    return std::string(data.Data());
  }

  TclTcpClientConnection connection;
  TclTlsNetworkStream* tls = nullptr;
};

// A round trip through `s_server -rev`, which answers every line reversed.
void ExpectRoundTrip(TlsClient& client, const std::string& line) {
  client.connection.WriteString(line + "\n");
  EXPECT_EQ(client.ReadUntil("\n"), std::string(line.rbegin(), line.rend()) + "\n");
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TestCertificates::Get().Ready()); }
};

// ---- the certificate table ----

struct CertificateCase {
  const char* name;
  const char* cert;
  const char* target;
  TclCertificateVerifyFlags flags;
  int code;  // 0: accepted
};

void PrintTo(const CertificateCase& row, std::ostream* os) {
  *os << row.name;
}

const CertificateCase kCertificateCases[] = {
    {"Good", "good", "localhost", {}, 0},
    {"GoodByAddress", "good", "127.0.0.1", {}, 0},
    {"OtherAddress", "good", "127.0.0.2", {}, kz::kCertECnNoMatch},
    {"OtherName", "good", "mail.invalid", {}, kz::kCertECnNoMatch},
    {"Expired", "expired", "localhost", {}, kz::kCertEExpired},
    {"ExpiredIgnored", "expired", "localhost", {cfIgnoreDateInvalid}, 0},
    {"NotYetValid", "notyet", "localhost", {}, kz::kCertEExpired},
    {"NotYetValidIgnored", "notyet", "localhost", {cfIgnoreDateInvalid}, 0},
    {"ForAnotherHost", "otherhost", "localhost", {}, kz::kCertECnNoMatch},
    {"ForAnotherHostIgnored", "otherhost", "localhost", {cfIgnoreCommonNameInvalid}, 0},
    {"SelfSigned", "selfsigned", "localhost", {}, kz::kCertEUntrustedRoot},
    {"SelfSignedIgnored", "selfsigned", "localhost", {cfIgnoreUnknownAuthority}, 0},
    {"UnknownCA", "unknownca", "localhost", {}, kz::kCertEUntrustedRoot},
    {"UnknownCAIgnored", "unknownca", "localhost", {cfIgnoreUnknownAuthority}, 0},
    {"ClientOnly", "clientonly", "localhost", {}, kz::kCertEWrongUsage},
    {"ClientOnlyIgnored", "clientonly", "localhost", {cfIgnoreWrongUsage}, 0},
    {"AllWrongOneFlagShort",
     "allwrong",
     "localhost",
     {cfIgnoreDateInvalid, cfIgnoreUnknownAuthority, cfIgnoreWrongUsage},
     kz::kCertECnNoMatch},
    {"AllWrongAllFlags",
     "allwrong",
     "localhost",
     {cfIgnoreCommonNameInvalid, cfIgnoreDateInvalid, cfIgnoreUnknownAuthority, cfIgnoreRevocation,
      cfIgnoreWrongUsage},
     0},
};

class TlsCertificateTest
    : public TlsTest,
      public ::testing::WithParamInterface<std::tuple<CertificateCase, const char*>> {};

TEST_P(TlsCertificateTest, AcceptsOrRefusesWithTheStatus) {
  const auto& [row, version] = GetParam();
  SServer server(row.cert, {version, "-rev"});
  ASSERT_NE(server.Port(), 0) << server.Log();
  TlsClient client(row.target, row.flags);
  if (row.code == 0) {
    client.Open(server.Port());
    EXPECT_TRUE(client.tls->PeerVerified());
    ExpectRoundTrip(client, "hello kadenza");
    return;
  }
  nettest::ExpectThrows([&] { client.Open(server.Port()); }, row.code, kz::SspiErrorText(row.code));
  EXPECT_FALSE(client.tls->PeerVerified());
}

INSTANTIATE_TEST_SUITE_P(Net, TlsCertificateTest,
                         ::testing::Combine(::testing::ValuesIn(kCertificateCases),
                                            ::testing::Values("-tls1_2", "-tls1_3")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::string(std::get<1>(info.param)) == "-tls1_2" ? "_Tls12"
                                                                                     : "_Tls13");
                         });

// ---- sessions ----

class TlsSessionTest : public TlsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TlsSessionTest, DataBothWaysAndCloseNotification) {
  SServer server("good", {GetParam()}, "220 greeting\r\n");
  ASSERT_NE(server.Port(), 0) << server.Log();
  TlsClient client("localhost");
  int ready = 0;
  client.connection.OnReady = [&](TclConnection*) { ++ready; };
  client.Open(server.Port());
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(client.ReadUntil("\r\n"), "220 greeting\r\n");
  client.connection.InitProgress(0, 0);
  client.connection.WriteString("EHLO me\r\n");
  EXPECT_EQ(client.connection.BytesProceed(), 9);  // application bytes, not record bytes
  EXPECT_TRUE(server.WaitForLog("EHLO me")) << server.Log();
  EXPECT_FALSE(client.connection.Close(true));
  EXPECT_FALSE(client.connection.Active());
  EXPECT_TRUE(server.WaitForLog("DONE")) << server.Log();  // s_server's word for close_notify
}

TEST_P(TlsSessionTest, RecordsSplitIntoSingleBytes) {
  SServer server("good", {GetParam(), "-rev"});
  Relay relay(server.Port(), Relay::Mode::kByteAtATime);
  TlsClient client("localhost");
  client.Open(relay.Port());
  ExpectRoundTrip(client, std::string(3000, 'x') + "y");
}

TEST_P(TlsSessionTest, DataThatComesWithTheLastHandshakeMessage) {
  SServer server("good", {GetParam()}, "220 at once\r\n");
  Relay relay(server.Port(), Relay::Mode::kHoldServerFlight);
  TlsClient client("localhost");
  client.Open(relay.Port());
  // With TLS 1.2 the server's Finished and its first data travel together: the data is
  // decrypted during the handshake and waits for the first read.
  if (std::string(GetParam()) == "-tls1_2") {
    EXPECT_TRUE(client.tls->HasReadData());
  }
  EXPECT_EQ(client.ReadUntil("\r\n"), "220 at once\r\n");
}

TEST_P(TlsSessionTest, ARecordCutByTheConnectionIsAnError) {
  SServer server("good", {GetParam(), "-rev"});
  Relay relay(server.Port(), Relay::Mode::kWhole);
  TlsClient client("localhost");
  client.Open(relay.Port());
  ExpectRoundTrip(client, "first");
  relay.CutNextServerData(10);
  client.connection.WriteString("second\n");
  nettest::ExpectThrows<EclSSPIError>([&] { client.ReadUntil("\n"); }, kz::kTruncatedCode,
                                      "The connection was closed in the middle of a TLS record");
}

TEST_P(TlsSessionTest, APeerThatResetsDuringCloseDoesNotFailIt) {
  SServer server("good", {GetParam(), "-rev"});
  Relay relay(server.Port(), Relay::Mode::kWhole);
  TlsClient client("localhost");
  client.Open(relay.Port());
  relay.ResetClient();
  ::usleep(50000);
  EXPECT_NO_THROW(client.connection.Close(true));
  EXPECT_FALSE(client.connection.Active());
}

TEST_P(TlsSessionTest, OnVerifyPeerDecidesEitherWay) {
  {
    SServer server("selfsigned", {GetParam(), "-rev"});
    TlsClient client("localhost");
    int seenCode = 0;
    client.tls->OnVerifyPeer = [&](void*, TclCertificate* cert, const std::string&, int code,
                                   bool& verified) {
      seenCode = code;
      EXPECT_EQ(cert->IssuedTo(), "localhost");
      verified = true;
    };
    client.Open(server.Port());
    EXPECT_EQ(seenCode, kz::kCertEUntrustedRoot);
    ExpectRoundTrip(client, "accepted");
  }
  SServer server("good", {GetParam(), "-rev"});
  TlsClient client("localhost");
  client.tls->OnVerifyPeer = [](void*, TclCertificate*, const std::string&, int, bool& verified) {
    verified = false;
  };
  nettest::ExpectThrows([&] { client.Open(server.Port()); }, 0, "The unknown error was occured: 0");
}

TEST_P(TlsSessionTest, ClientCertificateOnRequest) {
  SServer server("good", {GetParam(), "-rev", "-Verify", "1"});
  {
    TlsClient client("localhost");
    nettest::ExpectThrows([&] { client.Open(server.Port()); }, -1,
                          "Error querying local certificate");
  }
  const TestCertificates& certs = TestCertificates::Get();
  auto mine = TclCertificate::FromPemFile(certs.Path("client"));
  mine->SetPrivateKey(certs.Key("client"));
  TlsClient client("localhost");
  client.tls->OnGetCertificate = [&](void*, TclCertificate*& cert, TclCertificateList&,
                                     bool& handled) {
    cert = mine.get();
    handled = true;
  };
  client.Open(server.Port());
  ExpectRoundTrip(client, "with a certificate");
}

INSTANTIATE_TEST_SUITE_P(Net, TlsSessionTest, ::testing::Values("-tls1_2", "-tls1_3"),
                         [](const auto& info) {
                           return std::string(info.param) == "-tls1_2" ? "Tls12" : "Tls13";
                         });

// ---- STARTTLS on an open connection ----

enum class Injection { kNone, kBeforeOurHello, kAsTheAnswer };

const char* InjectionText(Injection injection) {
  const char* names[] = {"Clean", "InjectedBeforeOurHello", "InjectedAsTheAnswer"};
  return names[static_cast<int>(injection)];
}
void PrintTo(Injection injection, std::ostream* os) {
  *os << InjectionText(injection);
}
std::string InjectionName(const ::testing::TestParamInfo<Injection>& info) {
  return InjectionText(info.param);
}

class TlsStartTlsTest : public TlsTest, public ::testing::WithParamInterface<Injection> {};

TEST_P(TlsStartTlsTest, SwitchesAnOpenConnection) {
  const Injection injection = GetParam();
  SServer server("good", {"-rev"});
  Relay relay(server.Port(), Relay::Mode::kWhole, [injection](int fd) {
    nettest::SendAll(fd, "220 ready\r\n");
    if (nettest::RecvExactly(fd, 10) != "STARTTLS\r\n")
      return;
    nettest::SendAll(fd, "220 go ahead\r\n");
    if (injection == Injection::kBeforeOurHello) {
      ::usleep(100000);
      nettest::SendAll(fd, "250 injected\r\n");
    } else if (injection == Injection::kAsTheAnswer) {
      nettest::RecvExactly(fd, 5);
      nettest::SendAll(fd, "250 injected\r\n");
    }
  });
  TclTcpClientConnection connection;
  connection.SetTimeOut(5000);
  connection.SetNetworkStream(std::make_unique<TclNetworkStream>());
  connection.Open("127.0.0.1", relay.Port());
  TMemoryStream greeting;
  while (greeting.Data().find("\r\n") == std::string_view::npos)
    connection.ReadData(&greeting);
  connection.WriteString("STARTTLS\r\n");
  TMemoryStream reply;
  while (reply.Data().find("\r\n") == std::string_view::npos)
    connection.ReadData(&reply);
  EXPECT_EQ(reply.Data(), "220 go ahead\r\n");
  if (injection == Injection::kBeforeOurHello)
    ::usleep(300000);
  auto stream = std::make_unique<TclTlsNetworkStream>();
  stream->SetTargetName("localhost");
  connection.SetNetworkStream(std::move(stream));
  if (injection != Injection::kNone) {
    nettest::ExpectThrows<EclSSPIError>([&] { connection.OpenSession(); },
                                        kz::kPlainDataBeforeHandshakeCode,
                                        "Unencrypted data arrived before the TLS handshake");
    return;
  }
  connection.OpenSession();
  connection.WriteString("after the switch\n");
  TMemoryStream answer;
  while (answer.Data().find("\n") == std::string_view::npos && connection.Active())
    connection.ReadData(&answer);
  EXPECT_EQ(answer.Data(), "hctiws eht retfa\n");
}

INSTANTIATE_TEST_SUITE_P(Net, TlsStartTlsTest,
                         ::testing::Values(Injection::kNone, Injection::kBeforeOurHello,
                                           Injection::kAsTheAnswer),
                         InjectionName);

// A TLS 1.3 server sends session tickets after the handshake: reading them hands out no
// data and must not wait for data the server has no reason to send.
TEST_F(TlsTest, SessionTicketsAloneEndARead) {
  SServer server("good", {"-tls1_3", "-rev"});
  TlsClient client("localhost");
  client.connection.SetTimeOut(2000);
  client.Open(server.Port());
  ::usleep(200000);
  TMemoryStream data;
  EXPECT_NO_THROW(client.connection.ReadData(&data));
  EXPECT_EQ(data.Size(), 0);
  ExpectRoundTrip(client, "after the tickets");
}

// ---- versions ----

TEST_F(TlsTest, VersionFlags) {
  SServer server("good", {"-tls1_3", "-rev"});
  TlsClient defaults("localhost", {}, {});
  defaults.Open(server.Port());
  ExpectRoundTrip(defaults, "library defaults");
  TlsClient sslOnly("localhost", {}, {tfUseSSL3, tfUseSSL2});
  nettest::ExpectThrows<EclSSPIError>([&] { sslOnly.Open(server.Port()); }, kz::kNotSupportedCode,
                                      "Not supported.");
}

}  // namespace
