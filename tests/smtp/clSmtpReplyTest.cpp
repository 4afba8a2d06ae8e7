// The SMTP client holds the server to the reply framing: against scripted servers, a line
// that answers no command (waiting before a command, or behind a reply's last line), a
// loose or mixed reply code, and a keep-alive tick during the data phase each end as they
// must, error or success, with what the client sent checked line by line.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <thread>

#include "SmtpScript.h"
#include "smtp/clReplyFraming.h"
#include "smtp/clSmtp.h"

using namespace smtptest;

namespace {

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const std::vector<Step>& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::vector<Step> kGreeting = {S("220 fake ESMTP"), C("EHLO me")};
const std::vector<Step> kEhloOk = {S("250 ok")};
const std::vector<Step> kMail = {C("MAIL FROM:<a@x>"), S("250 ok")};
const std::vector<Step> kRcpt = {C("RCPT TO:<b@y>")};
const std::vector<Step> kData = {C("DATA"), S("354 go"),
                                 Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\n"
                                      "X-Mailer: t\r\n\r\nHello\r\n.\r\n")};
const std::vector<Step> kQuit = {C("QUIT"), S("221 bye")};

const std::vector<std::string> kLines = {"From: a@x",   "To: b@y", "Message-ID: <1@x>",
                                         "X-Mailer: t", "",        "Hello"};

struct StrictRow {
  std::string name;
  std::vector<Step> script;
  int code = 0;             // 0: the message is sent
  std::string quoted = {};  // a text the error must quote
  int idleMs = 0;           // the pause between Open and Send
  std::function<void(TclSmtp&)> setup = {};
};

void PrintTo(const StrictRow& row, std::ostream* os) {
  *os << row.name;
}

class SmtpStrictReply : public testing::TestWithParam<StrictRow> {};

TEST_P(SmtpStrictReply, EndsAsItMust) {
  const StrictRow& row = GetParam();
  nettest::ScriptedPeer server([&](int fd) { RunScript(fd, row.script); });
  TclSmtp c;
  c.SetServer("127.0.0.1");
  c.SetPort(server.Port());
  c.SetTimeOut(3000);
  c.SetHostName("me");
  if (row.setup)
    row.setup(c);
  std::vector<std::string> lines = kLines;
  try {
    c.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(row.idleMs));
    c.Send(lines);
    c.Close();
    EXPECT_EQ(row.code, 0) << "sent, but an error was expected";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, row.code) << e.what();
    EXPECT_NE(std::string(e.what()).find(row.quoted), std::string::npos) << e.what();
    c.Close();
  }
  EXPECT_FALSE(c.Active());
}

std::vector<StrictRow> StrictRows() {
  const auto keepAlive = [](TclSmtp& c) { c.SetKeepAlive(10); };
  return {
      {"Sent",
       Join({kGreeting, kEhloOk, kMail, kRcpt, {S("250 ok")}, kData, {S("250 ok")}, kQuit})},
      // Lines that answer no command end the session without QUIT.
      {"LineBehindTheGreeting",
       {Raw("220 fake\r\n250 ok\r\n"), Closed()},
       kz::kUnsolicitedReplyCode,
       "\"250 ok\""},
      {"RefusalBehindTheSuccessOfRcpt",
       Join({kGreeting, kEhloOk, kMail, kRcpt, {Raw("250 ok\r\n550 no such user\r\n"), Closed()}}),
       kz::kUnsolicitedReplyCode, "\"550 no such user\""},
      {"SuccessBehindTheRefusalOfRcptIsReadAtQuit",
       Join({kGreeting, kEhloOk, kMail, kRcpt, {Raw("550 no such user\r\n250 ok\r\n"), Closed()}}),
       550},
      {"LineBehindTheReplyToTheFinalDot",
       Join({kGreeting,
             kEhloOk,
             kMail,
             kRcpt,
             {S("250 ok")},
             kData,
             {Raw("250 ok\r\n554 rejected after all\r\n"), Closed()}}),
       kz::kUnsolicitedReplyCode, "554 rejected after all"},
      {"LineWaitingBeforeMailFrom",
       Join({kGreeting, kEhloOk, {S("421 4.4.2 idle too long"), Closed()}}),
       kz::kUnsolicitedReplyCode, "421 4.4.2 idle too long", 150},
      // A CR LF cut in two after a reply is one line end, however late its LF comes.
      {"LateLfOfTheLastReply",
       Join({kGreeting,
             {Raw("250 ok\r"), Pause(60), Raw("\n")},
             kMail,
             kRcpt,
             {S("250 ok")},
             kData,
             {S("250 ok")},
             kQuit}),
       0,
       {},
       150},
      {"LateLfWhileTheNextCommandIsOnItsWay", Join({kGreeting,
                                                    {Raw("250 ok\r"), Pause(30), Raw("\n")},
                                                    kMail,
                                                    kRcpt,
                                                    {S("250 ok")},
                                                    kData,
                                                    {S("250 ok")},
                                                    kQuit})},
      // Reply codes: three digits, then a space, a hyphen or the end of the line.
      {"CodeWithoutText",
       Join({kGreeting, {S("250")}, kMail, kRcpt, {S("250")}, kData, {S("250")}, kQuit})},
      {"CodeRunsIntoText", Join({kGreeting, {S("250ok"), Closed()}}), kz::kMalformedReplyCode,
       "\"250ok\""},
      {"TwoDigitCode", Join({kGreeting, {S("25 ok"), Closed()}}), kz::kMalformedReplyCode},
      {"FourDigitCode", Join({kGreeting, {S("2500 ok"), Closed()}}), kz::kMalformedReplyCode},
      {"LettersForCode", Join({kGreeting, {S("2x0 ok"), Closed()}}), kz::kMalformedReplyCode},
      {"EmptyLineInAReply", Join({kGreeting, {S("250-me"), S(""), S("250 ok"), Closed()}}),
       kz::kMalformedReplyCode},
      {"TabAfterCode", Join({kGreeting, {S("250\tok"), Closed()}}), kz::kMalformedReplyCode},
      {"CodeChangesInsideAReply",
       Join({kGreeting, {S("250-me"), S("250-SIZE 10"), S("550 no"), Closed()}}),
       kz::kMixedReplyCodesCode, "\"250-me\" and then \"550 no\""},
      {"SuccessAfterARefusalLine",
       Join({kGreeting, kEhloOk, kMail, kRcpt, {S("550-no"), S("250 ok"), Closed()}}),
       kz::kMixedReplyCodesCode},
      {"MalformedGreeting", {S("220fake"), Closed()}, kz::kMalformedReplyCode},
      // RCPT TO: 251 (will forward) and 252 (cannot verify) accept the recipient.
      {"Rcpt251", Join({kGreeting,
                        kEhloOk,
                        kMail,
                        kRcpt,
                        {S("251 2.1.5 will forward")},
                        kData,
                        {S("250 ok")},
                        kQuit})},
      {"Rcpt252", Join({kGreeting,
                        kEhloOk,
                        kMail,
                        kRcpt,
                        {S("252 2.1.5 cannot verify")},
                        kData,
                        {S("250 ok")},
                        kQuit})},
      {"Rcpt253IsRefused",
       Join({kGreeting, kEhloOk, kMail, kRcpt, {S("253 what"), C("QUIT"), S("221 bye")}}), 253},
      // A keep-alive tick that falls due in the data phase sends nothing: NOOP would take
      // the reply to the final dot, and the refusal would count as a success.
      {"KeepAliveWaitsOutTheDataPhase",
       Join(
           {kGreeting,
            kEhloOk,
            kMail,
            kRcpt,
            {S("250 ok")},
            {C("DATA"), Pause(80), S("354 go"),
             Data("From: a@x\r\nTo: b@y\r\nMessage-ID: <1@x>\r\nX-Mailer: t\r\n\r\nHello\r\n.\r\n"),
             Pause(150), S("554 5.7.1 rejected")},
            kQuit}),
       554, "554 5.7.1 rejected", 0, keepAlive},
      {"KeepAliveWaitsOutASlowReply",
       Join({kGreeting,
             kEhloOk,
             {C("MAIL FROM:<a@x>"), Pause(150), S("250 ok")},
             kRcpt,
             {S("250 ok")},
             kData,
             {Pause(150), S("250 ok")},
             kQuit}),
       0,
       {},
       0,
       keepAlive},
  };
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpStrictReply, testing::ValuesIn(StrictRows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
