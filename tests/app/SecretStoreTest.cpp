// The keyring through a real Secret Service: GNOME Keyring on a private session bus, looked
// at from outside with `secret-tool`, and the cases where no keyring answers (no bus, no
// service, a locked keyring, a service that never replies).
#include "app/SecretStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include "TempHome.h"
#include "support/CaseName.h"
#include "support/KeyringBus.h"

namespace {

using testsupport::KeyringBus;
using namespace std::chrono_literals;

const keyring::Account kAccount{"smtp.example.cz", "jan@example.cz"};

TEST(SecretStoreTest, StoredPasswordIsFoundBySecretToolAndReplacedByTheNextStore) {
  TempHome home;
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  keyring::Store(kAccount, "Tajné heslo");
  EXPECT_EQ(bus.Lookup("smtp.example.cz", "jan@example.cz"), "Tajné heslo");
  EXPECT_EQ(bus.SecretTool({"lookup", "application", "kadenza", "user", "jan@example.cz"}),
            "Tajné heslo");
  EXPECT_EQ(keyring::Lookup(kAccount), "Tajné heslo");

  keyring::Store(kAccount, "nové");
  EXPECT_EQ(keyring::Lookup(kAccount), "nové");
  // One item per account: the second store replaced the first.
  const auto listed = bus.SecretTool({"search", "--all", "application", "kadenza"});
  ASSERT_TRUE(listed);
  EXPECT_EQ(std::count(listed->begin(), listed->end(), '['), 1) << *listed;

  // Another account is another item.
  EXPECT_EQ(keyring::Lookup({"smtp.example.cz", "eva@example.cz"}), std::nullopt);
  EXPECT_TRUE(keyring::Clear(kAccount));
  EXPECT_FALSE(keyring::Clear(kAccount));
  EXPECT_EQ(keyring::Lookup(kAccount), std::nullopt);
  EXPECT_EQ(bus.Lookup("smtp.example.cz", "jan@example.cz"), std::nullopt);
}

TEST(SecretStoreTest, PasswordBytesComeBackUnchanged) {
  TempHome home;
  KeyringBus bus;
  ASSERT_TRUE(bus.Ready());
  const std::string password = "a b\t\"'\\;=ř€\xF0\x9F\x94\x91";
  keyring::Store(kAccount, password);
  EXPECT_EQ(keyring::Lookup(kAccount), password);
}

// One row per state in which no keyring answers: how it is made, what each call raises.
struct NoKeyringRow {
  const char* name;
  std::function<std::unique_ptr<KeyringBus>()> make;  // null: no session bus at all
  bool lockAfterStart;
  keyring::Failure failure;
  const char* text;
};

void PrintTo(const NoKeyringRow& row, std::ostream* os) {
  *os << row.name;
}

class NoKeyringTest : public testing::TestWithParam<NoKeyringRow> {};

TEST_P(NoKeyringTest, EveryCallSaysWhichCaseItIs) {
  const NoKeyringRow& row = GetParam();
  TempHome home;
  std::unique_ptr<KeyringBus> bus;
  std::optional<testsupport::EnvForScope> noBus;
  if (row.make) {
    bus = row.make();
    ASSERT_TRUE(bus->Ready());
    if (row.lockAfterStart) {
      keyring::Store(kAccount, "heslo");  // an item exists, behind the lock
      ASSERT_TRUE(bus->Lock());
    }
  } else {
    noBus.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kz-no-bus");
  }
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Store", [] { keyring::Store(kAccount, "jiné", 1500ms); }},
      {"Lookup", [] { keyring::Lookup(kAccount, 1500ms); }},
  };
  for (const auto& [name, call] : calls) {
    const auto start = std::chrono::steady_clock::now();
    try {
      call();
      ADD_FAILURE() << name << ": nothing raised";
    } catch (const keyring::EKeyringError& e) {
      EXPECT_EQ(e.Kind(), row.failure) << name << ": " << e.what();
      EXPECT_EQ(e.ErrorCode, static_cast<int>(row.failure)) << name;
      EXPECT_STREQ(e.what(), row.text) << name;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, NoKeyringTest,
    testing::Values(
        NoKeyringRow{"NoSessionBus", nullptr, false, keyring::Failure::kNoBus,
                     "Klíčenka není dostupná: program neběží v sezení s D-Bus (například z "
                     "cronu)."},
        NoKeyringRow{"NoProvider",
                     [] { return std::make_unique<KeyringBus>(KeyringBus::Provider::kNone); },
                     false, keyring::Failure::kNoProvider,
                     "Klíčenka není dostupná: v sezení neběží žádná služba klíčenky (Secret "
                     "Service)."},
        NoKeyringRow{"LockedNotUnlocked", [] { return std::make_unique<KeyringBus>(); }, true,
                     keyring::Failure::kLocked, "Klíčenka je zamčená a nebyla odemčena."},
        NoKeyringRow{"ServiceNeverAnswers",
                     [] { return std::make_unique<KeyringBus>(KeyringBus::Provider::kHung); },
                     false, keyring::Failure::kTimedOut, "Klíčenka neodpověděla včas."}),
    [](const testing::TestParamInfo<NoKeyringRow>& info) { return info.param.name; });

TEST(SecretStoreTest, TimeLimitHoldsAgainstAServiceThatNeverAnswers) {
  TempHome home;
  KeyringBus bus(KeyringBus::Provider::kHung);
  ASSERT_TRUE(bus.Ready());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(keyring::Probe(700ms), keyring::EKeyringError);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 650ms);
  EXPECT_LT(took, 3s);
}

}  // namespace
