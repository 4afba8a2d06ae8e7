// The SMTP client against scripted servers: the dialogue line by line, the faults real
// servers rarely show (replies split at every byte, a 421 in the middle, a server that closes
// after "354" or before its final "250", data injected after STARTTLS, endless or dripping
// replies), and the refusals that keep hostile input off the wire.
#include "smtp/clSmtp.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <regex>

#include "SmtpScript.h"
#include "core/StringUtils.h"
#include "mail/clMailMessage.h"
#include "net/clAddress.h"
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

const std::vector<Step> kEnvelope = {C("MAIL FROM:<a@x>"), S("250 ok"), C("RCPT TO:<b@y>"),
                                     S("250 ok"),          C("DATA"),   S("354 go")};
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
           std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok"), C("RCPT TO:<b@y>"), S("250 ok"),
                             C("RCPT TO:<c@z>"), S("250 ok"), C("RCPT TO:<d@w>"), S("250 ok"),
                             C("RCPT TO:<e@v>"), S("250 ok"), C("DATA"), S("354 go"),
                             Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n"
                                  "\r\nbody\r\n.\r\n"),
                             S("250 stored")} +
           kQuit,
       {"From: a@x", "Bcc: c@z", "To: b@y", "bcc: d@w,", "\te@v", "Message-ID: <1@x>",
        "X-Mailer: t", "", "body"}});
  // A Bcc field written with white space before its colon is a Bcc field all the same.
  rows.push_back(
      {"BccWithSpaceBeforeColonIsRemoved",
       Opening() +
           std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok"), C("RCPT TO:<b@y>"), S("250 ok"),
                             C("RCPT TO:<c@z>"), S("250 ok"), C("RCPT TO:<d@w>"), S("250 ok"),
                             C("DATA"), S("354 go"),
                             Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n"
                                  "\r\nbody\r\n.\r\n"),
                             S("250 stored")} +
           kQuit,
       {"From: a@x", "Bcc : c@z", "To: b@y", "BCC\t:d@w", "Message-ID: <1@x>", "X-Mailer: t", "",
        "body"}});
  rows.push_back(
      {"StreamedBccWithSpaceBeforeColonIsRemoved",
       Opening() +
           std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok"), C("RCPT TO:<b@y>"), S("250 ok"),
                             C("RCPT TO:<c@z>"), S("250 ok"), C("DATA"), S("354 go"),
                             Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n"
                                  "\r\nbody\r\n.\r\n"),
                             S("250 stored")} +
           kQuit,
       {},
       {},
       0,
       false,
       "From: a@x\r\nBcc : c@z\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n\r\nbody\r\n"});
  // SIZE (RFC 1870): the size is declared where the server offers the extension, and a
  // message over the server's limit is refused before MAIL FROM, the session kept.
  const std::vector<Step> sizedRest = {S("250 ok"), C("RCPT TO:<b@y>"), S("250 ok"),    C("DATA"),
                                       S("354 go"), Data(kWire),        S("250 stored")};
  rows.push_back({"SizeDeclaredUnderTheLimit", Opening({S("250-me"), S("250 SIZE 84")}) +
                                                   std::vector<Step>{C("MAIL FROM:<a@x> SIZE=84")} +
                                                   sizedRest + kQuit});
  rows.push_back({"SizeDeclaredWithoutALimit",
                  Opening({S("250-me"), S("250-SIZE"), S("250 8BITMIME")}) +
                      std::vector<Step>{C("MAIL FROM:<a@x> SIZE=84")} + sizedRest + kQuit});
  rows.push_back({"SizeLimitNotANumberIsNoLimit",
                  Opening({S("250-me"), S("250 size 1O")}) +
                      std::vector<Step>{C("MAIL FROM:<a@x> SIZE=84")} + sizedRest + kQuit});
  rows.push_back({"SizeOverTheLimitRefusedBeforeMailFrom",
                  Opening({S("250-me"), S("250 SIZE 83")}) + kQuit,
                  {},
                  {},
                  kz::kMessageTooLargeCode});
  rows.push_back(
      {"StreamedSizeOverTheLimitRefusedBeforeMailFrom",
       Opening({S("250-me"), S("250 SIZE 100")}) + kQuit,
       {},
       [](TclSmtp& c) {
         c.SetMailFrom("a@x");
         c.SetMailToList({"b@y"});
       },
       kz::kMessageTooLargeCode,
       false,
       "From: a@x\r\nMessage-ID: <9@x>\r\nX-Mailer: t\r\n\r\n" + std::string(100, 'a') + "\r\n"});
  rows.push_back({"ExtensionMerelyStartingWithSizeIsNotSize",
                  Opening({S("250-me"), S("250 SIZEX 10")}) + kEnvelope +
                      std::vector<Step>{Data(kWire), S("250 stored")} + kQuit});
  rows.push_back({"RepliesSplitAtEveryByte",
                  std::vector<Step>{Drip("220-fake\r\n220 ESMTP\r\n"), C("EHLO me"),
                                    Drip("250-me\r\n250 8BITMIME\r\n")} +
                      kEnvelope + std::vector<Step>{Data(kWire), Drip("250 stored\r\n")} + kQuit});
  rows.push_back({"Ehlo530IsAnsweredLater",
                  Opening({S("530 must issue STARTTLS first")}) +
                      std::vector<Step>{C("MAIL FROM:<a@x>"), S("530 must issue STARTTLS first")} +
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
       Opening() + std::vector<Step>{C("MAIL FROM:<a@x>"), S("421 shutting down"), Close()},
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
                      std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok"), C("RCPT TO:<b@y>"),
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
                  Opening() + std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok")} + kQuit,
                  {},
                  [](TclSmtp& c) { c.SetMailToList({"b@y\rRSET"}); },
                  kz::kBadAddressCode});
  rows.push_back({"RefusesHeloNameWithLineBreak",
                  std::vector<Step>{S("220 fake"), Closed()},
                  {},
                  [](TclSmtp& c) { c.SetHostName("me\r\nMAIL FROM:<x@y>"); },
                  kz::kCommandLineBreakCode});
  rows.push_back({"EmptyRecipientList",
                  Opening() + std::vector<Step>{C("MAIL FROM:<a@x>"), S("250 ok")} + kQuit,
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
      // Without TLS CRAM-MD5 comes before LOGIN, so the password need not go in the clear;
      // only what the server offers is tried.
      {"CramMd5BeforeLoginWithoutTls", "AUTH LOGIN CRAM-MD5", false, false, cram, 0, "tim",
       "tanstaaftanstaaf"},
      {"OnlyCramMd5OfferedWithoutSasl", "AUTH CRAM-MD5", false, false, cram, 0, "tim",
       "tanstaaftanstaaf"},
      {"LoginWhenItIsAllThatIsOffered", "AUTH LOGIN", false, false, login},
      {"NtlmWhenItIsAllThatIsOffered", "AUTH NTLM", false, false,
       ntlmStart + std::vector<Step>{S("535 no")}, 535},
      // A user name is never dropped for want of a mechanism: the send fails instead.
      {"NoAuthOfferedFailsWithAUserName", "", false, false, {Closed()}, kz::kNoLoginMechanismCode},
      {"NoUsableMechanismFails",
       "AUTH PLAIN XOAUTH2",
       false,
       false,
       {Closed()},
       kz::kNoLoginMechanismCode},
      {"PasswordAloneWithoutAuthGoesOn", "", false, false, none, 0, "", "secret"},
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
      {"SaslWithoutAuthOfferedFailsWithAUserName",
       "",
       true,
       false,
       {Closed()},
       kz::kNoLoginMechanismCode},
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

namespace {

// ---- the name announced in EHLO ----

class HeloNames : public TclSmtp {
 public:
  using TclCustomSmtp::HeloNameFor;
};

struct HeloRow {
  std::string name, hostName, fqdn, localIp, want;
};

void PrintTo(const HeloRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpHeloName : public testing::TestWithParam<HeloRow> {};

TEST_P(SmtpHeloName, Chooses) {
  const HeloRow& row = GetParam();
  EXPECT_EQ(HeloNames::HeloNameFor(row.hostName, row.fqdn, row.localIp), row.want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpHeloName,
    testing::Values(HeloRow{"HostNameWins", "relay.example", "vm.example", "192.0.2.7",
                            "relay.example"},
                    HeloRow{"HostNameKeptUntrimmed", " me", "vm.example", "192.0.2.7", " me"},
                    HeloRow{"BlankHostNameIgnored", "  ", "vm.example", "192.0.2.7", "vm.example"},
                    HeloRow{"QualifiedName", "", "jana-pc.doma.cz", "192.0.2.7", "jana-pc.doma.cz"},
                    HeloRow{"Ipv4Literal", "", "", "192.0.2.7", "[192.0.2.7]"},
                    HeloRow{"Ipv6Literal", "", "", "2001:db8::7", "[IPv6:2001:db8::7]"},
                    HeloRow{"NoLocalAddress", "", "", "", "[127.0.0.1]"}),
    [](const auto& info) { return info.param.name; });

// Without HostName the greeting names the machine by its qualified name, or else by the
// literal of the connection's local address; the bare machine name never goes out.
TEST(SmtpClient, EhloWithoutHostNameIsQualifiedOrALiteral) {
  std::string ehlo;
  {
    nettest::ScriptedPeer server([&](int fd) {
      nettest::SendAll(fd, "220 fake\r\n");
      ehlo = ReadUntil(fd, "\n");
      RunScript(fd, {S("250 ok"), C("QUIT"), S("221 bye")});
    });
    TclSmtp c;
    c.SetServer("127.0.0.1");
    c.SetPort(server.Port());
    c.SetTimeOut(3000);
    c.Open();
    c.Close();
  }
  ASSERT_TRUE(ehlo.size() > 7 && kz::StartsWith(ehlo, "EHLO ") &&
              ehlo.compare(ehlo.size() - 2, 2, "\r\n") == 0)
      << ehlo;
  const std::string name = ehlo.substr(5, ehlo.size() - 7);
  EXPECT_TRUE(name == "[127.0.0.1]" || kz::IsFullyQualifiedHostName(name)) << name;
}

}  // namespace

namespace {

// The refusal of an oversized message names both sizes, and the session stays usable.
TEST(SmtpClient, OversizedMessageNamesBothSizes) {
  nettest::ScriptedPeer server([](int fd) {
    RunScript(fd, {S("220 fake"), C("EHLO me"), S("250-me"), S("250 SIZE 83"), C("NOOP"),
                   S("250 ok"), C("QUIT"), S("221 bye")});
  });
  TclSmtp c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(3000);
  c.SetHostName("me");
  c.Open();
  std::vector<std::string> message = kMessage;
  try {
    c.Send(message);
    ADD_FAILURE() << "sent";
  } catch (const EclSmtpError& e) {
    EXPECT_EQ(e.ErrorCode, kz::kMessageTooLargeCode);
    EXPECT_STREQ(e.what(), "The message is 84 bytes, larger than the 83 bytes the server accepts");
  }
  c.Noop();
  c.Close();
}

// The Message-ID a send adds: a random left side (or the caller's) at the sender's domain.
TEST(SmtpClient, AddedMessageIdIsRandomAtTheSendersDomain) {
  std::vector<std::string> data;
  const auto peer = [&](int fd) {
    for (int i = 0; i < 3; ++i) {
      if (i == 0)
        RunScript(fd, {S("220 fake"), C("EHLO me"), S("250 ok")});
      RunScript(fd, {C("MAIL FROM:<jana@Posta.Example.CZ>"), S("250 ok"), C("RCPT TO:<b@y>"),
                     S("250 ok"), C("DATA"), S("354 go")});
      data.push_back(ReadUntil(fd, "\r\n.\r\n"));
      nettest::SendAll(fd, "250 stored\r\n");
    }
    RunScript(fd, {C("QUIT"), S("221 bye")});
  };
  {
    nettest::ScriptedPeer server(peer);
    TclSmtp c;
    c.SetServer("127.0.0.1");
    c.SetPort(server.Port());
    c.SetTimeOut(3000);
    c.SetHostName("me");
    c.Open();
    for (int i = 0; i < 3; ++i) {
      if (i == 2)
        c.SetMessageIdLeft("slot.2026-12-09T0630");
      std::vector<std::string> message = {"From: Jana <jana@Posta.Example.CZ>", "To: b@y", "",
                                          "text"};
      c.Send(message);
    }
    c.Close();
  }
  ASSERT_EQ(data.size(), 3u);
  const std::regex random(
      "(.|\r\n)*\r\nMessage-ID: <[0-9a-f]{32}@posta\\.example\\.cz>\r\n(.|\r\n)*");
  EXPECT_TRUE(std::regex_match(data[0], random)) << data[0];
  EXPECT_TRUE(std::regex_match(data[1], random)) << data[1];
  EXPECT_NE(data[0], data[1]);
  EXPECT_NE(data[2].find("\r\nMessage-ID: <slot.2026-12-09T0630@posta.example.cz>\r\n"),
            std::string::npos)
      << data[2];
}

// The component hears when its message is destroyed and forgets it: Send() then has no
// message and fails cleanly instead of reading freed memory.
TEST(SmtpClient, DestroyedMailMessageIsForgotten) {
  nettest::ScriptedPeer server([](int fd) {
    RunScript(fd, {S("220 fake"), C("EHLO me"), S("250 ok"), C("MAIL FROM:<>"), S("250 ok"),
                   C("QUIT"), S("221 bye")});
  });
  TclSmtp c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(3000);
  c.SetHostName("me");
  {
    auto message = std::make_unique<TclMailMessage>();
    message->SetFrom("a@x");
    message->ToList().SetEmailAddresses("b@y");
    c.SetMailMessage(message.get());
    EXPECT_EQ(c.MailMessage(), message.get());
  }
  EXPECT_EQ(c.MailMessage(), nullptr);
  c.Open();
  try {
    c.Send();
    ADD_FAILURE() << "sent";
  } catch (const EclSmtpError& e) {
    EXPECT_EQ(e.ErrorCode, kz::kEmptyRecipientsCode) << e.what();
  }
  c.Close();
}

// Either side may go first: a message that outlives the component, and a component that
// moves to another message, leave no registration behind.
TEST(SmtpClient, MailMessageRegistrationFollowsTheProperty) {
  TclMailMessage first, second;
  {
    TclSmtp c;
    c.SetMailMessage(&first);
    c.SetMailMessage(&second);
    TclSmtp other;
    other.SetMailMessage(&first);
    {
      TclMailMessage gone;
      c.SetMailMessage(&gone);
    }
    EXPECT_EQ(c.MailMessage(), nullptr);
    EXPECT_EQ(other.MailMessage(), &first);
  }
}

}  // namespace
