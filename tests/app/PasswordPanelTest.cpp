// The setup window and the keyring: the password panel says which case of "no keyring" it
// is, a Save that the keyring refuses keeps the window open and the stored settings as they
// were, and the explicit choice of the file saves as older versions did. The start moves an
// older setup.dat's password into the keyring.
#include "app/PasswordPanel.h"

#include <gtest/gtest.h>

#include "AppFixture.h"
#include "app/HexText.h"
#include "app/SendHistory.h"
#include "support/CaseName.h"

namespace {

using testsupport::KeyringBus;

class PasswordPanelTest : public AppFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keyring.Ready());
    settings::EnsureDataFolder();
  }
  void Fill() {
    form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
    form->ed_user->setText(QStringLiteral("jan@example.cz"));
    form->ed_pass->setText(QStringLiteral("tajné-heslo"));
    form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
    form->rb_jednotlive->setChecked(true);
    form->btn_VybratClick();
    form->rb_po->click();
  }
  std::string SetupBytes() const { return TempHome::Read(home.DataFolder() / "setup.dat"); }
};

struct StateRow {
  const char* name;
  const char* text;
};

void PrintTo(const StateRow& row, std::ostream* os) {
  *os << row.name;
}

class WindowWithoutKeyringTest : public PasswordPanelTest,
                                 public testing::WithParamInterface<StateRow> {
 protected:
  // Enter makes the row's state after the password went into the keyring.
  void Enter(const std::string& name) { ASSERT_TRUE(noKeyring_.Enter(name, keyring)); }
  testsupport::NoKeyring noKeyring_;
};

TEST_P(WindowWithoutKeyringTest, SaveKeepsTheWindowOpenUntilTheFileIsChosen) {
  const StateRow& row = GetParam();
  // Settings saved before, with the password in the keyring.
  Fill();
  form->btn_saveClick();
  ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
  main->Timer1->stop();
  const std::string before = SetupBytes();

  Enter(row.name);
  form->show();  // opening the window tells the state at once
  EXPECT_TRUE(form->pn_heslo->isVisible());
  EXPECT_EQ(form->pn_heslo->lbState->text(), QString::fromUtf8(row.text));
  EXPECT_EQ(form->pn_heslo->lbFile->text(), QStringLiteral("uložit heslo do souboru"));
  EXPECT_FALSE(form->pn_heslo->lbFile->isChecked());
  EXPECT_TRUE(form->ed_pass->text().isEmpty());

  form->ed_pass->setText(QStringLiteral("nové-heslo"));
  form->btn_saveClick();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_EQ(SetupBytes(), before);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, dialogs::MessageKind::Error);
  EXPECT_EQ(messages[0].second,
            QString::fromUtf8(row.text) +
                QStringLiteral(" Nastavení nebylo uloženo. Zkuste to znovu, nebo zvolte „uložit "
                               "heslo do souboru“."));

  form->pn_heslo->lbFile->setChecked(true);
  form->btn_saveClick();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(HexToText(Read("Heslo", "pass")), "nové-heslo");
  EXPECT_EQ(Read("Heslo", "soubor"), "1");
  EXPECT_EQ(std::filesystem::status(home.DataFolder() / "setup.dat").permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // Opened again: the choice shows, with the password from the file.
  form->show();
  EXPECT_TRUE(form->pn_heslo->isVisible());
  EXPECT_TRUE(form->pn_heslo->lbFile->isChecked());
  EXPECT_EQ(form->ed_pass->text(), QStringLiteral("nové-heslo"));
  form->hide();
}

INSTANTIATE_TEST_SUITE_P(
    States, WindowWithoutKeyringTest,
    testing::Values(
        StateRow{"NoSessionBus",
                 "Klíčenka není dostupná: program neběží v sezení s D-Bus (například z cronu)."},
        StateRow{"NoProvider",
                 "Klíčenka není dostupná: v sezení neběží žádná služba klíčenky (Secret "
                 "Service)."},
        StateRow{"Locked", "Klíčenka je zamčená a nebyla odemčena."}),
    [](const testing::TestParamInfo<StateRow>& info) { return info.param.name; });

TEST_F(PasswordPanelTest, FirstRunWithoutABusShowsTheStateBeforeAnythingIsTyped) {
  const testsupport::EnvForScope noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kz");
  form->show();
  EXPECT_TRUE(form->pn_heslo->isVisible());
  EXPECT_EQ(form->pn_heslo->Failure(), keyring::Failure::kNoBus);
  form->hide();
}

TEST_F(PasswordPanelTest, WorkingKeyringShowsNoPanel) {
  form->show();
  EXPECT_TRUE(form->pn_heslo->isHidden());
  form->hide();
}

TEST_F(PasswordPanelTest, StartMovesAnOlderPasswordIntoTheKeyringOnce) {
  settings::EnsureDataFolder();
  settings::WriteSetting(Ini(), settings::kServerKey, "smtp.example.cz");
  settings::WriteSetting(Ini(), settings::kUserKey, "jan@example.cz");
  settings::WriteSetting(Ini(), settings::kPasswordKey, "staré heslo");
  main->FormShow();
  EXPECT_EQ(Read("Heslo", "pass"), "");
  EXPECT_EQ(keyring.Lookup("smtp.example.cz", "jan@example.cz"), "staré heslo");
  const std::string after = SetupBytes();
  main->FormShow();
  EXPECT_EQ(SetupBytes(), after);
  const auto events = history::ReadLast(settings::DataFolder(), 10);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, "klíčenka");
  form->FormShow();
  EXPECT_EQ(form->ed_pass->text(), QStringLiteral("staré heslo"));
}

TEST_F(PasswordPanelTest, ClearingAllDataRemovesTheKeyringItem) {
  Fill();
  form->btn_saveClick();
  ASSERT_EQ(keyring.Lookup("smtp.example.cz", "jan@example.cz"), "tajné-heslo");
  form->btn_closeClick();
  EXPECT_EQ(keyring.Lookup("smtp.example.cz", "jan@example.cz"), std::nullopt);
}

}  // namespace
