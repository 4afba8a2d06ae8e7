// SOCKS 4 / 4a / 5 streams against a scripted fake proxy: the exact request bytes, every
// refusal code with its text, replies split over segments, truncated replies, early closes
// and the limits that are refused before anything is sent.
#include "net/clSocks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <initializer_list>
#include <ostream>
#include <thread>
#include <vector>

#include "NetTestPeers.h"
#include "net/clConnection.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes)
    out.push_back(static_cast<char>(b));
  return out;
}

struct Step {
  enum Kind { kExpect, kSend, kPause, kExpectNothing } kind;
  std::string bytes;
};
Step Expect(std::string bytes) {
  return {Step::kExpect, std::move(bytes)};
}
Step Send(std::string bytes) {
  return {Step::kSend, std::move(bytes)};
}
Step Pause() {
  return {Step::kPause, {}};
}
Step ExpectNothing() {
  return {Step::kExpectNothing, {}};
}

struct ProxyRow {
  std::string name;
  int version = 5;  // 4 or 5
  std::string user, password, target;
  std::vector<Step> script;
  // Success: the client then writes "ping" and must read `afterTunnel`.
  std::string afterTunnel;
  // Failure: the expected code and text; `firewall` tells the exception class.
  int code = 0;
  std::string text;
  bool firewall = true;
};

void PrintTo(const ProxyRow& row, std::ostream* os) {
  *os << row.name;
}

const std::string kPort80 = B({0x00, 0x50});
const std::string kLoopback = B({127, 0, 0, 1});
const std::string kS5Ok = B({5, 0, 0, 1, 10, 0, 0, 1, 0x1F, 0x90});

void RunScript(int fd, const std::vector<Step>& script) {
  for (const Step& step : script) {
    switch (step.kind) {
      case Step::kExpect: {
        const std::string got = nettest::RecvExactly(fd, step.bytes.size());
        EXPECT_EQ(got, step.bytes);
        if (got != step.bytes)
          return;
        break;
      }
      case Step::kSend:
        nettest::SendAll(fd, step.bytes);
        break;
      case Step::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        break;
      case Step::kExpectNothing:
        EXPECT_EQ(nettest::RecvUntilClose(fd, 3000), "");
        return;
    }
  }
}

std::unique_ptr<TclSocksNetworkStream> MakeSocks(const ProxyRow& row) {
  std::unique_ptr<TclSocksNetworkStream> s;
  if (row.version == 4) {
    s = std::make_unique<TclSocks4NetworkStream>(std::make_unique<TclNetworkStream>());
  } else {
    s = std::make_unique<TclSocks5NetworkStream>(std::make_unique<TclNetworkStream>());
  }
  s->SetTargetServer(row.target);
  s->SetTargetPort(80);
  s->SetUserName(row.user);
  s->SetPassword(row.password);
  return s;
}

class NetFakeProxy : public testing::TestWithParam<ProxyRow> {};

TEST_P(NetFakeProxy, Negotiates) {
  const ProxyRow& row = GetParam();
  nettest::ScriptedPeer proxy([&](int fd) { RunScript(fd, row.script); });
  TclTcpClientConnection c;
  c.SetTimeOut(3000);
  c.SetNetworkStream(MakeSocks(row));
  int ready = 0;
  c.OnReady = [&](TclConnection*) { ++ready; };
  try {
    c.Open("127.0.0.1", proxy.Port());
    ASSERT_TRUE(row.afterTunnel.size() > 0) << "the tunnel was accepted";
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(static_cast<TclSocksNetworkStream*>(c.NetworkStream())->State(), csData);
    TMemoryStream ping(std::string("ping"));
    c.WriteData(&ping);
    TMemoryStream in;
    // The proxy closes after its script: that reaches the connection through the tunnel.
    while (c.Active())
      c.ReadData(&in);
    EXPECT_EQ(in.Data(), row.afterTunnel);
    EXPECT_EQ(c.Socket(), -1);
  } catch (const EclSocketError& e) {
    EXPECT_TRUE(row.afterTunnel.empty()) << "unexpected error: " << e.what();
    EXPECT_EQ(e.ErrorCode, row.code);
    EXPECT_EQ(std::string(e.what()), row.text);
    EXPECT_EQ(dynamic_cast<const EclSocksFirewallError*>(&e) != nullptr, row.firewall);
    EXPECT_EQ(ready, 0);
  }
  c.CloseEnd();
}

ProxyRow Row(std::string name, int version, std::string user, std::string password,
             std::string target, std::vector<Step> script) {
  ProxyRow row;
  row.name = std::move(name);
  row.version = version;
  row.user = std::move(user);
  row.password = std::move(password);
  row.target = std::move(target);
  row.script = std::move(script);
  return row;
}

// Ok: the tunnel stands; the script ends with the client's "ping" and the answer.
ProxyRow Ok(ProxyRow row, std::string afterTunnel = "pong") {
  row.script.push_back(Expect("ping"));
  row.script.push_back(Send("pong"));
  row.afterTunnel = std::move(afterTunnel);
  return row;
}

ProxyRow Fail(ProxyRow row, int code, std::string text, bool firewall = true) {
  row.code = code;
  row.text = std::move(text);
  row.firewall = firewall;
  return row;
}

std::vector<ProxyRow> ProxyRows() {
  std::vector<ProxyRow> rows;
  const std::string s4Head = B({4, 1}) + kPort80;
  const std::string s4Granted = B({0, 90, 0, 0, 0, 0, 0, 0});
  const std::string s5Hello = B({5, 1, 0});
  const std::string s5Connect = B({5, 1, 0, 1}) + kLoopback + kPort80;
  const std::string s5ConnectName = B({5, 1, 0, 3, 11}) + "example.org" + kPort80;
  const std::string local = "127.0.0.1";

  rows.push_back(Ok(Row("Socks4Address", 4, "joe", "", local,
                        {Expect(s4Head + kLoopback + "joe" + B({0})), Send(s4Granted)})));
  rows.push_back(
      Ok(Row("Socks4aHostName", 4, "", "", "example.org",
             {Expect(s4Head + B({0, 0, 0, 1, 0}) + "example.org" + B({0})), Send(s4Granted)})));
  rows.push_back(Ok(Row("Socks4ReplyInTwoSegments", 4, "", "", local,
                        {Expect(s4Head + kLoopback + B({0})), Send(s4Granted.substr(0, 3)), Pause(),
                         Send(s4Granted.substr(3))})));
  for (int code : {91, 92, 93, 42}) {
    rows.push_back(
        Fail(Row("Socks4Refused" + std::to_string(code), 4, "", "", local,
                 {Expect(s4Head + kLoopback + B({0})), Send(B({0, code, 0, 0, 0, 0, 0, 0}))}),
             code, kz::Socks4ReplyText(code)));
  }
  rows.push_back(Ok(Row("Socks5NoAuth", 5, "", "", local,
                        {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect), Send(kS5Ok)})));
  rows.push_back(Ok(
      Row("Socks5UserPassword", 5, "alice", "s3cret", "example.org",
          {Expect(B({5, 1, 2})), Send(B({5, 2})), Expect(B({1, 5}) + "alice" + B({6}) + "s3cret"),
           Send(B({1, 0})), Expect(s5ConnectName), Send(kS5Ok)})));
  rows.push_back(Ok(Row("Socks5ReplySplitEverywhere", 5, "", "", local,
                        {Expect(s5Hello), Send(B({5})), Pause(), Send(B({0})), Expect(s5Connect),
                         Send(kS5Ok.substr(0, 3)), Pause(), Send(kS5Ok.substr(3, 4)), Pause(),
                         Send(kS5Ok.substr(7))})));
  // Bound address given as a name or as IPv6: a success; data right behind the reply
  // belongs to the tunnel and must not be swallowed.
  rows.push_back(Ok(Row("Socks5BoundName", 5, "", "", local,
                        {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect),
                         Send(B({5, 0, 0, 3, 2}) + "px" + kPort80 + "220 hi\r\n")}),
                    "220 hi\r\npong"));
  rows.push_back(Ok(Row("Socks5BoundIPv6", 5, "", "", local,
                        {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect),
                         Send(B({5, 0, 0, 4}) + std::string(15, '\0') + B({1}) + kPort80 + "!")}),
                    "!pong"));
  rows.push_back(
      Fail(Row("Socks5NoAcceptableMethod", 5, "", "", local, {Expect(s5Hello), Send(B({5, 255}))}),
           255, "SOCKS error: No acceptable authentication methods"));
  rows.push_back(Fail(Row("Socks5AuthenticationFailed", 5, "bob", "wrong", local,
                          {Expect(B({5, 1, 2})), Send(B({5, 2})),
                           Expect(B({1, 3}) + "bob" + B({5}) + "wrong"), Send(B({1, 1}))}),
                      1, "SOCKS error: authentication failed"));
  for (int code = 1; code <= 9; ++code) {
    rows.push_back(Fail(Row("Socks5Refused" + std::to_string(code), 5, "", "", local,
                            {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect),
                             Send(B({5, code, 0, 1, 0, 0, 0, 0, 0, 0}))}),
                        code, kz::Socks5ReplyText(code)));
  }
  rows.push_back(Fail(Row("Socks5UnknownAddressType", 5, "", "", local,
                          {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect),
                           Send(B({5, 0, 0, 9, 0, 0, 0, 0, 0, 0}))}),
                      8, "SOCKS error: Address type not supported"));

  // Only the method offered may be chosen, and a reply of another version is named so.
  rows.push_back(
      Fail(Row("Socks5ChoosesPasswordNotOffered", 5, "", "", local,
               {Expect(s5Hello), Send(B({5, 2})), ExpectNothing()}),
           2, "SOCKS error: the proxy chose authentication method 2, which was not offered"));
  rows.push_back(
      Fail(Row("Socks5ChoosesNoLoginNotOffered", 5, "alice", "pw", local,
               {Expect(B({5, 1, 2})), Send(B({5, 0})), ExpectNothing()}),
           0, "SOCKS error: the proxy chose authentication method 0, which was not offered"));
  rows.push_back(
      Fail(Row("Socks5ChoosesGssapi", 5, "", "", local,
               {Expect(s5Hello), Send(B({5, 1})), ExpectNothing()}),
           1, "SOCKS error: the proxy chose authentication method 1, which was not offered"));
  const std::string versionText = "SOCKS error: the proxy replied with version ";
  rows.push_back(Fail(Row("Socks5HelloReplyVersion4", 5, "", "", local,
                          {Expect(s5Hello), Send(B({4, 0})), ExpectNothing()}),
                      EPROTO, versionText + "4 instead of 5"));
  rows.push_back(Fail(Row("Socks5AuthReplyVersion5", 5, "bob", "pw", local,
                          {Expect(B({5, 1, 2})), Send(B({5, 2})),
                           Expect(B({1, 3}) + "bob" + B({2}) + "pw"), Send(B({5, 0}))}),
                      EPROTO, versionText + "5 instead of 1"));
  rows.push_back(Fail(Row("Socks5ConnectReplyVersion4", 5, "", "", local,
                          {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect),
                           Send(B({4, 0, 0, 1, 0, 0, 0, 0, 0, 0})), ExpectNothing()}),
                      EPROTO, versionText + "4 instead of 5"));
  rows.push_back(Fail(Row("Socks4ReplyVersion4", 4, "", "", local,
                          {Expect(s4Head + kLoopback + B({0})), Send(B({4, 90, 0, 0, 0, 0, 0, 0})),
                           ExpectNothing()}),
                      EPROTO, versionText + "4 instead of 0"));

  const std::string notActive = "The connection to the server is not active";
  rows.push_back(Fail(Row("Socks5ClosesBeforeHelloReply", 5, "", "", local, {Expect(s5Hello)}), -6,
                      notActive, false));
  rows.push_back(
      Fail(Row("Socks5TruncatedConnectReply", 5, "", "", local,
               {Expect(s5Hello), Send(B({5, 0})), Expect(s5Connect), Send(B({5, 0, 0, 1, 127}))}),
           -6, notActive, false));
  rows.push_back(Fail(Row("Socks4TruncatedReply", 4, "", "", local,
                          {Expect(s4Head + kLoopback + B({0})), Send(B({0, 90, 0, 0}))}),
                      -6, notActive, false));

  // Limits: refused before a single byte goes to the proxy.
  auto refused = [](std::string name, int version, std::string user, std::string password,
                    std::string target, int code, std::string text) {
    return Fail(Row(std::move(name), version, std::move(user), std::move(password),
                    std::move(target), {ExpectNothing()}),
                code, std::move(text));
  };
  rows.push_back(refused("Socks5HostName256", 5, "", "", std::string(252, 'h') + ".org", EMSGSIZE,
                         "SOCKS error: the host name is longer than 255 bytes"));
  rows.push_back(refused("Socks5UserName256", 5, std::string(256, 'u'), "p", local, EMSGSIZE,
                         "SOCKS error: the user name is longer than 255 bytes"));
  rows.push_back(refused("Socks5Password300", 5, "u", std::string(300, 'p'), local, EMSGSIZE,
                         "SOCKS error: the password is longer than 255 bytes"));
  rows.push_back(refused("Socks4RequestOver1024", 4, std::string(600, 'u'), "",
                         std::string(500, 'h') + ".org", EMSGSIZE,
                         "SOCKS error: the request is longer than 1024 bytes"));
  rows.push_back(
      refused("Socks5NameOutsideLatin1", 5,
              "\xC4\x8D"
              "ert",
              "p", local, EILSEQ,
              "SOCKS error: the user name has a character that does not fit in one byte"));
  rows.push_back(refused("Socks4UserWithZeroByte", 4, std::string("a\0b", 3), "", local, EINVAL,
                         "SOCKS error: the user name contains a zero byte"));
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Script, NetFakeProxy, testing::ValuesIn(ProxyRows()),
                         [](const testing::TestParamInfo<ProxyRow>& info) {
                           return info.param.name;
                         });

// A proxy that sends its replies a byte at a time, each byte well within the time-out:
// the negotiation as a whole still ends after one time-out.
struct DripRow {
  std::string name;
  int version;
  std::string reply;         // dripped a byte at a time
  std::vector<Step> before;  // what comes before the dripped reply
};
void PrintTo(const DripRow& r, std::ostream* os) {
  *os << r.name;
}

class NetSocksDeadline : public testing::TestWithParam<DripRow> {};
TEST_P(NetSocksDeadline, WholeNegotiationEndsWithinOneTimeOut) {
  constexpr int kTimeOut = 500;
  const DripRow& row = GetParam();
  std::vector<Step> script = row.before;
  for (char byte : row.reply) {
    script.push_back(Send(std::string(1, byte)));
    script.push_back(Pause());
    script.push_back(Pause());
  }
  nettest::ScriptedPeer proxy([&](int fd) { RunScript(fd, script); });
  ProxyRow settings;
  settings.version = row.version;
  settings.target = "127.0.0.1";
  TclTcpClientConnection c;
  c.SetTimeOut(kTimeOut);
  c.SetNetworkStream(MakeSocks(settings));
  const auto start = std::chrono::steady_clock::now();
  nettest::ExpectThrows([&] { c.Open("127.0.0.1", proxy.Port()); }, kz::kTimeoutErrorCode,
                        "Timeout error occured");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(2 * kTimeOut));
  c.CloseEnd();
}
INSTANTIATE_TEST_SUITE_P(Drip, NetSocksDeadline,
                         testing::Values(DripRow{"Socks4",
                                                 4,
                                                 B({0, 90, 0, 0, 0, 0, 0, 0}),
                                                 {Expect(B({4, 1, 0, 0x50, 127, 0, 0, 1, 0}))}},
                                         DripRow{"Socks5ConnectReply",
                                                 5,
                                                 kS5Ok,
                                                 {Expect(B({5, 1, 0})), Send(B({5, 0})),
                                                  Expect(B({5, 1, 0, 1, 127, 0, 0, 1, 0, 0x50}))}},
                                         DripRow{"Socks5BoundName",
                                                 5,
                                                 B({5, 0, 0, 3, 8}) + "proxy.cz" + B({0, 0x50}),
                                                 {Expect(B({5, 1, 0})), Send(B({5, 0})),
                                                  Expect(B({5, 1, 0, 1, 127, 0, 0, 1, 0, 0x50}))}}),
                         [](const testing::TestParamInfo<DripRow>& info) {
                           return info.param.name;
                         });

// A stream with a session of its own (as a TLS stream has): it sends "HELLO" when its
// session starts and is ready once "WELCOME" came back.
class HandshakeStream : public TclNetworkStream {
 public:
  void OpenClientSession() override {
    hello_.Clear();
    hello_.Write(std::string_view("HELLO"));
    hello_.SetPosition(0);
    welcome_.Clear();
    done_ = false;
    SetNextAction(saWrite);
  }
  bool Write(TStream* AData) override {
    if (done_)
      return TclNetworkStream::Write(AData);
    ClearNextAction();
    const bool sent = TclNetworkStream::Write(&hello_);
    if (sent)
      SetNextAction(saRead);
    return sent;
  }
  bool Read(TStream* AData) override {
    if (done_)
      return TclNetworkStream::Read(AData);
    const bool result = TclNetworkStream::Read(&welcome_);
    if (welcome_.Data() == "WELCOME") {
      done_ = true;
      TclNetworkStream::StreamReady();
    } else {
      SetNextAction(saRead);
    }
    return result;
  }
  void StreamReady() override {}  // ready only when the handshake is done

 private:
  TMemoryStream hello_, welcome_;
  bool done_ = false;
};

TEST(NetSocksStream, WrappedStreamRunsItsSessionThroughTheTunnel) {
  nettest::ScriptedPeer proxy([](int fd) {
    RunScript(fd, {Expect(B({5, 1, 0})), Send(B({5, 0})),
                   Expect(B({5, 1, 0, 1}) + kLoopback + kPort80), Send(kS5Ok), Expect("HELLO"),
                   Send("WEL"), Pause(), Send("COME"), Expect("ping"), Send("pong")});
  });
  auto socks = std::make_unique<TclSocks5NetworkStream>(std::make_unique<HandshakeStream>());
  socks->SetTargetServer("127.0.0.1");
  socks->SetTargetPort(80);
  TclTcpClientConnection c;
  c.SetTimeOut(3000);
  c.SetNetworkStream(std::move(socks));
  int ready = 0;
  c.OnReady = [&](TclConnection*) { ++ready; };
  c.Open("127.0.0.1", proxy.Port());
  EXPECT_EQ(ready, 1);  // once, after the wrapped stream's handshake
  TMemoryStream ping(std::string("ping"));
  c.WriteData(&ping);
  TMemoryStream in;
  while (c.Active())
    c.ReadData(&in);
  EXPECT_EQ(in.Data(), "pong");
}

TEST(NetSocksBytes, CarriesLatin1AsOneBytePerCharacter) {
  EXPECT_EQ(kz::SocksBytes("caf\xC3\xA9", "x"), "caf\xE9");
  EXPECT_EQ(kz::SocksBytes("", "x"), "");
  EXPECT_THROW(kz::SocksBytes("\xE2\x82\xAC", "x"), EclSocksFirewallError);  // the euro sign
}

TEST(NetSocksStream, ReplacingKeepsTheTarget) {
  TclTcpClientConnection c;
  auto first = std::make_unique<TclSocks5NetworkStream>(nullptr);
  first->SetTargetServer("mail.example.org");
  first->SetTargetPort(587);
  first->SetUserName("u");
  first->SetPassword("p");
  c.SetNetworkStream(std::move(first));
  c.SetNetworkStream(std::make_unique<TclSocks5NetworkStream>(nullptr));
  auto* second = static_cast<TclSocksNetworkStream*>(c.NetworkStream());
  EXPECT_EQ(second->TargetServer(), "mail.example.org");
  EXPECT_EQ(second->TargetPort(), 587);
  EXPECT_EQ(second->UserName(), "u");
  EXPECT_EQ(second->Password(), "p");
  EXPECT_EQ(second->BaseStream()->Connection(), &c);
}

}  // namespace
