#include "app/Autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "TempHome.h"
#include "core/Error.h"
#include "support/CaseName.h"

namespace {

struct TitleCase {
  std::string path;
  std::string title;
};
void PrintTo(const TitleCase& c, std::ostream* os) {
  *os << c.path;
}

class TitleTest : public testing::TestWithParam<TitleCase> {};
TEST_P(TitleTest, Derives) {
  EXPECT_EQ(autostart::ApplicationTitle(GetParam().path), GetParam().title);
}
INSTANTIATE_TEST_SUITE_P(Table, TitleTest,
                         testing::Values(TitleCase{"/opt/Kadenza.exe", "Kadenza"},
                                         TitleCase{"/opt/KADENZA.EXE", "Kadenza"},
                                         TitleCase{"/usr/bin/kadenza", "kadenza"},
                                         TitleCase{"/a.b/KaDenza.x.y", "Kadenza"},
                                         TitleCase{"Kadenza", "Kadenza"}),
                         testsupport::PrintedName());

TEST(Autostart, EntryPointsToTheExecutable) {
  EXPECT_EQ(autostart::DesktopEntry("Kadenza", "/opt/kadenza/bin/kadenza"),
            "[Desktop Entry]\nType=Application\nName=Kadenza\n"
            "Comment=Odesílá připravený e-mail podle nastaveného rozvrhu\n"
            "Exec=/opt/kadenza/bin/kadenza\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_NE(
      autostart::DesktopEntry("K", "/k", "/home/a/ikona.png").find("\nIcon=/home/a/ikona.png\n"),
      std::string::npos);
}

// Installed, the entry has its own name and the icon by the application id; the file is
// still named after the title.
TEST(Autostart, InstalledEntryNamesTheIconIdAndItsName) {
  TempHome home;
  autostart::WriteRunEntry("kadenza", "/usr/bin/kadenza", "cz.kadenza.Kadenza", "Kadenza");
  EXPECT_EQ(TempHome::Read(home.Root() / "config" / "autostart" / "kadenza.desktop"),
            "[Desktop Entry]\nType=Application\nName=Kadenza\n"
            "Comment=Odesílá připravený e-mail podle nastaveného rozvrhu\n"
            "Icon=cz.kadenza.Kadenza\nExec=/usr/bin/kadenza\nTerminal=false\n"
            "X-GNOME-Autostart-enabled=true\n");
  EXPECT_THROW(autostart::DesktopEntry("k", "/k", {}, "a\x01b"), EclError);
}

TEST(Autostart, ExecPathIsQuotedWhenItNeedsIt) {
  const std::string entry = autostart::DesktopEntry("K", "/home/a b/100%/$x\"y");
  EXPECT_NE(entry.find("Exec=\"/home/a b/100%%/\\\\$x\\\\\"y\"\n"), std::string::npos) << entry;
}

TEST(Autostart, WritesTheEntryOnEveryStartOverwritingTheOld) {
  TempHome home;
  autostart::WriteRunEntry("Kadenza", "/old/path");
  autostart::WriteRunEntry("Kadenza", "/usr/local/bin/kadenza");
  const auto file = home.Root() / "config" / "autostart" / "Kadenza.desktop";
  EXPECT_NE(TempHome::Read(file).find("Exec=/usr/local/bin/kadenza\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(Autostart, UnusableFolderGivesTheOpeningError) {
  TempHome home;
  TempHome::Write(home.Root() / "config", "a file where the folder should be");
  try {
    autostart::WriteRunEntry("Kadenza", "/usr/bin/kadenza");
    FAIL();
  } catch (const EclError& e) {
    EXPECT_STREQ(e.what(), "Chyba při otevírání klíče registrů.");
  }
}

// Program paths with characters that mean something in a desktop entry or a shell: the entry
// is written and read back by GLib, which must see one group and exactly the path.
class AutostartPath : public testing::TestWithParam<std::string> {};
TEST_P(AutostartPath, GLibReadsBackOneGroupAndThePath) {
  TempHome home;
  autostart::WriteRunEntry("Kadenza", GetParam());
  const auto file = home.Root() / "config" / "autostart" / "Kadenza.desktop";
  const std::string cmd = "/usr/bin/python3 " APP_TEST_DIR "/desktop_entry_peer.py '" +
                          file.string() + "' > '" + (home.Root() / "peer.out").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << TempHome::Read(file);
  std::string hex;
  for (unsigned char c : GetParam()) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  EXPECT_EQ(TempHome::Read(home.Root() / "peer.out"), "Desktop Entry\n" + hex + "\n")
      << TempHome::Read(file);
}
INSTANTIATE_TEST_SUITE_P(Table, AutostartPath,
                         testing::Values("/opt/kadenza", "/home/a b/kadenza",
                                         "/tmp/line\nbreak/kadenza", "/tmp/x\n[Other]\nExec=evil",
                                         "/tmp/cr\r\nlf", "/tmp/tab\there", "/tmp/100%/$HOME/`x`",
                                         "/tmp/q\"uo'te\\back", "/tmp/\xC4\x8D\\n"),
                         testsupport::PrintedName());

TEST(Autostart, PathWithOtherControlCharacterIsRefused) {
  for (const char* path : {"/tmp/a\x01b", "/tmp/\x1b[31m", "/tmp/del\x7F"}) {
    EXPECT_THROW(autostart::DesktopEntry("Kadenza", path), EclError) << path;
  }
}

}  // namespace
