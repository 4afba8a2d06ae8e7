// SOCKS streams through real proxies started here on 127.0.0.1: microsocks (SOCKS 5 with
// and without a user name) and danted (SOCKS 4, 4a and 5). Each tunnel reaches an echo
// server of the test and moves data both ways.
#include <gtest/gtest.h>

#include "NetTestPeers.h"
#include "net/clConnection.h"
#include "net/clSocks.h"

namespace {

// Opens a tunnel to the echo server and checks a round trip of `size` bytes.
void RoundTrip(int proxyPort, std::unique_ptr<TclSocksNetworkStream> socks, int echoPort,
               std::string_view target, std::size_t size = 100000) {
  socks->SetTargetServer(target);
  socks->SetTargetPort(static_cast<std::uint16_t>(echoPort));
  TclTcpClientConnection c;
  c.SetTimeOut(5000);
  c.SetNetworkStream(std::move(socks));
  c.Open("127.0.0.1", proxyPort);
  ASSERT_TRUE(c.Active());
  EXPECT_EQ(c.PeerPort(), proxyPort);
  std::string payload(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    payload[i] = static_cast<char>(i * 7 + i / 251);
  TMemoryStream out(payload);
  TMemoryStream in;
  while (out.Remaining() > 0 || in.Size() < static_cast<std::int64_t>(size)) {
    if (out.Remaining() > 0) {
      // Send a slice, then take back what the echo returned so neither side stalls.
      const std::int64_t end = std::min<std::int64_t>(out.Position() + 16384, out.Size());
      TMemoryStream slice(payload.substr(out.Position(), end - out.Position()));
      c.WriteData(&slice);
      out.SetPosition(end);
    }
    c.ReadData(&in);
    ASSERT_TRUE(c.Active());
  }
  EXPECT_EQ(in.Data(), payload);
  c.Close(true);
}

template <class Stream>
std::unique_ptr<TclSocksNetworkStream> Socks(std::string user = {}, std::string password = {}) {
  auto s = std::make_unique<Stream>(std::make_unique<TclNetworkStream>());
  s->SetUserName(user);
  s->SetPassword(password);
  return s;
}

class NetMicrosocks : public testing::Test {
 protected:
  void Start(std::vector<std::string> extra) {
    port_ = nettest::FreePort();
    std::vector<std::string> args{"-i", "127.0.0.1", "-p", std::to_string(port_)};
    args.insert(args.end(), extra.begin(), extra.end());
    proxy_ = std::make_unique<nettest::ChildProcess>("/usr/bin/microsocks", args);
    ASSERT_TRUE(nettest::WaitForListener(port_)) << "microsocks did not start";
  }
  void TearDown() override { proxy_.reset(); }

  nettest::EchoServer echo_;
  std::unique_ptr<nettest::ChildProcess> proxy_;
  int port_ = 0;
};

TEST_F(NetMicrosocks, Socks5WithoutAuthentication) {
  Start({});
  RoundTrip(port_, Socks<TclSocks5NetworkStream>(), echo_.Port(), "127.0.0.1");
}

TEST_F(NetMicrosocks, Socks5WithUserNameAndHostName) {
  Start({"-u", "kadenza", "-P", "pa55word"});
  RoundTrip(port_, Socks<TclSocks5NetworkStream>("kadenza", "pa55word"), echo_.Port(), "localhost");
}

TEST_F(NetMicrosocks, Socks5WrongPasswordIsRefused) {
  Start({"-u", "kadenza", "-P", "pa55word"});
  nettest::ExpectThrows<EclSocksFirewallError>(
      [&] {
        RoundTrip(port_, Socks<TclSocks5NetworkStream>("kadenza", "nope"), echo_.Port(),
                  "127.0.0.1");
      },
      2, "SOCKS error: authentication failed");  // microsocks refuses a log-in with status 2
}

TEST_F(NetMicrosocks, Socks5WithoutUserWhenOneIsRequired) {
  Start({"-u", "kadenza", "-P", "pa55word"});
  nettest::ExpectThrows<EclSocksFirewallError>(
      [&] { RoundTrip(port_, Socks<TclSocks5NetworkStream>(), echo_.Port(), "127.0.0.1"); }, 255,
      "SOCKS error: No acceptable authentication methods");
}

class NetDanted : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(danted_.Started()) << "danted did not start:\n" << danted_.Log();
  }
  void TearDown() override {
    if (HasFailure())
      std::cerr << "danted log:\n" << danted_.Log();
  }

  nettest::DantedProxy danted_;
  const int port_ = danted_.Port();
  nettest::EchoServer echo_;
};

TEST_F(NetDanted, Socks4ToAnAddress) {
  RoundTrip(port_, Socks<TclSocks4NetworkStream>("nobody"), echo_.Port(), "127.0.0.1");
}

TEST_F(NetDanted, Socks5ToAnAddress) {
  RoundTrip(port_, Socks<TclSocks5NetworkStream>(), echo_.Port(), "127.0.0.1");
}

TEST_F(NetDanted, Socks5RefusedConnectionKeepsTheProxysCode) {
  const int closedPort = nettest::FreePort();
  nettest::ExpectThrows<EclSocksFirewallError>(
      [&] { RoundTrip(port_, Socks<TclSocks5NetworkStream>(), closedPort, "127.0.0.1"); }, 5,
      "SOCKS error: Connection refused");
}

// danted 1.4 does not implement the SOCKS 4a host-name form (it tries to connect to the
// address 0.0.0.1 itself), so 4a is checked against a proxy built on Perl's
// IO::Socket::Socks.
class NetPerlSocks4a : public testing::Test {
 protected:
  void SetUp() override {
    port_ = nettest::FreePort();
    proxy_ = std::make_unique<nettest::ChildProcess>(
        "/usr/bin/perl",
        std::vector<std::string>{NET_TEST_DIR "/socks4a-proxy.pl", std::to_string(port_)});
    ASSERT_TRUE(nettest::WaitForListener(port_)) << "the Perl SOCKS 4a proxy did not start";
  }
  void TearDown() override { proxy_.reset(); }

  int port_ = 0;
  nettest::EchoServer echo_;
  std::unique_ptr<nettest::ChildProcess> proxy_;
};

TEST_F(NetPerlSocks4a, Socks4aToAHostName) {
  RoundTrip(port_, Socks<TclSocks4NetworkStream>("kadenza"), echo_.Port(), "localhost");
}

TEST_F(NetPerlSocks4a, Socks4RefusalKeepsTheProxysCode) {
  // The proxy relays only to loopback targets.
  nettest::ExpectThrows<EclSocksFirewallError>(
      [&] { RoundTrip(port_, Socks<TclSocks4NetworkStream>(), echo_.Port(), "192.0.2.1"); }, 91,
      "SOCKS error: request rejected or failed");
}

}  // namespace
