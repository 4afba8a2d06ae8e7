#include "app/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "TempHome.h"
#include "core/Error.h"

namespace {

namespace fs = std::filesystem;

class IniFileTest : public testing::Test {
 protected:
  IniFileTest() { fs::create_directories(folder); }
  TempHome home;
  fs::path folder = home.Root() / "ini";
  fs::path path = folder / "setup.dat";
  IniFile ini{path.string()};
};

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsEmpty) {
  EXPECT_EQ(ini.ReadString("SMTP", "server"), "");
  ini.WriteString("SMTP", "port", "465");
  EXPECT_EQ(ini.ReadString("SMTP", "server"), "");
  EXPECT_EQ(ini.ReadString("User", "port"), "");
  EXPECT_EQ(ini.ReadString("SMTP", "port"), "465");
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToCase) {
  ini.WriteString("Email", "MyMail", "6A");
  EXPECT_EQ(ini.ReadString("email", "myMail"), "6A");
  ini.WriteString("EMAIL", "mymail", "6B");
  EXPECT_EQ(ini.ReadString("Email", "MyMail"), "6B");
  // One entry, keeping the spelling it was first written with.
  EXPECT_EQ(TempHome::Read(path), "[Email]\r\nMyMail=6B\r\n");
}

TEST_F(IniFileTest, EmptyWriteKeepsTheKey) {
  ini.WriteString("Datum", "Po", "Po");
  ini.WriteString("Datum", "Po", "");
  EXPECT_EQ(ini.ReadString("Datum", "Po"), "");
  EXPECT_EQ(TempHome::Read(path), "[Datum]\r\nPo=\r\n");
}

TEST_F(IniFileTest, NewKeysJoinTheirSectionAndOtherLinesStay) {
  TempHome::Write(path, "; kept\n[A]\nx=1\n\n[B]\ny=2\n");
  ini.WriteString("A", "z", "3");
  ini.WriteString("C", "w", "4");
  EXPECT_EQ(TempHome::Read(path),
            "; kept\r\n[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
}

TEST_F(IniFileTest, PlainValuesComeBackAsWritten) {
  for (const std::string value : {" lead and trail ", "a=b=c", "; not a comment", "[x]",
                                  "/home/p\xC5\x99\xC3\xADloha.pdf", "\xF0\x9F\x98\x80"}) {
    ini.WriteString("Predmet", "predmet", value);
    EXPECT_EQ(ini.ReadString("Predmet", "predmet"), value);
  }
}

TEST_F(IniFileTest, ValuesReadBackWholeUpToTheFileCap) {
  // Hundreds of recipients as hex: far past the 2047 characters a profile string once kept.
  for (const std::size_t length : {std::size_t{2047}, std::size_t{2048}, std::size_t{600000}}) {
    const std::string value = std::string(length - 4, 'x') + "\xF0\x9F\x98\x80";
    ini.WriteString("Prijemce", "komu", value);
    EXPECT_EQ(ini.ReadString("Prijemce", "komu"), value) << length;
  }
  // A write that would take the file past the cap changes nothing.
  const std::string before = TempHome::Read(path);
  try {
    ini.WriteString("Predmet", "predmet", std::string(IniFile::kMaxFileSize - 600000, 'p'));
    FAIL() << "a file past the cap was written";
  } catch (const EclError& e) {
    EXPECT_EQ(e.ErrorCode, EFBIG);
    EXPECT_NE(std::string(e.what()).find("[Predmet] predmet"), std::string::npos) << e.what();
  }
  EXPECT_EQ(TempHome::Read(path), before);
}

TEST_F(IniFileTest, LineBreaksInNamesOrValuesAreRefused) {
  EXPECT_THROW(ini.WriteString("S", "k", "a\r\nb"), EclError);
  EXPECT_THROW(ini.WriteString("S", "k", "a\nb"), EclError);
  EXPECT_THROW(ini.WriteString("S\n", "k", "v"), EclError);
  EXPECT_THROW(ini.WriteString("S", "k=", "v"), EclError);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(IniFileTest, DuplicateKeysFirstWins) {
  TempHome::Write(path, "[S]\nk=first\nk=second\n[s]\nk=third\n");
  EXPECT_EQ(ini.ReadString("S", "K"), "first");
  ini.WriteString("S", "k", "new");
  EXPECT_EQ(ini.ReadString("S", "k"), "new");
  EXPECT_NE(TempHome::Read(path).find("k=second"), std::string::npos);
}

TEST_F(IniFileTest, ForeignContentNeverBreaksReading) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::string junk(static_cast<std::size_t>(rng() % 4096), '\0');
    for (char& c : junk)
      c = static_cast<char>(rng());
    if (round % 2)
      junk = "[S]\nk=" + junk;
    TempHome::Write(path, junk);
    const std::string v = ini.ReadString("S", "k");
    EXPECT_LE(v.size(), 3 * junk.size());  // malformed bytes become U+FFFD
    ini.WriteString("S", "other", "1");
    EXPECT_EQ(ini.ReadString("S", "other"), "1");
  }
}

TEST_F(IniFileTest, NulBytesAndInvalidUtf8AreRead) {
  TempHome::Write(path, std::string("[S]\nk=a\0b\nu=\xFF\xC3\xA9\n", 16));
  EXPECT_EQ(ini.ReadString("S", "k"), std::string("a\0b", 3));
  EXPECT_EQ(ini.ReadString("S", "u"), "\xEF\xBF\xBD\xC3\xA9");
}

TEST_F(IniFileTest, FilesOverOneMebibyteAreRefused) {
  TempHome::Write(path, "[S]\nk=v\n" + std::string(IniFile::kMaxFileSize, ';'));
  try {
    ini.ReadString("S", "k");
    FAIL() << "a file over 1 MiB must be refused";
  } catch (const EclError& e) {
    EXPECT_NE(std::string(e.what()).find("1 MiB"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  EXPECT_THROW(ini.WriteString("S", "k", "x"), EclError);
}

TEST_F(IniFileTest, WrittenFileIsOwnerOnlyAndReplacedWhole) {
  ini.WriteString("Heslo", "pass", "7365637265");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // No temporary files are left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, SymbolicLinkIsNotWrittenThrough) {
  const fs::path target = folder / "elsewhere";
  TempHome::Write(target, "[S]\nk=1\n");
  fs::create_symlink(target, path);
  EXPECT_THROW(ini.WriteString("S", "k", "2"), EclError);
  EXPECT_EQ(TempHome::Read(target), "[S]\nk=1\n");
}

TEST_F(IniFileTest, WriteIntoMissingFolderRaisesErrorNamingTheFile) {
  const IniFile lost((folder / "missing" / "setup.dat").string());
  try {
    lost.WriteString("S", "k", "v");
    FAIL();
  } catch (const EclError& e) {
    EXPECT_NE(std::string(e.what()).find("missing/setup.dat"), std::string::npos) << e.what();
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
  EXPECT_EQ(lost.ReadString("S", "k"), "");
}

}  // namespace
