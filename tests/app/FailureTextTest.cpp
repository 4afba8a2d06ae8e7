// Send failures as the user reads them: each row makes a real peer on 127.0.0.1 fail a send
// in its own way (aiosmtpd refusing, `openssl s_server` with a bad certificate, a port
// nobody listens on, a server that never answers, a missing attachment) and checks the
// Czech sentence and the detail the history keeps. Further rows build the failures no local
// peer can produce. The last tests follow a failure to where it is shown: `--send-now`'s
// standard error, the history, the setup window's notification, error box, lamps and gauge.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>

#include "AppFixture.h"
#include "TlsTestPeers.h"
#include "app/FailureText.h"
#include "app/HexText.h"
#include "app/SendHistory.h"
#include "app/SendJob.h"
#include "core/Error.h"
#include "mail/clMailMessage.h"
#include "net/clSspi.h"
#include "smtp/clSmtp.h"
#include "smtp/clSmtpError.h"
#include "support/AiosmtpdPeer.h"

namespace {

namespace fs = std::filesystem;

const tlstest::TestCertificates& Certs() {
  return tlstest::TestCertificates::Get();
}

// A socket bound on 127.0.0.1: closed at once it is a port nobody listens on; listening, a
// server that takes the connection and never says a word.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listen) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (listen) {
      ::listen(fd_, 4);
    } else {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LoopbackPort() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

// The peers a row may start; each lives until the row ends.
struct Peers {
  std::unique_ptr<smtptest::Aiosmtpd> smtp;
  std::unique_ptr<tlstest::SServer> tls;
  std::unique_ptr<LoopbackPort> socket;

  // Smtp starts aiosmtpd speaking TLS from the first byte with log-in required.
  int Smtp(const std::string& user = "jan@example.cz", std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--mode",     "tls",
                                     "--cert",     Certs().Path("good"),
                                     "--key",      Certs().Key("good"),
                                     "--user",     user,
                                     "--password", "heslo"};
    args.insert(args.end(), extra.begin(), extra.end());
    smtp = std::make_unique<smtptest::Aiosmtpd>(SMTP_TEST_DIR "/smtp_peer.py", args);
    return smtp->Port();
  }
  int Tls(const std::string& cert) {
    tls = std::make_unique<tlstest::SServer>(cert, std::vector<std::string>{});
    return tls->Port();
  }
};

struct PeerRow {
  std::string name;
  // Start the peer and change the good settings; answers the port the sentence names.
  std::function<int(Peers&, settings::StoredSettings&, const fs::path& home)> arrange;
  std::string sentence;  // "{port}" and "{home}" stand for the row's port and home folder
  std::string detailPart;
  std::string serverReply;  // the server's words, when it answered
  int timeoutMs = 0;
};

void PrintTo(const PeerRow& row, std::ostream* os) {
  *os << row.name;
}

std::string Fill(std::string text, int port, const fs::path& home) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{port}", std::to_string(port)},
                            {"{home}", home.string()}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

class FailureTextPeer : public testing::TestWithParam<PeerRow> {
 protected:
  void SetUp() override { ASSERT_TRUE(Certs().Ready()); }

  // Attempt runs the stored send as the send job's callers do, watched, and describes how
  // it failed.
  failure::Failure Attempt(int timeoutMs) {
    TclSmtp smtp;
    sendjob::SetUpSmtp(smtp);
    if (timeoutMs > 0)
      smtp.SetTimeOut(timeoutMs);
    TclMailMessage message;
    sendjob::SetUpMessage(message);
    const failure::SendWatch watch(smtp);
    std::array<std::string, 3> attachments;
    try {
      sendjob::SendStored(smtp, message,
                          [&](const auto& stored) { attachments = stored.settings.attachments; });
    } catch (...) {
      return failure::Describe(std::current_exception(), watch.Context(attachments));
    }
    ADD_FAILURE() << "the send went through";
    return {};
  }

  TempHome home;
};

TEST_P(FailureTextPeer, SentenceAndDetail) {
  const PeerRow& row = GetParam();
  settings::EnsureDataFolder();
  settings::StoredSettings s;
  s.server = "127.0.0.1";
  s.user = "jan@example.cz";
  s.password = "heslo";
  s.recipients = "a@example.cz";
  s.ownAddress = "jan@example.cz";
  s.subject = "Přehled";
  s.sendTime = "08:00:00";
  s.validUntil = "31.12.2030";
  settings::SaveMessageText({"Dobrý den"});
  Peers peers;
  const int port = row.arrange(peers, s, home.Root());
  if (s.port.empty())
    s.port = std::to_string(port);
  s.Save(IniFile(settings::SetupFilePath()));

  const failure::Failure f = Attempt(row.timeoutMs);
  EXPECT_EQ(f.sentence, Fill(row.sentence, port, home.Root()));
  EXPECT_NE(f.detail.find(row.detailPart), std::string::npos) << f.detail;
  EXPECT_EQ(f.serverReply, row.serverReply);
  EXPECT_EQ(f.HistoryText(), f.sentence + " [" + f.detail + "]");
}

const std::string kLogIn =
    "Server 127.0.0.1 odmítl přihlášení uživatele „jan@example.cz“. Zkontrolujte uživatelské "
    "jméno a heslo.";
const std::string kUntrusted =
    "Certifikát serveru 127.0.0.1 nevydala důvěryhodná certifikační autorita (vydal jej "
    "„{issuer}“). Zkontrolujte název serveru; jde-li o správný server, obraťte se na jeho "
    "správce.";
const std::string kTls =
    "Zabezpečené spojení (TLS) se serverem 127.0.0.1 na portu {port} se nepodařilo navázat. "
    "Zkontrolujte port: 465 je šifrovaný od začátku, 25 a 587 přecházejí na šifrování příkazem "
    "STARTTLS.";

std::string Replace(std::string text, const std::string& key, const std::string& value) {
  return text.replace(text.find(key), key.size(), value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureTextPeer,
    testing::Values(
        PeerRow{"ClosedPort",
                [](Peers& p, auto&, const auto&) {
                  p.socket = std::make_unique<LoopbackPort>(false);
                  return p.socket->Port();
                },
                "Server 127.0.0.1 na portu {port} odmítl spojení. Zkontrolujte název serveru a "
                "port.",
                "(111)", ""},
        PeerRow{"ServerNeverAnswers",
                [](Peers& p, auto&, const auto&) {
                  p.socket = std::make_unique<LoopbackPort>(true);
                  return p.socket->Port();
                },
                "Server 127.0.0.1 na portu {port} neodpověděl včas. Zkontrolujte název serveru, "
                "port a připojení k síti.",
                "Timeout error occured (-1)", "", 400},
        PeerRow{"RefusedPassword",
                [](Peers& p, settings::StoredSettings& s, const auto&) {
                  s.password = "spatne";
                  return p.Smtp();
                },
                kLogIn, "(535)", "535 5.7.8 Authentication credentials invalid"},
        PeerRow{"RefusedPasswordCramMd5",
                [](Peers& p, settings::StoredSettings& s, const auto&) {
                  s.password = "spatne";
                  s.ssl = true;
                  return p.Smtp();
                },
                kLogIn, "(535)", "535 5.7.8 Authentication credentials invalid"},
        PeerRow{"RefusedRecipient",
                [](Peers& p, settings::StoredSettings& s, const auto&) {
                  s.recipients = "a@example.cz, nobody@example.cz";
                  return p.Smtp();
                },
                "Server 127.0.0.1 odmítl příjemce „nobody@example.cz“. Zkontrolujte jeho adresu "
                "v seznamu příjemců.",
                "(550)", "550 5.1.1 No such user here"},
        PeerRow{"RefusedSender",
                [](Peers& p, settings::StoredSettings& s, const auto&) {
                  s.user = s.ownAddress = "blocked@example.cz";
                  return p.Smtp(s.user);
                },
                "Server 127.0.0.1 odmítl adresu odesílatele „blocked@example.cz“. Zkontrolujte "
                "uživatelské jméno a váš email: server obvykle přijímá jen adresu vašeho účtu.",
                "(553)", "553 5.7.1 Sender address rejected: not owned by user"},
        PeerRow{"MessageTooLarge",
                [](Peers& p, settings::StoredSettings& s, const fs::path& home) {
                  TempHome::Write(home / "velka.bin", std::string(64 * 1024, 'x'));
                  s.attachments[0] = (home / "velka.bin").string();
                  return p.Smtp("jan@example.cz", {"--size-limit", "10000"});
                },
                "Server 127.0.0.1 přijímá jen menší zprávy, než je tato. Zmenšete nebo "
                "odeberte přílohy.",
                "larger than the 10000 bytes the server accepts (-206)", ""},
        PeerRow{"MissingAttachment",
                [](Peers& p, settings::StoredSettings& s, const fs::path& home) {
                  s.attachments[0] = (home / "chybi.pdf").string();
                  return p.Smtp();
                },
                "Příloha „{home}/chybi.pdf“ neexistuje. Zkontrolujte cestu k příloze, nebo ji "
                "vyberte znovu.",
                "(2)", ""},
        PeerRow{"AttachmentIsAFolder",
                [](Peers& p, settings::StoredSettings& s, const fs::path& home) {
                  s.attachments[0] = home.string();
                  return p.Smtp();
                },
                "Příloha „{home}“ není obyčejný soubor (složku, rouru ani zařízení nelze "
                "přiložit). Vyberte soubor.",
                "(22)", ""},
        PeerRow{"PortNotANumber",
                [](Peers&, settings::StoredSettings& s, const auto&) {
                  s.port = "4x65";
                  return 0;
                },
                "Port „4x65“ není číslo od 0 do 65535. Opravte port v nastavení (obvykle 465 "
                "nebo 587).",
                "'4x65' is not a valid integer value", ""},
        PeerRow{"PlainServerOnTlsPort",
                [](Peers& p, auto&, const auto&) {
                  p.smtp = std::make_unique<smtptest::Aiosmtpd>(
                      SMTP_TEST_DIR "/smtp_peer.py", std::vector<std::string>{"--mode", "plain"});
                  return p.smtp->Port();
                },
                kTls, "(-15)", ""},
        PeerRow{"CertificateForAnotherHost",
                [](Peers& p, auto&, const auto&) { return p.Tls("otherhost"); },
                "Certifikát serveru 127.0.0.1 je vystaven pro název „other.invalid“, ne pro "
                "„127.0.0.1“. Zkontrolujte název serveru: zadejte ten, pro který certifikát "
                "platí.",
                "(0x800B010F)", ""},
        PeerRow{"CertificateExpired", [](Peers& p, auto&, const auto&) { return p.Tls("expired"); },
                "Certifikát serveru 127.0.0.1 není v době své platnosti (platí od 01.01.2020 do "
                "01.02.2020). Zkontrolujte datum a čas počítače; jsou-li správně, musí "
                "certifikát obnovit správce serveru.",
                "(0x800B0101)", ""},
        PeerRow{"CertificateSelfSigned",
                [](Peers& p, auto&, const auto&) { return p.Tls("selfsigned"); },
                Replace(kUntrusted, "{issuer}", "localhost"), "(0x800B0109)", ""},
        PeerRow{"CertificateOfUnknownAuthority",
                [](Peers& p, auto&, const auto&) { return p.Tls("unknownca"); },
                Replace(kUntrusted, "{issuer}", "Kadenza Test unknown-ca"), "(0x800B0109)", ""},
        PeerRow{"CertificateForClientsOnly",
                [](Peers& p, auto&, const auto&) { return p.Tls("clientonly"); },
                "Certifikát serveru 127.0.0.1 není určen k zabezpečení serveru. Zkontrolujte "
                "název serveru a port.",
                "(0x800B0110)", ""}),
    [](const auto& info) { return info.param.name; });

// Failures no local peer produces, built as the mail stack raises them.
struct BuiltRow {
  std::string name;
  std::function<void()> raise;
  std::string sentence;
  std::string detail;
};

void PrintTo(const BuiltRow& row, std::ostream* os) {
  *os << row.name;
}

class FailureTextBuilt : public testing::TestWithParam<BuiltRow> {};

TEST_P(FailureTextBuilt, SentenceAndDetail) {
  const BuiltRow& row = GetParam();
  failure::SendContext c;
  c.server = "smtp.example.cz";
  c.port = 465;
  c.user = "jan@example.cz";
  std::exception_ptr error;
  try {
    row.raise();
  } catch (...) {
    error = std::current_exception();
  }
  const failure::Failure f = failure::Describe(error, c);
  EXPECT_EQ(f.sentence, row.sentence);
  EXPECT_EQ(f.detail, row.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureTextBuilt,
    testing::Values(
        BuiltRow{"UnknownHost",
                 [] { throw EclSocketError("Name or service not known", kz::kGaiErrorBase + 2); },
                 "Název serveru „smtp.example.cz“ se nepodařilo najít. Zkontrolujte, zda je "
                 "správně napsaný a zda je počítač připojen k síti.",
                 "Name or service not known (11002)"},
        BuiltRow{"NetworkUnreachable",
                 [] { throw EclSocketError("Network is unreachable", ENETUNREACH); },
                 "Server smtp.example.cz na portu 465 není dosažitelný. Zkontrolujte připojení k "
                 "síti, název serveru a port.",
                 "Network is unreachable (101)"},
        BuiltRow{"CertificateRevoked", [] { throw EclSSPIError(kz::kCertERevoked); },
                 "Certifikát serveru smtp.example.cz byl odvolán. Obraťte se na správce serveru.",
                 "A certificate was explicitly revoked by its issuer (0x800B010C)"},
        BuiltRow{"RevocationUnknown", [] { throw EclSSPIError(kz::kCertERevocationFailure); },
                 "U certifikátu serveru smtp.example.cz nelze ověřit, zda nebyl odvolán. Zkuste "
                 "to později, nebo se obraťte na správce serveru.",
                 "The revocation process could not continue - the certificate(s) could not be "
                 "checked (0x800B010E)"},
        BuiltRow{"CertificateMalformed", [] { throw EclSSPIError(kz::kCertEMalformed); },
                 "Certifikát serveru smtp.example.cz je neplatný nebo poškozený. Obraťte se na "
                 "správce serveru.",
                 "A certificate is missing or has an empty value for an important field, such as a "
                 "subject or issuer name (0x800B0108)"},
        BuiltRow{
            "HandshakeRefused",
            [] { throw EclSSPIError(kz::kSecEIllegalMessage, "tlsv1 alert protocol version"); },
            "Zabezpečené spojení (TLS) se serverem smtp.example.cz na portu 465 se "
            "nepodařilo navázat. Zkontrolujte port: 465 je šifrovaný od začátku, 25 a 587 "
            "přecházejí na šifrování příkazem STARTTLS.",
            "The message received was unexpected or badly formatted (0x80090326): tlsv1 alert "
            "protocol version"},
        BuiltRow{"NoProtectedLogIn",
                 [] {
                   throw EclSmtpError(std::string(kz::kSaslUnavailableText),
                                      kz::kSaslUnavailableCode);
                 },
                 "Server smtp.example.cz nenabízí přihlášení s chráněným heslem (CRAM-MD5 ani "
                 "NTLM). Zrušte zaškrtnutí „TLS/SSL“ a zkuste to znovu.",
                 "Unable to logon to the server using Secure Password Authentication (-400)"},
        BuiltRow{"ConnectionDropped",
                 [] {
                   throw EclTcpClientError(std::string(kz::kServerClosedText),
                                           kz::kServerClosedCode);
                 },
                 "Server smtp.example.cz na portu 465 ukončil spojení. Zkontrolujte port a "
                 "zkuste to znovu později.",
                 "The server closed the connection before its reply was complete (-105)"},
        BuiltRow{"DamagedSettings", [] { throw EConvertError("'zz' is not a valid hex text"); },
                 "Uložené nastavení nelze přečíst. Otevřete nastavení, zkontrolujte pole a "
                 "uložte je znovu.",
                 "'zz' is not a valid hex text (0)"},
        BuiltRow{"OwnCzechRefusal", [] { throw EclError("Zpráva nemá žádný text ani přílohu."); },
                 "Zpráva nemá žádný text ani přílohu.", ""}),
    [](const auto& info) { return info.param.name; });

// Where failures are shown: the terminal of `--send-now`, the history, the setup window.
class FailureShown : public AppFixture {
 protected:
  FailureShown()
      : server_(SMTP_TEST_DIR "/smtp_peer.py",
                {"--mode", "tls", "--cert", Certs().Path("good"), "--key", Certs().Key("good"),
                 "--user", "jan@example.cz", "--password", "heslo"}) {
    settings::EnsureDataFolder();
  }
  void SetUp() override { ASSERT_NE(server_.Port(), 0) << "aiosmtpd did not start"; }

  void Fill(const QString& password, const QString& ownAddress) {
    form->ed_smtp->setText(QStringLiteral("127.0.0.1"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(password);
    form->cbSSL->setChecked(false);
    form->edPort->setText(QString::number(server_.Port()));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
    form->ed_my_mail->setText(ownAddress);
    form->mem_text->setPlainText(QStringLiteral("Dobrý den"));
    form->do_data->setDate(QDate(2030, 12, 31));
    form->cas->setTime(QTime(8, 0));
  }
  std::string LastHistoryResult() const {
    const auto events = history::ReadLast(settings::DataFolder(), 1);
    return events.empty() ? std::string() : events.front().result;
  }

  smtptest::Aiosmtpd server_;
};

TEST_F(FailureShown, SendNowPrintsTheSentenceAndTheServersWords) {
  Fill(QStringLiteral("spatne"), QStringLiteral("jan@example.cz"));
  form->btn_saveClick();
  const fs::path errFile = home.Root() / "stderr.txt";
  FILE* pipe =
      ::popen((std::string(KADENZA_BIN) + " --send-now 2>'" + errFile.string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[256];
  while (std::fread(buffer, 1, sizeof buffer, pipe) > 0) {
  }
  const int status = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(TempHome::Read(errFile),
            "Kadenza: " + kLogIn +
                "\nOdpověď serveru: 535 5.7.8 Authentication credentials invalid\n"
                "Podrobnosti: 535 5.7.8 Authentication credentials invalid (535)\n");
  EXPECT_EQ(LastHistoryResult(), kLogIn + " [535 5.7.8 Authentication credentials invalid (535)]");
}

TEST_F(FailureShown, ScheduledFailureReplacesTheNoticeAndNamesTheSend) {
  Fill(QStringLiteral("spatne"), QStringLiteral("jan@example.cz"));
  form->rb_jednotlive->setChecked(true);
  form->btn_VybratClick();
  form->rb_po->click();
  form->btn_saveClick();
  balloons.clear();  // the save's own notice; the tick's balloons follow
  now = {std::chrono::year{2026} / 12 / 14, {8, 0, 0}};
  dialogs::Guarded([this] { main->Timer1Timer(); });

  const QString expected = QStringLiteral("Naplánované odeslání 14.12.2026 08:00 se nezdařilo: ") +
                           QString::fromStdString(kLogIn) +
                           QStringLiteral(
                               "\nOdpověď serveru: 535 5.7.8 Authentication "
                               "credentials invalid");
  ASSERT_EQ(balloons.size(), 2u);
  EXPECT_EQ(balloons[0].text, QStringLiteral("Upozornění:\r\rOdesílání načasované zprávy"));
  EXPECT_EQ(balloons[1].text, expected) << "the failure takes the notice's place";
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, dialogs::MessageKind::Error);
  EXPECT_EQ(messages[0].second, expected);
  EXPECT_EQ(LastHistoryResult(), kLogIn + " [535 5.7.8 Authentication credentials invalid (535)]");
}

TEST_F(FailureShown, FailedTestStopsTheLampsAndShowsTheFailureInTheGaugesPlace) {
  // The own address is refused after the log-in, while the lamps blink.
  Fill(QStringLiteral("heslo"), QStringLiteral("nobody@example.cz"));
  form->show();
  dialogs::Guarded([this] { form->btn_testClick(); });
  const std::string sentence =
      "Server 127.0.0.1 odmítl příjemce „nobody@example.cz“. Zkontrolujte jeho adresu v seznamu "
      "příjemců.";
  const QString shown = QString::fromStdString(sentence) +
                        QStringLiteral("\nOdpověď serveru: 550 5.1.1 No such user here");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, shown);
  EXPECT_FALSE(form->led1->Blinking());
  EXPECT_FALSE(form->led2->Blinking());
  EXPECT_FALSE(form->gau->isVisible());
  EXPECT_TRUE(form->lbl_chyba->isVisible());
  EXPECT_EQ(form->lbl_chyba->FullText(), QStringLiteral("Test se nezdařil: ") + shown);
  EXPECT_EQ(form->lbl_chyba->toolTip(), form->lbl_chyba->FullText());
  EXPECT_EQ(form->gau->format(), QStringLiteral("%p% odesláno")) << "no \"Hotovo\" after a failure";

  // The next test that goes through brings the gauge back.
  form->ed_my_mail->setText(QStringLiteral("jan.osobni@example.cz"));
  dialogs::Guarded([this] { form->btn_testClick(); });
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_TRUE(form->gau->isVisible());
  EXPECT_FALSE(form->lbl_chyba->isVisible());
  EXPECT_EQ(form->gau->format(), QStringLiteral("%p%   Hotovo"));
  form->hide();
}

}  // namespace
