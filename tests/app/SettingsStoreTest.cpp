#include "app/SettingsStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "TempHome.h"
#include "app/HexText.h"
#include "app/IniFile.h"
#include "core/Error.h"
#include "support/CaseName.h"

namespace {

namespace fs = std::filesystem;

TEST(SettingsStore, DataFolderFollowsXdgDataHome) {
  TempHome home;
  EXPECT_EQ(settings::DataFolder(), (home.Root() / "data" / "Kadenza").string());
  EXPECT_EQ(settings::SetupFilePath(), (home.DataFolder() / "setup.dat").string());
  {
    const auto relative = testsupport::SetEnvForScope("XDG_DATA_HOME", "relative/path");
    // ignored: not absolute
    EXPECT_EQ(settings::DataFolder(), (home.Root() / ".local/share/Kadenza").string());
  }
  const auto unset = testsupport::SetEnvForScope("XDG_DATA_HOME", std::nullopt);
  EXPECT_EQ(settings::DataFolder(), (home.Root() / ".local/share/Kadenza").string());
}

TEST(SettingsStore, DataFolderIsCreatedOwnerOnlyWithParents) {
  TempHome home;
  EXPECT_FALSE(fs::exists(home.Root() / "data"));
  EXPECT_FALSE(settings::SetupFileExists());
  // Without the folder every write fails and reads are empty.
  const IniFile ini(settings::SetupFilePath());
  EXPECT_THROW(ini.WriteString("Cas", "cas", "08:00:00"), EclError);
  EXPECT_EQ(ini.ReadString("Cas", "cas"), "");
  settings::EnsureDataFolder();
  struct stat st {};
  ASSERT_EQ(::stat(settings::DataFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ini.WriteString("Cas", "cas", "08:00:00");
  EXPECT_TRUE(settings::SetupFileExists());
  settings::EnsureDataFolder();  // an existing folder is fine
}

TEST(SettingsStore, MessageTextIsWrittenAsUtf8WithBom) {
  TempHome home;
  settings::EnsureDataFolder();
  const std::vector<std::string> lines = {
      "Dobr\xC3\xBD den,", "", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xF0\x9F\x98\x80"};
  settings::SaveMessageText(lines);
  const std::string bytes = TempHome::Read(home.DataFolder() / "zprava.dat");
  EXPECT_EQ(bytes, "\xEF\xBB\xBF" + lines[0] + "\r\n\r\n" + lines[2] + "\r\n");
  bool exists = false;
  EXPECT_EQ(settings::LoadMessageText(&exists), lines);
  EXPECT_TRUE(exists);
  struct stat st {};
  ASSERT_EQ(::stat((home.DataFolder() / "zprava.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

struct DecodeCase {
  std::string name;
  std::string bytes;
  std::string want;
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.name;
}

class MessageFileDecode : public testing::TestWithParam<DecodeCase> {};
TEST_P(MessageFileDecode, Decodes) {
  EXPECT_EQ(settings::DecodeMessageFile(GetParam().bytes), GetParam().want);
}
INSTANTIATE_TEST_SUITE_P(
    Table, MessageFileDecode,
    testing::Values(DecodeCase{"windows1250", "P\xF8\xEDli\x9A\r\n",
                               "P\xC5\x99\xC3\xADli\xC5\xA1\r\n"},
                    DecodeCase{"utf8bom", "\xEF\xBB\xBF\xC4\x8D", "\xC4\x8D"},
                    DecodeCase{"utf8bomMalformed", "\xEF\xBB\xBF\xFF", "\xEF\xBF\xBD"},
                    DecodeCase{"utf16le", std::string("\xFF\xFE\x0D\x01\x61\x00", 6),
                               "\xC4\x8D"
                               "a"},
                    DecodeCase{"utf16be", std::string("\xFE\xFF\x01\x0D\x00\x61", 6),
                               "\xC4\x8D"
                               "a"}),
    [](const auto& info) { return info.param.name; });

TEST(SettingsStore, MissingMessageFileReadsAsAbsent) {
  TempHome home;
  bool exists = true;
  EXPECT_TRUE(settings::LoadMessageText(&exists).empty());
  EXPECT_FALSE(exists);
}

TEST(SettingsStore, DeleteDataFilesRemovesAllThreeAndToleratesMissingOnes) {
  TempHome home;
  settings::EnsureDataFolder();
  for (const char* name : {"setup.dat", "zprava.dat", "prijemce.dat", "other.txt"}) {
    TempHome::Write(home.DataFolder() / name, "x");
  }
  settings::DeleteDataFiles();
  EXPECT_FALSE(fs::exists(home.DataFolder() / "setup.dat"));
  EXPECT_FALSE(fs::exists(home.DataFolder() / "zprava.dat"));
  EXPECT_FALSE(fs::exists(home.DataFolder() / "prijemce.dat"));
  EXPECT_TRUE(fs::exists(home.DataFolder() / "other.txt"));
  settings::DeleteDataFiles();
}

// A settings or message file that is no regular file is refused at once, never waited on.
struct NotAFileCase {
  std::string name;
  std::function<void(const fs::path&)> make;
};
void PrintTo(const NotAFileCase& c, std::ostream* os) {
  *os << c.name;
}

class SettingsNotAFile : public testing::TestWithParam<NotAFileCase> {};
TEST_P(SettingsNotAFile, IsRefusedWithoutBlocking) {
  TempHome home;
  settings::EnsureDataFolder();
  const fs::path setup = home.DataFolder() / "setup.dat";
  const fs::path message = home.DataFolder() / "zprava.dat";
  GetParam().make(setup);
  GetParam().make(message);
  // Should a read wait on a FIFO after all, a late writer ends the wait, so the test fails
  // on its time instead of hanging.
  std::atomic<bool> done{false};
  std::thread unblock([&] {
    for (int i = 0; i < 100 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (i < 40)
        continue;
      for (const fs::path& p : {setup, message}) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
          ::close(fd);
      }
    }
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(IniFile(setup.string()).ReadString("Cas", "cas"), EclError);
  EXPECT_THROW(settings::LoadMessageText(), EclError);
  EXPECT_THROW(settings::PrepareDataFolder(), EclError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  done = true;
  unblock.join();
}
INSTANTIATE_TEST_SUITE_P(
    Table, SettingsNotAFile,
    testing::Values(NotAFileCase{"Fifo", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }},
                    NotAFileCase{"Folder", [](const fs::path& p) { fs::create_directory(p); }},
                    NotAFileCase{"DeviceThroughLink",
                                 [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }}),
    [](const auto& info) { return info.param.name; });

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(SettingsStore, StartTightensFolderAndDataFilesToOwnerOnly) {
  TempHome home;
  settings::PrepareDataFolder();  // no folder yet: nothing to do
  settings::EnsureDataFolder();
  const fs::path other = home.DataFolder() / "other.txt";
  for (const char* name : {"setup.dat", "zprava.dat", "prijemce.dat", "other.txt"}) {
    TempHome::Write(home.DataFolder() / name, "x");
    ::chmod((home.DataFolder() / name).c_str(), 0664);
  }
  ::chmod((home.DataFolder() / "zprava.dat").c_str(), 0400);  // narrower stays as it is
  ::chmod(home.DataFolder().c_str(), 02775);
  settings::PrepareDataFolder();
  EXPECT_EQ(ModeOf(home.DataFolder()), 0700u);
  EXPECT_EQ(ModeOf(home.DataFolder() / "setup.dat"), 0600u);
  EXPECT_EQ(ModeOf(home.DataFolder() / "prijemce.dat"), 0600u);
  EXPECT_EQ(ModeOf(home.DataFolder() / "zprava.dat"), 0400u);
  EXPECT_EQ(ModeOf(other), 0664u);  // not ours
  // A data file that is a link is not followed, so its target keeps its mode.
  TempHome::Write(home.Root() / "target", "t");
  ::chmod((home.Root() / "target").c_str(), 0644);
  fs::remove(home.DataFolder() / "setup.dat");
  fs::create_symlink(home.Root() / "target", home.DataFolder() / "setup.dat");
  settings::PrepareDataFolder();
  EXPECT_EQ(ModeOf(home.Root() / "target"), 0644u);
}

TEST(SettingsStore, StartRemovesOnlyStaleTemporariesOfOurFiles) {
  TempHome home;
  settings::EnsureDataFolder();
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  struct Entry {
    std::string name;
    bool stale;
    bool removed;
  };
  const std::vector<Entry> entries{{"setup.dat.tmp-a1B2c3", true, true},
                                   {"zprava.dat.tmp-ZZZZZZ", true, true},
                                   {"prijemce.dat.tmp-000000", true, true},
                                   {"setup.dat.tmp-fresh1", false, false},
                                   {"setup.dat.tmp-abc", true, false},
                                   {"setup.dat.tmp-abcdefg", true, false},
                                   {"other.dat.tmp-abcdef", true, false},
                                   {"setup.dat.tmp-ab.def", true, false},
                                   {"setup.dat", true, false}};
  for (const Entry& e : entries) {
    TempHome::Write(home.DataFolder() / e.name, "partial");
    if (e.stale)
      fs::last_write_time(home.DataFolder() / e.name, old);
  }
  fs::create_directory(home.DataFolder() / "zprava.dat.tmp-folder");
  fs::last_write_time(home.DataFolder() / "zprava.dat.tmp-folder", old);
  settings::PrepareDataFolder();
  for (const Entry& e : entries)
    EXPECT_EQ(fs::exists(home.DataFolder() / e.name), !e.removed) << e.name;
  EXPECT_TRUE(fs::is_directory(home.DataFolder() / "zprava.dat.tmp-folder"));
}

}  // namespace

namespace {

// Every stored setting goes through the schema: what Save writes, Load reads back, the
// hex-stored ones as hex of their UTF-8 bytes in the file.
TEST(SettingsSchema, SaveAndLoadRoundTripWithHexWhereStored) {
  TempHome home;
  settings::EnsureDataFolder();
  const IniFile ini(settings::SetupFilePath());
  settings::StoredSettings s;
  s.server = "smtp.příklad.cz";
  s.port = "465";
  s.ssl = true;
  s.user = "uživatel";
  s.password = "heslo=;[x]";
  s.recipients = "a@b.cz\r\nc@d.cz";
  s.ownAddress = "já@b.cz";
  s.subject = "Předmět";
  s.attachments = {"/tmp/a", "", "/tmp/c"};
  s.sendTime = "08:30:00";
  s.validUntil = "31.12.2027";
  s.Save(ini);
  const auto back = settings::StoredSettings::Load(ini);
  EXPECT_EQ(back.server, s.server);
  EXPECT_EQ(back.ssl, true);
  EXPECT_EQ(back.user, s.user);
  EXPECT_EQ(back.password, s.password);
  EXPECT_EQ(back.recipients, s.recipients);
  EXPECT_EQ(back.ownAddress, s.ownAddress);
  EXPECT_EQ(back.subject, s.subject);
  EXPECT_EQ(back.attachments, s.attachments);
  EXPECT_EQ(back.sendTime, s.sendTime);
  EXPECT_EQ(back.validUntil, s.validUntil);
  EXPECT_EQ(ini.ReadString("Heslo", "pass"), TextToHex(s.password));
  EXPECT_EQ(ini.ReadString("Email", "MyMail"), TextToHex(s.ownAddress));
  EXPECT_EQ(ini.ReadString("SMTP", "port"), "465");
}

// The window lists the days Monday first; the stored keys follow the weekday numbers.
TEST(SettingsSchema, DaysMondayFirstMapToTheirKeys) {
  TempHome home;
  settings::EnsureDataFolder();
  const IniFile ini(settings::SetupFilePath());
  const char* expected[] = {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"};
  for (std::size_t i = 0; i < 7; ++i) {
    settings::SetDayChosen(ini, settings::MondayFirst(i), i % 2 == 0);
    EXPECT_EQ(ini.ReadString("Datum", expected[i]), i % 2 == 0 ? expected[i] : "");
    EXPECT_EQ(settings::IsDayChosen(ini, settings::MondayFirst(i)), i % 2 == 0);
  }
}

struct SenderRow {
  std::string name;
  std::string user;
  std::string ownAddress;
  std::string want;       // the sender; empty: refused
  std::string errorPart;  // part of the refusal's text
};

void PrintTo(const SenderRow& row, std::ostream* os) {
  *os << row.name;
}

class SenderChoice : public testing::TestWithParam<SenderRow> {};

TEST_P(SenderChoice, UserNameIfAnAddressElseOwnAddress) {
  const SenderRow& row = GetParam();
  if (!row.want.empty()) {
    EXPECT_EQ(settings::SenderAddress(row.user, row.ownAddress), row.want);
    return;
  }
  try {
    settings::SenderAddress(row.user, row.ownAddress);
    FAIL() << "no sender address, yet accepted";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, EINVAL);
    EXPECT_NE(std::string(e.what()).find(row.errorPart), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("pole „váš email“"), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SenderChoice,
    testing::Values(
        SenderRow{"UserIsAnAddress", "jan@example.cz", "osobni@example.cz", "jan@example.cz", ""},
        SenderRow{"UserIsAnAddressWithSpaces", " jan@example.cz ", "", "jan@example.cz", ""},
        SenderRow{"PlainLogin", "jnovak", "jan.novak@example.cz", "jan.novak@example.cz", ""},
        SenderRow{"DomainLogin", "FIRMA\\jnovak", "jan.novak@example.cz", "jan.novak@example.cz",
                  ""},
        SenderRow{"LoginWithAtSignAndMore", "jnovak@firma local", "jan@example.cz",
                  "jan@example.cz", ""},
        SenderRow{"OwnAddressWithName", "jnovak", "Jan Novák <jan@example.cz>",
                  "Jan Novák <jan@example.cz>", ""},
        SenderRow{"NoOwnAddress", "jnovak", "", "", "Uživatel „jnovak“ není e-mailová adresa"},
        SenderRow{"NothingAtAll", "", "  ", "", "Uživatel není vyplněn"},
        SenderRow{"OwnAddressNoAddress", "FIRMA\\jnovak", "jan.novak", "",
                  "váš email „jan.novak“ také ne"},
        SenderRow{"OwnAddressIsAList", "jnovak", "a@example.cz, b@example.cz", "", "také ne"},
        SenderRow{"HalfAnAddress", "jnovak@", "@example.cz", "", "„jnovak@“"}),
    [](const auto& info) { return info.param.name; });

TEST(SettingsSchema, CheckRefusesARecipientListTooLongToStore) {
  settings::StoredSettings s;
  s.user = "jan@example.cz";
  s.recipients = std::string(settings::kMaxRecipientsBytes, 'a');
  EXPECT_NO_THROW(s.Check());
  s.recipients += "b";
  try {
    s.Check();
    FAIL() << "an over-long list was accepted";
  } catch (const EclError& e) {
    EXPECT_NE(std::string(e.what()).find("Seznam příjemců je příliš dlouhý (262145 bajtů)"),
              std::string::npos)
        << e.what();
  }
  // The longest list Save takes, beside long other values, still stores and reads back whole.
  TempHome home;
  settings::EnsureDataFolder();
  s.recipients.pop_back();
  s.subject = std::string(2000, 's');
  s.attachments = {std::string(4000, 'x'), std::string(4000, 'y'), std::string(4000, 'z')};
  const IniFile ini(settings::SetupFilePath());
  s.Save(ini);
  EXPECT_EQ(settings::StoredSettings::Load(ini).recipients, s.recipients);
}

TEST(SettingsSchema, DamagedHexValueNamesTheSetting) {
  TempHome home;
  settings::EnsureDataFolder();
  const IniFile ini(settings::SetupFilePath());
  ini.WriteString("Prijemce", "komu", TextToHex("a@example.cz, b@example.cz").substr(0, 51));
  try {
    settings::ReadSetting(ini, settings::kRecipientsKey);
    FAIL() << "a cut hex value was read";
  } catch (const EConvertError& e) {
    EXPECT_NE(std::string(e.what()).find("lichý počet"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("[Prijemce] komu"), std::string::npos) << e.what();
  }
}

}  // namespace
