// The send job and the test button end to end: settings stored through the setup window's
// Save, a send started by the schedule tick (its clock replaced), by `kadenza --send-now`
// and by the test button, each against aiosmtpd speaking TLS from the first byte on
// 127.0.0.1 with log-in required. What arrives is read back with Python's email package.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

#include "AppFixture.h"
#include "TlsTestPeers.h"
#include "app/HexText.h"
#include "app/MissedSends.h"
#include "app/SendHistory.h"
#include "app/SendJob.h"
#include "app/SendSlots.h"
#include "core/Error.h"
#include "net/clAddress.h"
#include "support/AiosmtpdPeer.h"
#include "support/CaseName.h"
#include "support/PostfixPeer.h"
#include "support/ScopedEnv.h"

namespace {

namespace fs = std::filesystem;

const std::string kPassword = "Tajn\xC3\xA9 heslo";
const QString kText =
    QStringLiteral("Dobrý den,\npříliš žluťoučký kůň úpěl ďábelské ódy.\n.\nS pozdravem\nJan");

// The stored settings as the user enters them in the setup window.
struct Entries {
  QString server = QStringLiteral("127.0.0.1");
  QString user = QStringLiteral("jan@example.cz");
  QString password = QString::fromStdString(kPassword);
  bool ssl = false;  // LOGIN
  QString port;      // empty: the server's
  QString recipients = QStringLiteral("a@example.cz, b@example.cz");
  QString myMail = QStringLiteral("jan.osobni@example.cz");
  QString subject = QStringLiteral("Týdenní přehled");
  QString text = kText;
  QString expiry = QStringLiteral("31.12.2027");
  std::vector<QString> attachments;
};

// What Python's email package makes of a delivered message (tests/app/mail_summary.py).
struct Summary {
  explicit Summary(const std::string& eml) {
    char pattern[] = "/tmp/kz-summary-XXXXXX";
    dir = ::mkdtemp(pattern);
    const std::string command =
        "/usr/bin/python3 " APP_TEST_DIR "/mail_summary.py '" + eml + "' '" + dir.string() + "'";
    ok = std::system(command.c_str()) == 0;
  }
  ~Summary() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  bool Has(const std::string& name) const { return fs::exists(dir / name); }
  // Get is the file's text with CR LF as LF and without trailing line breaks.
  std::string Get(const std::string& name) const {
    std::string s = TempHome::Read(dir / name);
    std::erase(s, '\r');
    while (!s.empty() && s.back() == '\n')
      s.pop_back();
    return s;
  }
  std::string Bytes(const std::string& name) const { return TempHome::Read(dir / name); }

  fs::path dir;
  bool ok = false;
};

class SendJobTest : public AppFixture {
 protected:
  SendJobTest()
      : server_(SMTP_TEST_DIR "/smtp_peer.py",
                {"--mode", "tls", "--cert", Certs().Path("good"), "--key", Certs().Key("good"),
                 "--user", "jan@example.cz", "--password", kPassword}) {
    settings::EnsureDataFolder();
  }

  static const tlstest::TestCertificates& Certs() { return tlstest::TestCertificates::Get(); }
  void SetUp() override {
    ASSERT_TRUE(Certs().Ready());
    ASSERT_NE(server_.Port(), 0) << "aiosmtpd did not start";
  }

  // Attachment writes a file into the home folder and returns its path.
  QString Attachment(const std::string& name, const std::string& bytes) {
    const fs::path path = home.Root() / "files" / name;
    TempHome::Write(path, bytes);
    return QString::fromStdString(path.string());
  }

  // Save enters the values into the window, picks Monday and saves, the user's way.
  void Save(Entries e) {
    if (e.port.isEmpty())
      e.port = QString::number(server_.Port());
    form->ed_smtp->setText(e.server);
    form->ed_user->setText(e.user);
    form->ed_pass->setText(e.password);
    form->cbSSL->setChecked(e.ssl);
    form->edPort->setText(e.port);
    form->mem_prijemce->setPlainText(e.recipients);
    form->ed_my_mail->setText(e.myMail);
    form->ed_predmet->setText(e.subject);
    form->mem_text->setPlainText(e.text);
    form->cas->setTime(QTime(8, 0, 0));
    form->do_data->setDate(QDate::fromString(e.expiry, QStringLiteral("dd.MM.yyyy")));
    TFileNameEdit* fields[] = {form->priloha1, form->priloha2, form->priloha3};
    for (std::size_t i = 0; i < e.attachments.size(); ++i)
      fields[i]->setText(e.attachments[i]);
    form->rb_jednotlive->setChecked(true);
    form->btn_VybratClick();
    form->rb_po->click();
    form->btn_saveClick();
    ASSERT_EQ(Read("Datum", "Po"), "Po");
    // The save's own notice is the window tests' concern; the balloons counted here follow.
    balloons.clear();
  }

  // Tick runs the schedule tick at 08:00 of the given Monday, guarded as its timer runs it.
  void Tick(int day = 7) {
    now = {std::chrono::year{2026} / 12 / day, {8, 0, 0}};
    main->Timer1->start();
    dialogs::Guarded([this] { main->Timer1Timer(); });
  }

  int Errors() const {
    return static_cast<int>(std::count_if(messages.begin(), messages.end(), [](const auto& m) {
      return m.first == dialogs::MessageKind::Error;
    }));
  }
  bool SuccessShown() const {
    return std::any_of(balloons.begin(), balloons.end(), [](const Balloon& b) {
      return b.text == QStringLiteral("Úspěšné odeslání:\rVaše naplánované odeslání bylo úspěšné.");
    });
  }

  smtptest::Aiosmtpd server_;
};

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 300; ++round) {
    for (int b = 0; b < 256; ++b)
      bytes += static_cast<char>(b);
  }
  return bytes;
}

TEST_F(SendJobTest, ScheduledSendDeliversTheStoredMessage) {
  const std::string binary = AllBytes();
  const std::string table = "jméno;částka\nJan;100\n";
  Entries e;
  e.attachments = {Attachment("data.bin", binary)};
  Save(e);
  // A third attachment after an empty second: only a hand-edited settings file has this.
  Ini().WriteString("Soubor", "priloha3", Attachment("přehled.csv", table).toStdString());

  Tick();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  ASSERT_EQ(balloons.size(), 2u);
  EXPECT_EQ(balloons[0].text, QStringLiteral("Upozornění:\r\rOdesílání načasované zprávy"));
  EXPECT_EQ(balloons[1].text,
            QStringLiteral("Úspěšné odeslání:\rVaše naplánované odeslání bylo úspěšné."));
  EXPECT_EQ(balloons[1].ms, 5000);
  EXPECT_EQ(server_.Envelope(1), "jan@example.cz\na@example.cz\nb@example.cz\n");
  const Summary m(server_.MessagePath(1));
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.Get("from"), "jan@example.cz");
  EXPECT_EQ(m.Get("to"), "a@example.cz, b@example.cz");
  EXPECT_EQ(m.Get("subject"), "Týdenní přehled");
  EXPECT_EQ(m.Get("text"), kText.toStdString());
  EXPECT_FALSE(m.Has("html"));
  EXPECT_TRUE(m.Get("message-id").starts_with("<")) << m.Get("message-id");
  EXPECT_FALSE(m.Has("bcc"));
  EXPECT_EQ(m.Get("attach-1.name"), "data.bin");
  EXPECT_EQ(m.Bytes("attach-1"), binary);
  EXPECT_EQ(m.Get("attach-2.name"), "přehled.csv");
  EXPECT_EQ(m.Bytes("attach-2"), table);
  EXPECT_FALSE(form->clSmtp1.Active());
  EXPECT_EQ(form->ed_predmet->text(), QStringLiteral("Týdenní přehled"));  // was hidden

  // A week later the window is open with unsaved edits: they stay, the stored values go.
  form->show();
  form->ed_predmet->setText(QStringLiteral("rozepsáno"));
  form->mem_prijemce->setPlainText(QStringLiteral("jiny@example.cz"));
  Tick(14);
  form->hide();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(form->ed_predmet->text(), QStringLiteral("rozepsáno"));
  EXPECT_EQ(form->mem_prijemce->toPlainText(), QStringLiteral("jiny@example.cz"));
  EXPECT_EQ(server_.Envelope(2), server_.Envelope(1));
  EXPECT_EQ(Summary(server_.MessagePath(2)).Get("subject"), "Týdenní přehled");
}

// Many company servers log in with a name that is no address: the message goes out from the
// own address, and the test message still goes to the own address.
TEST_F(SendJobTest, LoginNameThatIsNoAddressSendsFromTheOwnAddress) {
  const smtptest::Aiosmtpd company(
      SMTP_TEST_DIR "/smtp_peer.py",
      {"--mode", "tls", "--cert", Certs().Path("good"), "--key", Certs().Key("good"), "--user",
       "FIRMA\\jnovak", "--password", kPassword});
  ASSERT_NE(company.Port(), 0);
  Entries e;
  e.user = QStringLiteral("FIRMA\\jnovak");
  e.port = QString::number(company.Port());
  Save(e);
  Tick();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(company.Envelope(1), "jan.osobni@example.cz\na@example.cz\nb@example.cz\n");
  EXPECT_EQ(Summary(company.MessagePath(1)).Get("from"), "jan.osobni@example.cz");

  dialogs::Guarded([this] { form->btn_testClick(); });
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(company.Envelope(2), "jan.osobni@example.cz\njan.osobni@example.cz\n");

  // With no own address either, nothing goes out and the message names the field.
  Ini().WriteString("Email", "MyMail", "");
  Tick(14);
  ASSERT_EQ(Errors(), 1);
  EXPECT_TRUE(messages.front().second.contains(QStringLiteral("Vyplňte pole „váš email“.")))
      << messages.front().second.toStdString();
  EXPECT_EQ(company.Message(3), "");
  const auto events = history::ReadLast(settings::DataFolder(), 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].result.find("není e-mailová adresa"), std::string::npos) << events[0].result;
}

// A list of hundreds of named recipients (far past what a 2047-character value held as hex)
// reaches the server whole: every address in the envelope, every name in the header.
TEST_F(SendJobTest, HundredsOfNamedRecipientsArriveComplete) {
  const char* const first[] = {"Jiří", "Žofie", "Řehoř", "Šárka", "Čeněk", "Ďulina"};
  const char* const last[] = {"Dvořák", "Šťastná", "Kůžel", "Nováčková", "Čermák", "Ťoupal"};
  std::string list, header, envelope = "jan@example.cz\n";
  for (int i = 0; i < 400; ++i) {
    const std::string name =
        std::string(first[i % 6]) + " " + last[(i / 6) % 6] + " " + std::to_string(i);
    const std::string address = "prijemce." + std::to_string(i) + "@example.cz";
    list += (i ? ",\n" : "") + name + " <" + address + ">";
    header += (i ? ", " : "") + name + " <" + address + ">";
    envelope += address + "\n";
  }
  ASSERT_GT(list.size(), 10000u);
  Entries e;
  e.recipients = QString::fromStdString(list);
  Save(e);
  Tick();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(server_.Envelope(1), envelope);
  const Summary m(server_.MessagePath(1));
  EXPECT_EQ(m.Get("to"), header);
  const auto events = history::ReadLast(settings::DataFolder(), 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].recipients, 400);
}

// Runs the kadenza program with --send-now in the test's home; returns its exit status.
int RunSendNow(std::string& out, std::string& err, const fs::path& scratch) {
  const fs::path errFile = scratch / "stderr.txt";
  FILE* pipe =
      ::popen((std::string(KADENZA_BIN) + " --send-now 2>'" + errFile.string() + "'").c_str(), "r");
  if (!pipe)
    return -1;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.append(buffer, n);
  const int status = ::pclose(pipe);
  err = TempHome::Read(errFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SendJobTest, SendNowSendsOnceAndPrintsTheNotice) {
  std::string out, err;
  EXPECT_EQ(RunSendNow(out, err, home.Root()), 1) << "no settings yet";
  EXPECT_NE(err.find("setup.dat"), std::string::npos) << err;
  EXPECT_EQ(out, "");

  Entries e;
  e.ssl = true;  // CRAM-MD5
  e.attachments = {Attachment("data.bin", AllBytes())};
  Save(e);
  out.clear();
  ASSERT_EQ(RunSendNow(out, err, home.Root()), 0) << err;
  EXPECT_EQ(out, "Úspěšné odeslání:\nZpráva byla odeslána.\n");
  const Summary m(server_.MessagePath(1));
  EXPECT_EQ(m.Get("subject"), "Týdenní přehled");
  EXPECT_EQ(m.Bytes("attach-1"), AllBytes());

  Ini().WriteString("Heslo", "pass", TextToHex("spatne"));
  out.clear();
  EXPECT_EQ(RunSendNow(out, err, home.Root()), 1);
  EXPECT_NE(err.find("535"), std::string::npos) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(server_.Message(2), "");
}

int ClosedPort();

struct ExitRow {
  std::string name;
  std::function<void(Entries&)> change;
  int status;
};

void PrintTo(const ExitRow& row, std::ostream* os) {
  *os << row.name;
}

class SendNowExit : public SendJobTest, public testing::WithParamInterface<ExitRow> {};

// A script can tell a failure worth trying again later from one that will not pass.
TEST_P(SendNowExit, TellsTemporaryFromPermanent) {
  Entries e;
  GetParam().change(e);
  Save(e);
  std::string out, err;
  EXPECT_EQ(RunSendNow(out, err, home.Root()), GetParam().status) << err;
  EXPECT_EQ(server_.Message(1), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendNowExit,
    testing::Values(ExitRow{"ServerNotThereIsTemporary",
                            [](Entries& e) { e.port = QString::number(ClosedPort()); }, 75},
                    ExitRow{"RefusedRecipientIsPermanent",
                            [](Entries& e) { e.recipients = QStringLiteral("nobody@example.cz"); },
                            1},
                    ExitRow{"RefusedLogInIsPermanent",
                            [](Entries& e) { e.password = QStringLiteral("spatne"); }, 1},
                    ExitRow{"PortNotANumberIsPermanent",
                            [](Entries& e) { e.port = QStringLiteral("4x65"); }, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(SendJobTest, TestButtonSendsToTheOwnAddressWhileTheWindowStaysResponsive) {
  Entries e;
  e.ssl = true;
  e.port = QString::number(server_.Port());
  form->ed_smtp->setText(e.server);
  form->ed_user->setText(e.user);
  form->ed_pass->setText(e.password);
  form->cbSSL->setChecked(true);
  form->edPort->setText(e.port);
  form->ed_my_mail->setText(e.myMail);
  // Large enough that sending takes several of the transport's event-loop turns.
  const std::string big(3 << 20, '\x5A');
  form->priloha1->setText(Attachment("a.bin", big));

  // A timer that fires while the dialogue runs sees the lamps blink and tries a second test.
  int ticksDuringDialogue = 0;
  bool blinked = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    ++ticksDuringDialogue;
    if (form->led1->Blinking() && form->led2->Blinking()) {
      blinked = true;
      form->btn_testClick();
    }
  });
  probe.start();
  form->btn_testClick();
  probe.stop();

  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_GT(ticksDuringDialogue, 0);
  EXPECT_TRUE(blinked);
  EXPECT_FALSE(form->led1->Blinking());
  EXPECT_FALSE(form->led2->Blinking());
  EXPECT_EQ(form->gau->value(), form->gau->maximum());
  EXPECT_EQ(form->gau->text(), QStringLiteral("100%   Hotovo"));
  ASSERT_FALSE(balloons.empty());
  EXPECT_EQ(balloons.back().text, QStringLiteral("Testovací zpráva byla odeslána"));
  EXPECT_EQ(balloons.back().ms, 5000);
  EXPECT_EQ(server_.Envelope(1), "jan@example.cz\njan.osobni@example.cz\n");
  EXPECT_EQ(server_.Message(2), "") << "a second dialogue ran";
  const Summary m(server_.MessagePath(1));
  EXPECT_EQ(m.Get("subject"), "Kadenza");
  EXPECT_EQ(m.Get("text"), "Kadenza - Testovací zpráva");
  EXPECT_NE(m.Get("html").find("testovací zpráva"), std::string::npos) << m.Get("html");
  EXPECT_EQ(m.Bytes("attach-1"), big);
  EXPECT_FALSE(fs::exists(settings::SetupFilePath())) << "the test stores nothing";
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

struct FailureRow {
  std::string name;
  std::function<void(Entries&, const fs::path& home)> change;
  std::string errorPart;  // empty: no error box at all (nothing happens)
  bool deleteSettings = false;
  bool retried = false;         // a temporary failure: no box yet, the next attempt is planned
  std::string storedPort = {};  // written into setup.dat after the save, as by hand
};

void PrintTo(const FailureRow& row, std::ostream* os) {
  *os << row.name;
}

class SendJobFailure : public SendJobTest, public testing::WithParamInterface<FailureRow> {};

// Each permanent failure is one error box from the tick (a temporary one none yet: its next
// attempt is planned), no success balloon, no delivery, a closed
// connection, and the rest of the tick skipped: the expiry (today) does not stop the schedule.
TEST_P(SendJobFailure, OneErrorBoxNoBalloon) {
  const FailureRow& row = GetParam();
  Entries e;
  e.expiry = QStringLiteral("07.12.2026");
  row.change(e, home.Root());
  Save(e);
  if (!row.storedPort.empty())
    Ini().WriteString("SMTP", "port", row.storedPort);
  if (row.deleteSettings) {
    settings::DeleteDataFiles();
    form->btnSend->click();
  } else {
    Tick();
  }
  if (row.errorPart.empty()) {
    EXPECT_TRUE(messages.empty());
  } else if (row.retried) {
    EXPECT_EQ(Errors(), 0);
    ASSERT_TRUE(main->Pending().has_value());
    ASSERT_FALSE(balloons.empty());
    EXPECT_NE(balloons.back().text.toStdString().find(row.errorPart), std::string::npos);
    EXPECT_NE(balloons.back().text.toStdString().find("Další pokus v 08:01."), std::string::npos)
        << balloons.back().text.toStdString();
    const auto events = history::ReadLast(settings::DataFolder(), 10);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].result.find(row.errorPart), std::string::npos) << events[0].result;
  } else {
    ASSERT_EQ(Errors(), 1);
    EXPECT_NE(messages.front().second.toStdString().find(row.errorPart), std::string::npos)
        << messages.front().second.toStdString();
    EXPECT_TRUE(main->Timer1->isActive());
    EXPECT_FALSE(main->Timer2->isActive());
    // The history tells the same.
    const auto events = history::ReadLast(settings::DataFolder(), 10);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].result.find(row.errorPart), std::string::npos) << events[0].result;
  }
  EXPECT_FALSE(SuccessShown());
  EXPECT_FALSE(form->clSmtp1.Active());
  EXPECT_EQ(server_.Message(1), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendJobFailure,
    testing::Values(
        FailureRow{"NoSettingsFile", [](Entries&, const fs::path&) {}, "", true},
        FailureRow{"PortNotANumber", [](Entries&, const fs::path&) {}, "Port „4x65“ není číslo",
                   false, false, "4x65"},
        FailureRow{"RefusedPassword", [](Entries& e, const fs::path&) { e.password = "spatne"; },
                   "535"},
        FailureRow{
            "RefusedRecipient",
            [](Entries& e, const fs::path&) { e.recipients = "a@example.cz, nobody@example.cz"; },
            "550"},
        FailureRow{"MissingAttachment",
                   [](Entries& e, const fs::path& home) {
                     e.attachments = {QString::fromStdString((home / "chybi.bin").string())};
                   },
                   "chybi.bin"},
        FailureRow{"FifoAttachment",
                   [](Entries& e, const fs::path& home) {
                     const fs::path fifo = home / "roura.csv";
                     ::mkfifo(fifo.c_str(), 0600);
                     e.attachments = {QString::fromStdString(fifo.string())};
                   },
                   "roura.csv“ není obyčejný soubor"},
        FailureRow{"FolderAttachment",
                   [](Entries& e, const fs::path& home) {
                     fs::create_directories(home / "slozka");
                     e.attachments = {QString::fromStdString((home / "slozka").string())};
                   },
                   "slozka“ není obyčejný soubor"},
        FailureRow{
            "DeviceAttachment",
            [](Entries& e, const fs::path&) { e.attachments = {QStringLiteral("/dev/zero")}; },
            "„/dev/zero“ není obyčejný soubor"},
        FailureRow{"NoTextNoAttachment", [](Entries& e, const fs::path&) { e.text.clear(); },
                   "Zpráva nemá žádný text ani přílohu."},
        FailureRow{"ServerNotThere",
                   [](Entries& e, const fs::path&) { e.port = QString::number(ClosedPort()); },
                   "odmítl spojení", false, true}),
    [](const auto& info) { return info.param.name; });

// How a send is started for the history rows.
enum class Start { kTick, kSendNow, kTestButton };

struct HistoryRow {
  std::string name;
  Start start;
  std::string password;  // empty: the right one
  std::string kind;
  std::string resultPart;  // "OK" exactly, else a part of the error text
  int recipients;
  std::string subject;
};

void PrintTo(const HistoryRow& row, std::ostream* os) {
  *os << row.name;
}

class SendJobHistory : public SendJobTest, public testing::WithParamInterface<HistoryRow> {};

// Every send, whichever way it starts and however it ends, leaves one line in the
// owner-only history, without the password or the message text.
TEST_P(SendJobHistory, OneLinePerSend) {
  const HistoryRow& row = GetParam();
  Entries e;
  if (!row.password.empty())
    e.password = QString::fromStdString(row.password);
  if (row.start == Start::kTestButton) {
    form->ed_smtp->setText(e.server);
    form->ed_user->setText(e.user);
    form->ed_pass->setText(e.password);
    form->edPort->setText(QString::number(server_.Port()));
    form->ed_my_mail->setText(e.myMail);
    dialogs::Guarded([this] { form->btn_testClick(); });
  } else {
    Save(e);
    if (row.start == Start::kTick) {
      Tick();
    } else {
      std::string out, err;
      RunSendNow(out, err, home.Root());
    }
  }
  const auto events = history::ReadLast(settings::DataFolder(), 10);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, row.kind);
  if (row.resultPart == "OK")
    EXPECT_EQ(events[0].result, "OK");
  else
    EXPECT_NE(events[0].result.find(row.resultPart), std::string::npos) << events[0].result;
  EXPECT_EQ(events[0].recipients, row.recipients);
  EXPECT_EQ(events[0].subject, row.subject);
  EXPECT_EQ(events[0].when.size(), 19u) << events[0].when;

  const fs::path file = fs::path(settings::DataFolder()) / "historie.log";
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::string bytes = TempHome::Read(file);
  EXPECT_EQ(bytes.find(e.password.toStdString()), std::string::npos);
  EXPECT_EQ(bytes.find("žluťoučký"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendJobHistory,
    testing::Values(
        HistoryRow{"Scheduled", Start::kTick, "", "naplánované odeslání", "OK", 2,
                   "Týdenní přehled"},
        HistoryRow{"ScheduledRefusedPassword", Start::kTick, "spatne", "naplánované odeslání",
                   "535", 2, "Týdenní přehled"},
        HistoryRow{"SendNow", Start::kSendNow, "", "--send-now", "OK", 2, "Týdenní přehled"},
        HistoryRow{"SendNowRefusedPassword", Start::kSendNow, "spatne", "--send-now", "535", 2,
                   "Týdenní přehled"},
        HistoryRow{"TestMessage", Start::kTestButton, "", "testovací zpráva", "OK", 1, "Kadenza"},
        HistoryRow{"TestMessageRefusedPassword", Start::kTestButton, "spatne", "testovací zpráva",
                   "535", 1, "Kadenza"}),
    [](const auto& info) { return info.param.name; });

// ---- The send minute served exactly once, whatever the clock does ----

// One reading of the clock: the program starts (the start-up steps) or the minute's tick
// runs, at a UTC instant that the real local-time conversion turns into Prague time.
struct ClockStep {
  bool start = false;
  std::string utc;  // "yyyy-mm-dd hh:mm:ss"
};

ClockStep Start(std::string utc) {
  return {true, std::move(utc)};
}
ClockStep TickAt(std::string utc) {
  return {false, std::move(utc)};
}

struct ClockRow {
  std::string name;
  std::vector<ClockStep> steps;
  int sends;   // messages the server received
  int missed;  // missed-send lines in the history
  std::string sendTime = "08:00:00";
  std::string day = "Po";
  int catchUpHours = 0;  // 0: off
};

void PrintTo(const ClockRow& row, std::ostream* os) {
  *os << row.name;
}

class SendJobClock : public SendJobTest, public testing::WithParamInterface<ClockRow> {
 protected:
  SendJobClock() : tz_(testsupport::SetEnvForScope("TZ", "Europe/Prague")) { ::tzset(); }

  static schedule::LocalDateTime PragueTime(const std::string& utc) {
    std::tm tm{};
    ::strptime(utc.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    const std::time_t t = ::timegm(&tm);
    std::tm local{};
    ::localtime_r(&t, &local);
    return {std::chrono::year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday,
            {local.tm_hour, local.tm_min, local.tm_sec}};
  }

  int Deliveries() const {
    int n = 0;
    while (fs::exists(server_.MessagePath(n + 1)))
      ++n;
    return n;
  }

  // Declared first, so it runs last: the zone is read again once TZ is put back.
  kz::ScopeGuard<std::function<void()>> rereadZone_{[] { ::tzset(); }};
  testsupport::ScopedEnv tz_;
};

TEST_P(SendJobClock, EachSendSlotServedOnce) {
  const ClockRow& row = GetParam();
  Save(Entries{});
  Ini().WriteString("Cas", "cas", row.sendTime);
  Ini().WriteString("Datum", "Po", "");
  Ini().WriteString("Datum", row.day, row.day);
  if (row.catchUpHours > 0)
    Ini().WriteString("Dohnat", "hodiny", std::to_string(row.catchUpHours));
  for (const ClockStep& step : row.steps) {
    now = PragueTime(step.utc);
    if (step.start)
      main->FormShow();
    else
      dialogs::Guarded([this] { main->Timer1Timer(); });
    ASSERT_TRUE(messages.empty()) << step.utc << ": " << messages.front().second.toStdString();
  }
  EXPECT_EQ(Deliveries(), row.sends);
  int missedLines = 0;
  for (const history::Event& e : history::ReadLast(settings::DataFolder(), 100)) {
    missedLines += e.kind == "zmeškané odeslání";
  }
  EXPECT_EQ(missedLines, row.missed);
}

std::vector<ClockStep> EveryMinute(const std::string& dayUtc, int fromMinute, int toMinute) {
  std::vector<ClockStep> steps;
  for (int m = fromMinute; m <= toMinute; ++m) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %02d:%02d:30", dayUtc.c_str(), m / 60, m % 60);
    steps.push_back(TickAt(text));
  }
  return steps;
}

// Monday 7 December 2026, 08:00 in Prague is 07:00 UTC. On Sunday 25 October 2026 the clocks
// in Prague go back from 03:00 to 02:00 (01:00 UTC), so 02:30 comes twice.
INSTANTIATE_TEST_SUITE_P(
    Rows, SendJobClock,
    testing::Values(ClockRow{"TickEveryMinuteAcrossTheSendMinute",
                             EveryMinute("2026-12-07", 6 * 60 + 57, 7 * 60 + 3), 1, 0},
                    ClockRow{"StartInsideTheSendMinute",
                             {TickAt("2026-12-07 06:57:30"), Start("2026-12-07 07:00:20"),
                              TickAt("2026-12-07 07:01:20")},
                             1,
                             0},
                    ClockRow{"RestartInsideTheServedMinute",
                             {TickAt("2026-12-07 07:00:05"), Start("2026-12-07 07:00:40"),
                              TickAt("2026-12-07 07:00:55")},
                             1,
                             0},
                    ClockRow{"ClockGoesBackOverTheServedMinute",
                             {TickAt("2026-12-07 07:00:10"), TickAt("2026-12-07 07:01:10"),
                              TickAt("2026-12-07 06:59:30"), TickAt("2026-12-07 07:00:30"),
                              TickAt("2026-12-07 07:01:30")},
                             1,
                             0},
                    ClockRow{"AutumnDaylightSavingChangeInPrague",
                             EveryMinute("2026-10-25", 28, 92), 1, 0, "02:30:00", "Ne"},
                    ClockRow{"LateTickStepsOverTheSendMinute",
                             {TickAt("2026-12-07 06:59:58"), TickAt("2026-12-07 07:01:01"),
                              TickAt("2026-12-07 07:02:01")},
                             1,
                             0},
                    ClockRow{"RestartJustAfterTheSendMinute",
                             {TickAt("2026-12-07 06:59:30"), Start("2026-12-07 07:01:10"),
                              TickAt("2026-12-07 07:02:10")},
                             1,
                             0},
                    ClockRow{"ClockJumpsForwardOverTheSendMinute",
                             {TickAt("2026-12-07 06:58:30"), TickAt("2026-12-07 07:05:30")},
                             0,
                             1},
                    ClockRow{"MissedMinuteNamedOnceEvenWhenTheClockComesBack",
                             {TickAt("2026-12-07 06:58:30"), TickAt("2026-12-07 07:05:30"),
                              TickAt("2026-12-07 06:59:30"), TickAt("2026-12-07 07:00:30"),
                              TickAt("2026-12-07 07:05:30"), TickAt("2026-12-07 07:10:30")},
                             0,
                             1},
                    ClockRow{"CatchUpSendsAMissThreeHoursBackOnce",
                             {TickAt("2026-12-07 06:50:30"), Start("2026-12-07 10:00:30"),
                              TickAt("2026-12-07 10:01:30"), Start("2026-12-07 10:05:30")},
                             1,
                             0,
                             "08:00:00",
                             "Po",
                             4},
                    ClockRow{"CatchUpOfTwoHoursOnlyNamesIt",
                             {TickAt("2026-12-07 06:50:30"), Start("2026-12-07 10:00:30"),
                              TickAt("2026-12-07 10:01:30")},
                             0,
                             1,
                             "08:00:00",
                             "Po",
                             2},
                    ClockRow{"CatchUpAfterTwoMissedMondaysSendsTheLatest",
                             {TickAt("2026-12-06 12:00:30"), TickAt("2026-12-14 08:30:30"),
                              TickAt("2026-12-14 08:31:30")},
                             1,
                             0,
                             "08:00:00",
                             "Po",
                             4},
                    ClockRow{"NextWeekSendsAgain",
                             {TickAt("2026-12-07 07:00:30"), TickAt("2026-12-14 07:00:30")},
                             2,
                             0},
                    ClockRow{"ServedUnderAClockFarAheadDoesNotBlockTheRealDate",
                             {TickAt("2027-06-07 06:00:30"), TickAt("2026-12-07 07:00:30")},
                             2,
                             0}),
    [](const auto& info) { return info.param.name; });

// ---- Temporary failures tried again inside the window ----

struct RetryRow {
  std::string name;
  std::vector<std::string> peerOptions;  // beside the TLS log-in peer's own
  QString recipients;                    // empty: the usual two
  std::vector<int> ticks;                // minutes after the send minute 08:00
  int delivered;
  int errorBoxes;
  int historyLines;  // one per attempt
};

void PrintTo(const RetryRow& row, std::ostream* os) {
  *os << row.name;
}

// A peer of the test's own and the tick at a minute after the send minute.
class RetryPeer : public SendJobTest {
 protected:
  static std::vector<std::string> PeerOptions(std::vector<std::string> more) {
    std::vector<std::string> options = {"--mode",     "tls",
                                        "--cert",     Certs().Path("good"),
                                        "--key",      Certs().Key("good"),
                                        "--user",     "jan@example.cz",
                                        "--password", kPassword};
    options.insert(options.end(), more.begin(), more.end());
    return options;
  }
  void TickAt(int minutes) {
    now = {std::chrono::year{2026} / 12 / 7, {8 + minutes / 60, minutes % 60, 0}};
    dialogs::Guarded([this] { main->Timer1Timer(); });
  }
  static int Delivered(const smtptest::Aiosmtpd& peer) {
    int n = 0;
    while (fs::exists(peer.MessagePath(n + 1)))
      ++n;
    return n;
  }
};

class SendJobRetry : public RetryPeer, public testing::WithParamInterface<RetryRow> {};

TEST_P(SendJobRetry, TriedAgainInsideTheWindow) {
  const RetryRow& row = GetParam();
  smtptest::Aiosmtpd peer(SMTP_TEST_DIR "/smtp_peer.py", PeerOptions(row.peerOptions));
  ASSERT_NE(peer.Port(), 0);
  Entries e;
  e.port = QString::number(peer.Port());
  if (!row.recipients.isEmpty())
    e.recipients = row.recipients;
  Save(e);
  for (int minute : row.ticks)
    TickAt(minute);
  EXPECT_EQ(Delivered(peer), row.delivered);
  EXPECT_EQ(Errors(), row.errorBoxes);
  EXPECT_EQ(history::ReadLast(settings::DataFolder(), 100).size(),
            static_cast<std::size_t>(row.historyLines));
  EXPECT_FALSE(main->Pending().has_value());
  // Every attempt at the slot carries the slot's own Message-ID.
  if (row.delivered > 0) {
    EXPECT_NE(peer.Message(1).find("Message-ID: <202612070800."), std::string::npos)
        << peer.Message(1).substr(0, 600);
  }
}

// Attempts follow the failed one after 1, 2, 5, 10, 15 and 30 minutes, then every 30, for
// two hours after the send minute: 08:00, 08:01, 08:03, 08:08, 08:18, 08:33, 09:03, 09:33.
INSTANTIATE_TEST_SUITE_P(
    Rows, SendJobRetry,
    testing::Values(
        RetryRow{"TryAgainLaterTwiceThenAccepted", {"--fail-data", "2"}, {}, {0, 1, 3}, 1, 0, 3},
        RetryRow{
            "TicksBeforeTheAttemptsTimeDoNothing", {"--fail-data", "1"}, {}, {0, 0, 1, 2}, 1, 0, 2},
        RetryRow{"RefusedRecipientIsReportedAtOnce",
                 {},
                 QStringLiteral("a@example.cz, nobody@example.cz"),
                 {0, 1, 3},
                 0,
                 1,
                 1},
        RetryRow{"WindowEndsWithOneErrorBox",
                 {"--fail-data", "99"},
                 {},
                 {0, 1, 3, 8, 18, 33, 63, 93, 120},
                 0,
                 1,
                 8}),
    [](const auto& info) { return info.param.name; });

TEST_F(RetryPeer, ServerThatComesUpLaterGetsTheMessage) {
  const int port = ClosedPort();
  Entries e;
  e.port = QString::number(port);
  Save(e);
  TickAt(0);
  ASSERT_TRUE(main->Pending().has_value());
  EXPECT_EQ(Errors(), 0);
  EXPECT_NE(main->tray->toolTip().toStdString().find("další pokus v 08:01"), std::string::npos)
      << main->tray->toolTip().toStdString();
  smtptest::Aiosmtpd peer(SMTP_TEST_DIR "/smtp_peer.py",
                          PeerOptions({"--port", std::to_string(port)}));
  ASSERT_EQ(peer.Port(), port);
  TickAt(1);
  EXPECT_EQ(Delivered(peer), 1);
  EXPECT_EQ(Errors(), 0);
  EXPECT_FALSE(main->Pending().has_value());
}

TEST_F(RetryPeer, SaveCancelsThePendingAttempts) {
  smtptest::Aiosmtpd peer(SMTP_TEST_DIR "/smtp_peer.py", PeerOptions({"--fail-data", "1"}));
  Entries e;
  e.port = QString::number(peer.Port());
  Save(e);
  TickAt(0);
  ASSERT_TRUE(main->Pending().has_value());
  Save(e);
  EXPECT_FALSE(main->Pending().has_value());
  TickAt(1);
  TickAt(3);
  EXPECT_EQ(Delivered(peer), 0);
  EXPECT_EQ(Errors(), 0);
}

// A restart goes on with the attempts the previous run left pending, or names the send as
// missed when their window ended while the program was not running.
struct RestartRow {
  std::string name;
  int restartMinute;  // minutes after 08:00
  int delivered;
  int missedLines;
};

void PrintTo(const RestartRow& row, std::ostream* os) {
  *os << row.name;
}

class SendJobRestart : public RetryPeer, public testing::WithParamInterface<RestartRow> {};

TEST_P(SendJobRestart, PendingAttemptsOutliveTheProgram) {
  const RestartRow& row = GetParam();
  smtptest::Aiosmtpd peer(SMTP_TEST_DIR "/smtp_peer.py", PeerOptions({"--fail-data", "1"}));
  Entries e;
  e.port = QString::number(peer.Port());
  Save(e);
  TickAt(0);
  ASSERT_TRUE(main->Pending().has_value());
  now = {std::chrono::year{2026} / 12 / 7,
         {8 + row.restartMinute / 60, row.restartMinute % 60, 30}};
  StartMain();
  main->FormShow();
  TickAt(row.restartMinute + 1);
  EXPECT_EQ(Delivered(peer), row.delivered);
  EXPECT_EQ(Errors(), 0);
  EXPECT_FALSE(main->Pending().has_value());
  EXPECT_FALSE(sendslots::Read().retry.has_value());
  int missedLines = 0;
  for (const history::Event& ev : history::ReadLast(settings::DataFolder(), 100))
    missedLines += ev.kind == "zmeškané odeslání";
  EXPECT_EQ(missedLines, row.missedLines);
}

INSTANTIATE_TEST_SUITE_P(Rows, SendJobRestart,
                         testing::Values(RestartRow{"RestartInsideTheWindowSends", 0, 1, 0},
                                         RestartRow{"RestartAfterTheWindowNamesIt", 150, 0, 1}),
                         [](const auto& info) { return info.param.name; });

// ---- A send that waits for the network ----

// A NetworkManager mock (tests/app/nm_mock.py) on a private bus that the program takes for
// the system bus; made before the main part, which asks it at creation.
class NetworkManagerMock {
 public:
  static constexpr int kDisconnected = 20;
  static constexpr int kConnectedGlobal = 70;

  explicit NetworkManagerMock(int state) {
    char dir[] = "/tmp/kz-nm-XXXXXX";
    dir_ = ::mkdtemp(dir);
    process_ = std::make_unique<nettest::ChildProcess>(
        "/usr/bin/python3", std::vector<std::string>{Script(), "--address-file", dir_ + "/address",
                                                     "--state", std::to_string(state)});
    for (int i = 0; i < 200 && address_.empty(); ++i) {
      std::ifstream(dir_ + "/address") >> address_;
      if (address_.empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", address_);
  }
  ~NetworkManagerMock() {
    process_.reset();
    fs::remove_all(dir_);
  }
  bool Ready() const { return !address_.empty(); }
  bool SetState(int state) const {
    const std::string command = "/usr/bin/python3 '" + Script() + "' --address '" + address_ +
                                "' --state " + std::to_string(state);
    return std::system(command.c_str()) == 0;
  }

 private:
  static std::string Script() { return APP_TEST_DIR "/nm_mock.py"; }
  std::string dir_;
  std::string address_;
  std::unique_ptr<nettest::ChildProcess> process_;
  std::optional<testsupport::EnvForScope> env_;
};

struct OfflineAtStart {
  NetworkManagerMock network{NetworkManagerMock::kDisconnected};
};

class SendJobNetwork : public OfflineAtStart, public RetryPeer {
 protected:
  void SetUp() override {
    RetryPeer::SetUp();
    ASSERT_TRUE(network.Ready()) << "the NetworkManager mock did not start";
  }
};

TEST_F(SendJobNetwork, WaitsOfflineAndSendsOnceTheNetworkIsBack) {
  Entries e;
  e.port = QString::number(server_.Port());
  Save(e);
  TickAt(0);
  TickAt(1);
  ASSERT_TRUE(main->Pending().has_value());
  EXPECT_TRUE(history::ReadLast(settings::DataFolder(), 10).empty());  // nothing was tried
  ASSERT_TRUE(network.SetState(NetworkManagerMock::kConnectedGlobal));
  for (int i = 0; i < 100 && !fs::exists(server_.MessagePath(1)); ++i)
    QTest::qWait(50);
  EXPECT_TRUE(fs::exists(server_.MessagePath(1)));
  EXPECT_FALSE(fs::exists(server_.MessagePath(2)));
  EXPECT_EQ(Errors(), 0);
  EXPECT_FALSE(main->Pending().has_value());
}

// A slot caught up three hours late at start, before the network is up, waits for it too:
// its window begins when it is served, not at the slot.
TEST_F(SendJobNetwork, CatchUpAtStartWaitsForTheNetwork) {
  Entries e;
  e.port = QString::number(server_.Port());
  Save(e);
  Ini().WriteString("Dohnat", "hodiny", "4");
  missed::WriteLastTick({std::chrono::year{2026} / 12 / 7, {7, 50, 0}});
  now = {std::chrono::year{2026} / 12 / 7, {11, 0, 30}};
  main->FormShow();
  ASSERT_TRUE(main->Pending().has_value());
  EXPECT_EQ(Errors(), 0);
  ASSERT_TRUE(network.SetState(NetworkManagerMock::kConnectedGlobal));
  for (int i = 0; i < 100 && !fs::exists(server_.MessagePath(1)); ++i)
    QTest::qWait(50);
  EXPECT_TRUE(fs::exists(server_.MessagePath(1)));
  EXPECT_EQ(Errors(), 0);
  EXPECT_FALSE(main->Pending().has_value());
}

TEST_F(SendJobNetwork, WindowThatEndsOfflineIsOneErrorBox) {
  Save(Entries{});
  TickAt(0);
  TickAt(60);
  EXPECT_EQ(Errors(), 0);
  TickAt(121);
  TickAt(122);
  ASSERT_EQ(Errors(), 1);
  EXPECT_NE(messages.front().second.toStdString().find("Počítač nebyl připojen k síti."),
            std::string::npos);
  const auto events = history::ReadLast(settings::DataFolder(), 10);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].result, "Počítač nebyl připojen k síti.");
  EXPECT_FALSE(fs::exists(server_.MessagePath(1)));
}

// ---- A send cut off between the final dot and the reply ----

TEST_F(SendJobTest, KilledBetweenTheDotAndTheReplyIsNamedAtTheNextStart) {
  // The server stores the message and never answers its final dot.
  const smtptest::Aiosmtpd stalling(
      SMTP_TEST_DIR "/smtp_peer.py",
      {"--mode", "tls", "--cert", Certs().Path("good"), "--key", Certs().Key("good"), "--user",
       "jan@example.cz", "--password", kPassword, "--stall-after-data"});
  ASSERT_NE(stalling.Port(), 0);
  Entries e;
  e.port = QString::number(stalling.Port());
  Save(e);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(KADENZA_BIN, KADENZA_BIN, "--send-now", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool arrived = false;
  for (int i = 0; i < 400 && !arrived; ++i) {
    arrived = fs::exists(stalling.MessagePath(1));
    if (!arrived)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(arrived) << "the message never reached the server";
  EXPECT_TRUE(history::ReadLast(settings::DataFolder(), 10).empty()) << "no outcome was learnt";
  ASSERT_EQ(sendslots::Read().attempts.size(), 1u);

  now.time = {12, 0, 0};  // outside the send minute: the start sends nothing of its own
  main->FormShow();       // the next start
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_TRUE(balloons[0].text.startsWith(
      QStringLiteral("Nevíme, zda byla zpráva odeslána:\rOdesílání zahájené ")))
      << balloons[0].text.toStdString();
  const auto events = history::ReadLast(settings::DataFolder(), 10);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, "--send-now");
  EXPECT_EQ(events[0].result, "nevíme, zda byla zpráva odeslána");
  EXPECT_EQ(events[0].recipients, 2);
  EXPECT_EQ(events[0].subject, "Týdenní přehled");
  EXPECT_TRUE(sendslots::Read().attempts.empty());
  EXPECT_TRUE(main->tray->toolTip().contains(QStringLiteral(": nevíme, zda byla zpráva odeslána")))
      << main->tray->toolTip().toStdString();

  // Named once; nothing was sent again.
  main->FormShow();
  EXPECT_EQ(balloons.size(), 1u);
  EXPECT_EQ(history::ReadLast(settings::DataFolder(), 10).size(), 1u);
  EXPECT_FALSE(fs::exists(stalling.MessagePath(2)));
}

// ---- a strict submission server ----

// The stored message through `kadenza --send-now` to a private Postfix set up as strict
// submission servers are (fully qualified HELO names, RFC 5321 envelopes, no bare line
// feeds, fully qualified senders): it is accepted and delivered to both recipients.
class StrictPostfixTest : public SendJobTest {
 protected:
  StrictPostfixTest()
      : postfix_(SMTP_TEST_DIR "/postfix_peer.py", Certs().Path("good"), Certs().Key("good"),
                 "jan@example.cz", kPassword, "example.cz") {}

  smtptest::PostfixPeer postfix_;
};

TEST_F(StrictPostfixTest, AcceptsAndDeliversTheStoredMessage) {
  if (!postfix_.SkipReason().empty())
    GTEST_SKIP() << postfix_.SkipReason();
  ASSERT_NE(postfix_.Port(), 0) << "Postfix did not start";
  Entries e;
  e.port = QString::number(postfix_.Port());
  e.attachments = {Attachment("data.bin", AllBytes())};
  Save(e);
  std::string out, err;
  ASSERT_EQ(RunSendNow(out, err, home.Root()), 0) << err << postfix_.Log();
  EXPECT_EQ(out, "Úspěšné odeslání:\nZpráva byla odeslána.\n");
  const std::string box = postfix_.WaitForMailbox(2);
  EXPECT_NE(box.find("\nDelivered-To: a@example.cz\n"), std::string::npos) << box.substr(0, 2000);
  EXPECT_NE(box.find("\nDelivered-To: b@example.cz\n"), std::string::npos) << postfix_.Log();
  // The EHLO name the recipients see in the Received line is a qualified name or the literal.
  EXPECT_NE(box.find("\nReceived: from "), std::string::npos);
  const std::string bare = kz::GetLocalHostName();
  if (bare.find('.') == std::string::npos) {
    EXPECT_EQ(box.find("Received: from " + bare + " "), std::string::npos)
        << "the bare machine name went out";
  }
  EXPECT_EQ(postfix_.Log().find("reject"), std::string::npos) << postfix_.Log();
}

}  // namespace
