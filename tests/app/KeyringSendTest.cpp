// Sends that take the password from the keyring, end to end: saved through the setup window
// into GNOME Keyring on a private bus, then sent by the schedule tick and by `kadenza
// --send-now` to aiosmtpd (TLS, log-in required), and `--send-now` where no keyring answers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "AppFixture.h"
#include "TlsTestPeers.h"
#include "app/HexText.h"
#include "app/SendHistory.h"
#include "support/AiosmtpdPeer.h"
#include "support/CaseName.h"

namespace {

namespace fs = std::filesystem;
using testsupport::KeyringBus;

const std::string kPassword = "Heslo z klíčenky";

class KeyringSendTest : public AppFixture {
 protected:
  KeyringSendTest()
      : server_(SMTP_TEST_DIR "/smtp_peer.py",
                {"--mode", "tls", "--cert", Certs().Path("good"), "--key", Certs().Key("good"),
                 "--user", "jan@example.cz", "--password", kPassword}) {
    settings::EnsureDataFolder();
  }
  static const tlstest::TestCertificates& Certs() { return tlstest::TestCertificates::Get(); }
  void SetUp() override {
    ASSERT_TRUE(Certs().Ready());
    ASSERT_NE(server_.Port(), 0) << "aiosmtpd did not start";
    ASSERT_TRUE(keyring.Ready());
  }

  // Save enters an account and a message into the window and saves, the user's way.
  void Save(bool inFile = false) {
    form->ed_smtp->setText(QStringLiteral("127.0.0.1"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(QString::fromStdString(kPassword));
    form->cbSSL->setChecked(false);
    form->edPort->setText(QString::number(server_.Port()));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
    form->ed_predmet->setText(QStringLiteral("Přehled"));
    form->mem_text->setPlainText(QStringLiteral("Text"));
    form->cas->setTime(QTime(8, 0, 0));
    form->do_data->setDate(QDate(2027, 12, 31));
    form->pn_heslo->lbFile->setChecked(inFile);
    form->rb_jednotlive->setChecked(true);
    form->btn_VybratClick();
    form->rb_po->click();
    form->btn_saveClick();
  }

  // SendNow runs `kadenza --send-now` in this environment; answers its exit status.
  int SendNow(std::string& out, std::string& err) {
    const fs::path errFile = home.Root() / "stderr.txt";
    FILE* pipe = ::popen(
        (std::string(KADENZA_BIN) + " --send-now 2>'" + errFile.string() + "'").c_str(), "r");
    if (!pipe)
      return -1;
    out.clear();
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    const int status = ::pclose(pipe);
    err = TempHome::Read(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  smtptest::Aiosmtpd server_;
};

TEST_F(KeyringSendTest, SavedPasswordIsInTheKeyringAndEverySendLogsInWithIt) {
  Save();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(keyring.Lookup("127.0.0.1", "jan@example.cz"), kPassword);
  const std::string setup = TempHome::Read(home.DataFolder() / "setup.dat");
  EXPECT_EQ(Read("Heslo", "pass"), "");
  EXPECT_EQ(setup.find(TextToHex(kPassword)), std::string::npos) << setup;

  // The schedule's send.
  now = {std::chrono::year{2026} / 12 / 7, {8, 0, 0}};
  dialogs::Guarded([this] { main->Timer1Timer(); });
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(server_.Envelope(1), "jan@example.cz\na@example.cz\n");

  // --send-now, another process on the same session bus.
  std::string out, err;
  ASSERT_EQ(SendNow(out, err), 0) << err;
  EXPECT_EQ(server_.Envelope(2), "jan@example.cz\na@example.cz\n");

  // The window opened again shows the password from the keyring, and no panel.
  form->FormShow();
  EXPECT_EQ(form->ed_pass->text(), QString::fromStdString(kPassword));
  EXPECT_TRUE(form->pn_heslo->isHidden());
}

// --send-now and the schedule's send where no keyring answers: one row per state, with what
// each reports.
struct SendNowRow {
  const char* name;
  int code;
  const char* text;
};

void PrintTo(const SendNowRow& row, std::ostream* os) {
  *os << row.name;
}

class SendNowWithoutKeyringTest : public KeyringSendTest,
                                  public testing::WithParamInterface<SendNowRow> {
 protected:
  // Enter makes the row's state after the password went into the keyring.
  void Enter(const std::string& name) { ASSERT_TRUE(noKeyring_.Enter(name, keyring)); }
  testsupport::NoKeyring noKeyring_;
};

TEST_P(SendNowWithoutKeyringTest, FailsWithItsTextUnlessTheFileWasChosen) {
  const SendNowRow& row = GetParam();
  Save();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  Enter(row.name);
  std::string out, err;
  EXPECT_EQ(SendNow(out, err), 1);
  EXPECT_EQ(out, "");
  const std::string text = std::string(row.text) +
                           " Heslo k účtu nelze načíst; v nastavení lze zvolit „uložit heslo do "
                           "souboru“.";
  EXPECT_EQ(err, "Kadenza: " + text + "\n");
  EXPECT_EQ(server_.Message(1), "");
  const auto events = history::ReadLast(settings::DataFolder(), 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, "--send-now");
  EXPECT_EQ(events[0].result, text + " (" + std::to_string(row.code) + ")");

  // The schedule's send in the same state: its error box and its history line.
  now = {std::chrono::year{2026} / 12 / 7, {8, 0, 0}};
  dialogs::Guarded([this] { main->Timer1Timer(); });
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, dialogs::MessageKind::Error);
  EXPECT_EQ(messages[0].second.toStdString(),
            "Naplánované odeslání 07.12.2026 08:00 se nezdařilo: " + text);
  const auto tick = history::ReadLast(settings::DataFolder(), 1);
  ASSERT_EQ(tick.size(), 1u);
  EXPECT_EQ(tick[0].kind, "naplánované odeslání");
  EXPECT_EQ(tick[0].result, events[0].result);
  EXPECT_EQ(server_.Message(1), "");
  messages.clear();

  // The user's explicit choice of the file: the same state sends.
  Save(true);
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  EXPECT_EQ(HexToText(Read("Heslo", "pass")), kPassword);
  EXPECT_EQ(Read("Heslo", "soubor"), "1");
  ASSERT_EQ(SendNow(out, err), 0) << err;
  EXPECT_EQ(server_.Envelope(1), "jan@example.cz\na@example.cz\n");
}

INSTANTIATE_TEST_SUITE_P(
    States, SendNowWithoutKeyringTest,
    testing::Values(
        SendNowRow{"NoSessionBus", -601,
                   "Klíčenka není dostupná: program neběží v sezení s D-Bus (například z "
                   "cronu)."},
        SendNowRow{"NoProvider", -602,
                   "Klíčenka není dostupná: v sezení neběží žádná služba klíčenky (Secret "
                   "Service)."},
        SendNowRow{"Locked", -603, "Klíčenka je zamčená a nebyla odemčena."}),
    [](const testing::TestParamInfo<SendNowRow>& info) { return info.param.name; });

}  // namespace
