#include "app/Autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "core/Error.h"

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
                                         TitleCase{"Kadenza", "Kadenza"}));

TEST(Autostart, EntryPointsToTheExecutable) {
  EXPECT_EQ(autostart::DesktopEntry("Kadenza", "/opt/kadenza/bin/kadenza"),
            "[Desktop Entry]\nType=Application\nName=Kadenza\n"
            "Comment=Odesílá připravený e-mail podle nastaveného rozvrhu\n"
            "Exec=/opt/kadenza/bin/kadenza\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_NE(
      autostart::DesktopEntry("K", "/k", "/home/a/ikona.png").find("\nIcon=/home/a/ikona.png\n"),
      std::string::npos);
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

}  // namespace
