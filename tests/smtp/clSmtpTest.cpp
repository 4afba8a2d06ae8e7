// The SMTP client against scripted servers: the dialogue line by line, the faults real
// servers rarely show (replies split at every byte, a 421 in the middle, a server that closes
// after "354" or before its final "250", data injected after STARTTLS, endless or dripping
// replies), and the refusals that keep hostile input off the wire.
#include "smtp/clSmtp.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "SmtpScript.h"
#include "smtp/clAuthUtils.h"

using namespace smtptest;

namespace {

// A client whose opening and farewell do nothing, for reading replies directly.
class ReplyClient : public TclSmtp {
 protected:
  void OpenProtocol() override {}
  void CloseProtocol() override {}
};

struct ReplyRow {
  std::string name;
  std::vector<Step> script;
  std::vector<int> ok = {250};
  int code = 0;  // 0: accepted
  std::vector<std::string> lines = {};
  std::string text = {};
  int timeOut = 3000;
};

void PrintTo(const ReplyRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpReply : public testing::TestWithParam<ReplyRow> {};

TEST_P(SmtpReply, Reads) {
  const ReplyRow& row = GetParam();
  nettest::ScriptedPeer server([&](int fd) { RunScript(fd, row.script); });
  ReplyClient c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(row.timeOut);
  c.Open();
  try {
    c.WaitResponse(std::span<const int>(row.ok));
    EXPECT_EQ(row.code, 0) << "accepted, but expected code " << row.code;
    EXPECT_EQ(c.Response(), row.lines);
    EXPECT_EQ(c.LastResponseCode(), c.Response().empty() ? 0 : std::stoi(row.lines.back()));
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode, row.code) << e.what();
    if (!row.text.empty()) {
      EXPECT_EQ(std::string(e.what()), row.text);
    }
  }
  c.Close();
}

std::vector<ReplyRow> ReplyRows() {
  std::string manyLines;
  for (int i = 0; i < 1001; ++i)
    manyLines += "250-x\r\n";
  return {
      {"ThreeLinesInThreeReads",
       {Raw("250-a\r\n"), Pause(30), Raw("250-b\r\n"), Pause(30), Raw("250 c\r\n")},
       {250},
       0,
       {"250-a", "250-b", "250 c"}},
      {"RejectedReplyKeepsCodeAndTrimmedText",
       {Raw("550 no such user  \r\n")},
       {250},
       550,
       {},
       "550 no such user"},
      {"SplitInsideALine",
       {Raw("25"), Pause(40), Raw("0 o"), Pause(40), Raw("k\r\n")},
       {250},
       0,
       {"250 ok"}},
      {"ZeroEndsTheAcceptedList", {S("530 tls first")}, {250, 0, 530}, 530},
      {"NulBecomesSpaceHighByteQuestionMark",
       {Raw(std::string("250 a\0b\xC5\x99\r\n", 11))},
       {250},
       0,
       {"250 a b??"}},
      {"LoneCrAndLoneLfEndLines",
       {Raw("250-a\r250-b\n250 c\r\n")},
       {250},
       0,
       {"250-a", "250-b", "250 c"}},
      {"CrAtTheEndOfAReadWaitsForTheNext",
       {Raw("250-a\r"), Pause(40), Raw("\n250 b\r\n")},
       {250},
       0,
       {"250-a", "250 b"}},
      {"CodeChangingOnTheLastLine",
       {S("250-fine"), S("451 but no")},
       {250},
       kz::kMixedReplyCodesCode},
      {"FinalLineEndsTheReply", {S("451-first"), S("451 but no")}, {250}, 451},
      {"LineLongerThan64KiB",
       {Raw("250-" + std::string(70000, 'a'))},
       {250},
       kz::kReplyLineTooLongCode},
      {"LongLineSplitOverManyReads",
       {Raw(std::string(40000, 'a')), Pause(20), Raw(std::string(40000, 'a'))},
       {250},
       kz::kReplyLineTooLongCode},
      {"MoreThan1000Lines", {Raw(manyLines)}, {250}, kz::kReplyTooManyLinesCode},
      {"DripsPastTheTotalTimeOut",
       {Drip("250-slow but steady\r\n250-slow but steady\r\n", 40)},
       {250},
       kz::kTimeoutErrorCode,
       {},
       "Timeout error occured",
       600},
      {"ServerClosesMidReply", {Raw("250-a\r\n"), Close()}, {250}, kz::kServerClosedCode},
  };
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpReply, testing::ValuesIn(ReplyRows()),
                         [](const auto& info) { return info.param.name; });

// ---- the session ----

struct SessionRow {
  std::string name;
  std::vector<Step> script;
  std::vector<std::string> message = {};
  std::function<void(TclSmtp&)> setup = {};
  int code = 0;                 // 0: success
  bool anyError = false;        // an error whose code depends on the platform
  std::string streamText = {};  // when set, sent with Send(stream), 3 bytes per read
};

void PrintTo(const SessionRow& row, std::ostream* os) {
  *os << row.name;
}

const std::vector<std::string> kMessage = {"From: a@x",          "To: b@y", "Message-ID: <1@x>",
                                           "X-Mailer: t",        "",        "Hello",
                                           ".starts with a dot", "."};
const std::string kWire =
    "From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n\r\nHello\r\n"
    "..starts with a dot\r\n..\r\n.\r\n";

std::vector<Step> Opening(std::vector<Step> ehloReply = {S("250 ok")}) {
  std::vector<Step> s = {S("220 fake ESMTP"), C("EHLO me")};
  s.insert(s.end(), ehloReply.begin(), ehloReply.end());
  return s;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<Step> kEnvelope = {C("MAIL FROM: <a@x>"), S("250 ok"), C("RCPT TO: <b@y>"),
                                     S("250 ok"),           C("DATA"),   S("354 go")};
const std::vector<Step> kQuit = {C("QUIT"), S("221 bye")};

class SmtpSession : public testing::TestWithParam<SessionRow> {};

TEST_P(SmtpSession, Runs) {
  const SessionRow& row = GetParam();
  nettest::ScriptedPeer server([&](int fd) { RunScript(fd, row.script); });
  TclSmtp c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(3000);
  c.SetHostName("me");
  if (row.setup)
    row.setup(c);
  std::vector<std::string> message = row.message.empty() ? kMessage : row.message;
  try {
    c.Open();
    if (row.streamText.empty()) {
      c.Send(message);
    } else {
      TrickleStream stream(row.streamText, 3);
      c.Send(stream);
    }
    c.Close();
    EXPECT_TRUE(row.code == 0 && !row.anyError) << "sent, but an error was expected";
  } catch (const EclError& e) {
    if (!row.anyError) {
      EXPECT_EQ(e.ErrorCode, row.code) << e.what();
    }
    c.Close();
  }
  EXPECT_FALSE(c.Active());
}

std::vector<SessionRow> SessionRows() {
  std::vector<SessionRow> rows;
  rows.push_back({"SendsDotStuffedData",
                  Opening() + kEnvelope + std::vector<Step>{Data(kWire), S("250 stored")} + kQuit});
  rows.push_back(
      {"BareCrOrLfNeverEndsTheData",
       Opening() + kEnvelope +
           std::vector<Step>{
               Data("From: a@x\r\nMessage-ID: <9@x>\r\nX-Mailer: www.kadenza.cz - Kadenza\r\n"
                    "\r\nx\r\n..\r\nMAIL FROM:<evil>\r\ny\r\n\r\n\r\n..z\r\n.\r\n"),
               S("250 stored")} +
           kQuit,
       {"From: a@x", "Message-ID: <9@x>", "", "x\n.\r\nMAIL FROM:<evil>", "y\r", "\n.z"},
       [](TclSmtp& c) {
         c.SetMailFrom("a@x");
         c.SetMailToList({"b@y"});
       }});
  // The same from a stream whose reads end anywhere, a CR LF cut in two included.
  for (std::size_t shift : {0, 1, 2}) {
    rows.push_back(
        {"StreamedBareCrOrLf" + std::to_string(shift),
         Opening() + kEnvelope +
             std::vector<Step>{Data(std::string(shift, 'H') +
                                    ": v\r\nFrom: a@x\r\nMessage-ID: <9@x>\r\n"
                                    "X-Mailer: www.kadenza.cz - Kadenza\r\n\r\nx\r\n..\r\nMAIL "
                                    "FROM:<evil>\r\ny\r\n\r\n..z\r\n.\r\n"),
                               S("250 stored")} +
             kQuit,
         {},
         [](TclSmtp& c) {
           c.SetMailFrom("a@x");
           c.SetMailToList({"b@y"});
         },
         0,
         false,
         std::string(shift, 'H') +
             ": v\r\nFrom: a@x\r\nMessage-ID: <9@x>\r\n\r\nx\n.\r\nMAIL FROM:<evil>\r\ny\r\r\n.z"});
  }
  // Message-ID and X-Mailer are added only when missing; every Bcc field goes, with its
  // continuation line, and its addresses still get the message.
  rows.push_back(
      {"EveryBccFieldIsRemoved",
       Opening() +
           std::vector<Step>{C("MAIL FROM: <a@x>"), S("250 ok"), C("RCPT TO: <b@y>"), S("250 ok"),
                             C("RCPT TO: <c@z>"), S("250 ok"), C("RCPT TO: <d@w>"), S("250 ok"),
                             C("RCPT TO: <e@v>"), S("250 ok"), C("DATA"), S("354 go"),
                             Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n"
                                  "\r\nbody\r\n.\r\n"),
                             S("250 stored")} +
           kQuit,
       {"From: a@x", "Bcc: c@z", "To: b@y", "bcc: d@w,", "\te@v", "Message-ID: <1@x>",
        "X-Mailer: t", "", "body"}});
  rows.push_back({"RepliesSplitAtEveryByte",
                  std::vector<Step>{Drip("220-fake\r\n220 ESMTP\r\n"), C("EHLO me"),
                                    Drip("250-me\r\n250 SIZE 10\r\n")} +
                      kEnvelope + std::vector<Step>{Data(kWire), Drip("250 stored\r\n")} + kQuit});
  rows.push_back({"Ehlo530IsAnsweredLater",
                  Opening({S("530 must issue STARTTLS first")}) +
                      std::vector<Step>{C("MAIL FROM: <a@x>"), S("530 must issue STARTTLS first")} +
                      kQuit,
                  {},
                  {},
                  530});
  rows.push_back({"EhloRejectedClosesWithoutQuit",
                  Opening({S("554 go away")}) + std::vector<Step>{Closed()},
                  {},
                  {},
                  554});
  rows.push_back(
      {"ServiceClosing421InTheMiddle",
       Opening() + std::vector<Step>{C("MAIL FROM: <a@x>"), S("421 shutting down"), Close()},
       {},
       {},
       421});
  rows.push_back({"ServerClosesAfter354",
                  Opening() + kEnvelope + std::vector<Step>{Close()},
                  std::vector<std::string>(kMessage.begin(), kMessage.end()),
                  {},
                  0,
                  true});
  rows.push_back({"ServerClosesBeforeItsFinal250",
                  Opening() + kEnvelope + std::vector<Step>{Data(kWire), Close()},
                  {},
                  {},
                  kz::kServerClosedCode});
  rows.push_back({"RecipientRejected",
                  Opening() +
                      std::vector<Step>{C("MAIL FROM: <a@x>"), S("250 ok"), C("RCPT TO: <b@y>"),
                                        S("550 no such user")} +
                      kQuit,
                  {},
                  {},
                  550});
  rows.push_back({"DataLineTooLongForTheBatch",
                  Opening() + kEnvelope + std::vector<Step>{C("QUIT")},
                  {"From: a@x", "To: b@y", "", std::string(62, 'a')},
                  [](TclSmtp& c) { c.SetBatchSize(64); },
                  kz::kDataLineTooLongCode});
  rows.push_back(
      {"DataLineOfBatchSizeLess3Fits",
       Opening() + kEnvelope +
           std::vector<Step>{
               Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n\r\n" +
                    std::string(61, 'a') + "\r\n.\r\n"),
               S("250 ok")} +
           kQuit,
       {"From: a@x", "To: b@y", "Message-ID: <1@x>", "X-Mailer: t", "", std::string(61, 'a')},
       [](TclSmtp& c) { c.SetBatchSize(64); }});
  // STARTTLS: bytes behind the 220 could pose as replies of the protected session.
  rows.push_back(
      {"DataInjectedAfterStartTlsReply",
       Opening({S("250-me"), S("250 STARTTLS")}) +
           std::vector<Step>{C("STARTTLS"), Raw("220 go ahead\r\n250-AUTH PLAIN\r\n250 ok\r\n"),
                             Closed()},
       {},
       [](TclSmtp& c) { c.SetUseTLS(ctExplicit); },
       kz::kStartTlsInjectionCode});
  // Injected bytes that arrive after the check meet the handshake, which refuses them.
  rows.push_back({"DataInjectedLaterFailsTheHandshake",
                  Opening({S("250-me"), S("250 STARTTLS")}) +
                      std::vector<Step>{C("STARTTLS"), S("220 go ahead"), Pause(100),
                                        Raw("250-AUTH PLAIN\r\n250 ok\r\n"), Pause(300)},
                  {},
                  [](TclSmtp& c) { c.SetUseTLS(ctExplicit); },
                  0,
                  true});
  // Envelope and command injection is refused before anything goes out.
  for (const auto& [name, from] : std::vector<std::pair<std::string, std::string>>{
           {"MailFromWithCrLf", "x@y\r\nRSET"},
           {"MailFromWithAngleInQuotes", "\"a@b> ORCPT=x\"@c"},
           {"MailFromWithNul", std::string("a\0@b", 4)},
           {"MailFromWithLoneLf", "<a@b\nDATA>"}}) {
    rows.push_back({"Refuses" + name,
                    Opening() + kQuit,
                    {},
                    [from = from](TclSmtp& c) { c.SetMailFrom(from); },
                    kz::kBadAddressCode});
  }
  rows.push_back({"RefusesRecipientWithCr",
                  Opening() + std::vector<Step>{C("MAIL FROM: <a@x>"), S("250 ok")} + kQuit,
                  {},
                  [](TclSmtp& c) { c.SetMailToList({"b@y\rRSET"}); },
                  kz::kBadAddressCode});
  rows.push_back({"RefusesHeloNameWithLineBreak",
                  std::vector<Step>{S("220 fake"), Closed()},
                  {},
                  [](TclSmtp& c) { c.SetHostName("me\r\nMAIL FROM:<x@y>"); },
                  kz::kCommandLineBreakCode});
  rows.push_back({"EmptyRecipientList",
                  Opening() + std::vector<Step>{C("MAIL FROM: <a@x>"), S("250 ok")} + kQuit,
                  {"From: a@x", "", "no To"},
                  {},
                  kz::kEmptyRecipientsCode});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpSession, testing::ValuesIn(SessionRows()),
                         [](const auto& info) { return info.param.name; });

// ---- the log-in ----

struct LoginRow {
  std::string name;
  std::string offered;  // the AUTH extension, empty for none
  bool useSasl = false, saslOnly = false;
  std::vector<Step> exchange;  // after EHLO; the client is then expected to send QUIT
  int code = 0;
  std::string user = "joe", password = "secret";
};

void PrintTo(const LoginRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpLogin : public testing::TestWithParam<LoginRow> {};

TEST_P(SmtpLogin, ChoosesAndRuns) {
  const LoginRow& row = GetParam();
  std::vector<Step> script = {S("220 fake"), C("EHLO me")};
  if (row.offered.empty()) {
    script.push_back(S("250 ok"));
  } else {
    script.push_back(S("250-me"));
    script.push_back(S("250 " + row.offered));
  }
  script = script + row.exchange;
  nettest::ScriptedPeer server([&](int fd) { RunScript(fd, script); });
  TclSmtp c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(3000);
  c.SetHostName("me");
  c.SetUserName(row.user);
  c.SetPassword(row.password);
  c.SetUseSasl(row.useSasl);
  c.SetSaslOnly(row.saslOnly);
  std::vector<std::string> sent;
  c.OnSendCommand = [&](TclTcpCommandClient*, std::string_view text) { sent.emplace_back(text); };
  try {
    c.Open();
    EXPECT_EQ(row.code, 0);
    c.Close();
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, row.code) << e.what();
  }
  for (const std::string& line : sent) {
    if (!row.password.empty()) {
      EXPECT_EQ(line.find(kz::Base64Encode(row.password)), std::string::npos) << "secret in log";
    }
  }
}

const std::string kLoginUser = "334 VXNlcm5hbWU6", kLoginPassword = "334 UGFzc3dvcmQ6";

std::vector<LoginRow> LoginRows() {
  const std::vector<Step> login = {C("AUTH LOGIN"), S(kLoginUser), C("am9l"), S(kLoginPassword),
                                   C("c2VjcmV0"),   S("235 ok"),   C("QUIT"), S("221 bye")};
  const std::vector<Step> cram = {C("AUTH CRAM-MD5"),
                                  S("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+"),
                                  C("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"),
                                  S("235 ok"),
                                  C("QUIT"),
                                  S("221 bye")};
  const std::vector<Step> ntlmStart = {C("AUTH NTLM"), S("334 "),
                                       C("TlRMTVNTUAABAAAAB4IIoAAAAAAgAAAAAAAAACAAAAA=")};
  const std::vector<Step> cancel = {C("*"), S("501 aborted"), Closed()};
  const std::vector<Step> none = {C("QUIT"), S("221 bye")};
  std::vector<LoginRow> rows = {
      {"NoCredentialsNoAuth", "AUTH LOGIN", false, false, none, 0, "", ""},
      {"PlainLoginWhenNotSasl", "AUTH CRAM-MD5", false, false, login},
      {"SaslPrefersCramMd5OverLogin", "AUTH LOGIN CRAM-MD5", true, false, cram, 0, "tim",
       "tanstaaftanstaaf"},
      {"SaslPrefersNtlmOverCramMd5", "AUTH CRAM-MD5 NTLM", true, false,
       ntlmStart + std::vector<Step>{S("535 no")}, 535},
      {"SaslFallsBackToLogin", "AUTH LOGIN PLAIN", true, false, login},
      {"SaslOnlyRefusesLogin",
       "AUTH LOGIN PLAIN",
       true,
       true,
       {Closed()},
       kz::kSaslUnavailableCode},
      {"SaslOnlyWithoutAuthRefuses", "", true, true, {Closed()}, kz::kSaslUnavailableCode},
      {"NoAuthOfferedGoesOnUnauthenticated", "", true, false, none},
      {"AuthEqualsFormCounts", "AUTH=CRAM-MD5", true, false, cram, 0, "tim", "tanstaaftanstaaf"},
      {"WrongPasswordKeepsServerCode",
       "AUTH LOGIN",
       false,
       false,
       {C("AUTH LOGIN"), S(kLoginUser), C("am9l"), S(kLoginPassword), C("c2VjcmV0"),
        S("535 5.7.8 invalid"), Closed()},
       535},
      {"Utf8Password",
       "AUTH LOGIN",
       false,
       false,
       {C("AUTH LOGIN"), S(kLoginUser), C("am9l"), S(kLoginPassword), C("aGVzbG8gxZkg8J+YgA=="),
        S("235 ok"), C("QUIT"), S("221 bye")},
       0,
       "joe",
       "heslo \xC5\x99 \xF0\x9F\x98\x80"},
      // A malformed challenge cancels with "*" before any secret goes out.
      {"LoginPromptNotBase64", "AUTH LOGIN", false, false,
       std::vector<Step>{C("AUTH LOGIN"), S("334 Username:")} + cancel, kz::kInvalidChallengeCode},
      {"CramChallengeEmpty", "AUTH CRAM-MD5", true, false,
       std::vector<Step>{C("AUTH CRAM-MD5"), S("334 ")} + cancel, kz::kInvalidChallengeCode},
      {"CramChallengeBadPadding", "AUTH CRAM-MD5", true, false,
       std::vector<Step>{C("AUTH CRAM-MD5"), S("334 PDE4=OTY")} + cancel,
       kz::kInvalidChallengeCode},
      // A challenge past 64 KiB makes a reply line past the limit: the session ends there.
      {"CramChallengeOver64KiB",
       "AUTH CRAM-MD5",
       true,
       false,
       {C("AUTH CRAM-MD5"), S("334 " + std::string(65540, 'A')), Closed()},
       kz::kReplyLineTooLongCode},
      // Target information said to lie at offset 0xFFF0 of a 48-byte message.
      {"NtlmTargetInfoOutsideMessage", "AUTH NTLM", true, false,
       ntlmStart +
           std::vector<Step>{
               S("334 TlRMTVNTUAACAAAAAAAAADAAAAAFAokAASNFZ4mrze8AAAAAAAAAAAgACADw/wAA")} +
           cancel,
       kz::kInvalidChallengeCode},
      {"NtlmChallengeOfWrongType", "AUTH NTLM", true, false,
       ntlmStart + std::vector<Step>{S("334 TlRMTVNTUAABAAAAB4IIoAAAAAAgAAAAAAAAACAAAAA=")} +
           cancel,
       kz::kInvalidChallengeCode},
  };
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpLogin, testing::ValuesIn(LoginRows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace

namespace {

TclSmtp& Local(TclSmtp& c, int port) {
  c.SetServer("127.0.0.1");
  c.SetPort(port);
  c.SetTimeOut(3000);
  c.SetHostName("me");
  return c;
}

// Open on an open client does nothing; StartTls with no TLS mode switches to the explicit
// mode (firing OnChanged) before its handshake, and a failed handshake leaves it closed.
TEST(SmtpClient, OpenTwiceAndStartTlsFromNoTls) {
  nettest::ScriptedPeer server([](int fd) {
    RunScript(fd, {S("220 fake"), C("EHLO me"), S("250 ok"), C("STARTTLS"), S("220 go"), Pause(200),
                   Close()});
  });
  TclSmtp c;
  Local(c, server.Port());
  int opened = 0, closed = 0, changed = 0;
  c.OnOpen = [&](TclTcpClient*) { ++opened; };
  c.OnClose = [&](TclTcpClient*) { ++closed; };
  c.Open();
  c.Open();
  EXPECT_EQ(opened, 1);
  c.OnChanged = [&](TclTcpClient* sender) {
    ++changed;
    EXPECT_EQ(static_cast<TclSmtp*>(sender)->UseTLS(), ctExplicit);
    EXPECT_TRUE(sender->Active()) << "the mode changes before the handshake";
  };
  EXPECT_THROW(c.StartTls(), EclError);
  EXPECT_EQ(changed, 1);
  EXPECT_FALSE(c.Active());
  EXPECT_LE(closed, 1);
}

// The keep-alive tick sends NOOP; a tick that fails (the server is gone) raises nothing.
TEST(SmtpClient, KeepAliveSendsNoopAndSurvivesADeadServer) {
  nettest::ScriptedPeer server([](int fd) {
    RunScript(fd, {S("220 fake"), C("EHLO me"), S("250 ok"), C("NOOP"), S("250 ok"), Close()});
  });
  TclSmtp c;
  Local(c, server.Port());
  c.SetKeepAlive(20);
  c.Open();
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(kz::RunDueTimers(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_NO_THROW(kz::RunDueTimers());
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_NO_THROW(kz::RunDueTimers());
  c.Close();
  EXPECT_EQ(kz::RunDueTimers(), 0) << "no tick after Close";
}

}  // namespace
