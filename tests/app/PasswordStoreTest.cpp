// Where the password is kept: setup.dat with a password moved into a real keyring at start
// (and left byte for byte as it was when no keyring takes it), and the password a send gets.
#include "app/PasswordStore.h"

#include <gtest/gtest.h>

#include "TempHome.h"
#include "app/HexText.h"
#include "app/IniFile.h"
#include "app/SendHistory.h"
#include "support/CaseName.h"
#include "support/KeyringBus.h"

namespace {

using testsupport::KeyringBus;
using namespace std::chrono_literals;

class PasswordStoreTest : public testing::Test {
 protected:
  void SetUp() override { settings::EnsureDataFolder(); }

  IniFile Ini() const { return IniFile(settings::SetupFilePath()); }
  // An older version's setup.dat: the account with its password in hex.
  void WriteOldSetup(const std::string& password = "Tajné heslo") {
    const IniFile ini = Ini();
    settings::WriteSetting(ini, settings::kServerKey, "smtp.example.cz");
    settings::WriteSetting(ini, settings::kPortKey, "465");
    settings::WriteSetting(ini, settings::kUserKey, "jan@example.cz");
    settings::WriteSetting(ini, settings::kPasswordKey, password);
    settings::WriteSetting(ini, settings::kSubjectKey, "Přehled");
  }
  std::string SetupBytes() const { return TempHome::Read(settings::SetupFilePath()); }
  std::vector<history::Event> History() const {
    return history::ReadLast(settings::DataFolder(), 10);
  }
  settings::StoredSettings Stored() const { return settings::StoredSettings::Load(Ini()); }

  TempHome home;
};

TEST_F(PasswordStoreTest, MigrationMovesThePasswordOnceAndTheSecondStartChangesNothing) {
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  WriteOldSetup();
  const std::string before = SetupBytes();
  ASSERT_NE(before.find(TextToHex("Tajné heslo")), std::string::npos);

  EXPECT_EQ(passwords::MigrateFromFile(), passwords::Migration::kMoved);
  EXPECT_EQ(bus.Lookup("smtp.example.cz", "jan@example.cz"), "Tajné heslo");
  const std::string after = SetupBytes();
  EXPECT_EQ(Ini().ReadString("Heslo", "pass"), "");
  EXPECT_EQ(after.find(TextToHex("Tajné heslo")), std::string::npos) << after;
  // Only the password changed; the rest of the file reads as before.
  EXPECT_EQ(Stored().server, "smtp.example.cz");
  EXPECT_EQ(Stored().subject, "Přehled");
  EXPECT_EQ(std::filesystem::status(settings::SetupFilePath()).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto events = History();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, "klíčenka");
  EXPECT_EQ(events[0].result, "heslo přesunuto ze setup.dat do klíčenky");

  EXPECT_EQ(passwords::MigrateFromFile(), passwords::Migration::kNothing);
  EXPECT_EQ(SetupBytes(), after);
  EXPECT_EQ(History().size(), 1u);
  EXPECT_EQ(passwords::Resolve(Ini(), Stored()), "Tajné heslo");
}

// One row per keyring that cannot take the password: the file must stay byte for byte.
struct KeptRow {
  const char* name;
  std::optional<KeyringBus::Provider> provider;  // none: no session bus
  bool lock;
  int code;
};

void PrintTo(const KeptRow& row, std::ostream* os) {
  *os << row.name;
}

class MigrationKeepsTheFileTest : public PasswordStoreTest,
                                  public testing::WithParamInterface<KeptRow> {};

TEST_P(MigrationKeepsTheFileTest, FileStaysByteForByte) {
  const KeptRow& row = GetParam();
  std::optional<KeyringBus> bus;
  std::optional<testsupport::EnvForScope> noBus;
  if (row.provider) {
    bus.emplace(*row.provider);
    ASSERT_TRUE(bus->Ready());
    if (row.lock) {
      ASSERT_TRUE(bus->Lock());
    }
  } else {
    noBus.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kz");
  }
  WriteOldSetup();
  const std::string before = SetupBytes();
  try {
    passwords::MigrateFromFile(1500ms);
    ADD_FAILURE() << "nothing raised";
  } catch (const keyring::EKeyringError& e) {
    EXPECT_EQ(e.ErrorCode, row.code) << e.what();
  }
  EXPECT_EQ(SetupBytes(), before);
  EXPECT_TRUE(History().empty());
  // Sends go on with the password the file still holds.
  EXPECT_EQ(passwords::Resolve(Ini(), Stored(), 1500ms), "Tajné heslo");
}

INSTANTIATE_TEST_SUITE_P(
    NoKeyring, MigrationKeepsTheFileTest,
    testing::Values(KeptRow{"NoSessionBus", std::nullopt, false, -601},
                    KeptRow{"NoProvider", KeyringBus::Provider::kNone, false, -602},
                    KeptRow{"Locked", KeyringBus::Provider::kGnomeKeyring, true, -603},
                    KeptRow{"NeverAnswers", KeyringBus::Provider::kHung, false, -604}),
    [](const testing::TestParamInfo<KeptRow>& info) { return info.param.name; });

TEST_F(PasswordStoreTest, FileChosenByTheUserIsLeftAlone) {
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  WriteOldSetup();
  settings::WriteSetting(Ini(), passwords::kInFileKey, "1");
  const std::string before = SetupBytes();
  EXPECT_EQ(passwords::MigrateFromFile(), passwords::Migration::kNothing);
  EXPECT_EQ(SetupBytes(), before);
  EXPECT_EQ(bus.Lookup("smtp.example.cz", "jan@example.cz"), std::nullopt);
  EXPECT_EQ(passwords::Resolve(Ini(), Stored()), "Tajné heslo");
}

TEST_F(PasswordStoreTest, SendWithoutAPasswordAnywhereFailsWithItsReason) {
  KeyringBus bus(KeyringBus::Provider::kNone);
  ASSERT_TRUE(bus.Ready());
  WriteOldSetup("");
  try {
    passwords::Resolve(Ini(), Stored());
    ADD_FAILURE() << "nothing raised";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, -602);
    EXPECT_STREQ(e.what(),
                 "Klíčenka není dostupná: v sezení neběží žádná služba klíčenky (Secret Service). "
                 "Heslo k účtu nelze načíst; v nastavení lze zvolit „uložit heslo do souboru“.");
  }
}

TEST_F(PasswordStoreTest, KeyringWithoutTheAccountsItemIsNamed) {
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  WriteOldSetup("");
  try {
    passwords::Resolve(Ini(), Stored());
    ADD_FAILURE() << "nothing raised";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, passwords::kNotStoredCode);
    EXPECT_STREQ(e.what(),
                 "V klíčence není uloženo heslo účtu jan@example.cz na serveru smtp.example.cz. "
                 "Uložte nastavení znovu.");
  }
}

TEST_F(PasswordStoreTest, KeepMovesTheItemWithTheAccountAndToTheFile) {
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  std::string fileValue = "x";
  const keyring::Account jan{"smtp.example.cz", "jan@example.cz"};
  const keyring::Account eva{"smtp.example.cz", "eva@example.cz"};
  passwords::Keep(jan, "první", false, std::nullopt, fileValue);
  EXPECT_EQ(fileValue, "");
  EXPECT_EQ(bus.Lookup(jan.host, jan.user), "první");
  // The account changed: the old one's item goes.
  passwords::Keep(eva, "druhé", false, jan, fileValue);
  EXPECT_EQ(bus.Lookup(jan.host, jan.user), std::nullopt);
  EXPECT_EQ(bus.Lookup(eva.host, eva.user), "druhé");
  // The file chosen: it takes the password, the keyring keeps no copy.
  passwords::Keep(eva, "třetí", true, eva, fileValue);
  EXPECT_EQ(fileValue, "třetí");
  EXPECT_EQ(bus.Lookup(eva.host, eva.user), std::nullopt);
}

}  // namespace
