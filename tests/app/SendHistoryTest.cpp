// The history file on its own: lines that read back as written, the owner-only file that
// refuses links and FIFOs, the new file at the size cap with one old file kept, and the
// newest-first reading across both files, and the last send found past tests and notes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempHome.h"
#include "app/SendHistory.h"
#include "core/Error.h"

namespace {

namespace fs = std::filesystem;
using history::Event;

struct LineRow {
  std::string name;
  Event event;
  std::string line;
};

void PrintTo(const LineRow& row, std::ostream* os) {
  *os << row.name;
}

class HistoryLine : public testing::TestWithParam<LineRow> {};

TEST_P(HistoryLine, FormatsAndReadsBack) {
  const LineRow& row = GetParam();
  EXPECT_EQ(history::FormatLine(row.event), row.line);
  Event back;
  ASSERT_TRUE(history::ParseLine(row.line, back));
  EXPECT_EQ(back, row.event);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HistoryLine,
    testing::Values(LineRow{"Ok",
                            {"07.12.2026 08:00:00", "naplánované odeslání", "OK", 2,
                             "Týdenní přehled"},
                            "07.12.2026 08:00:00\tnaplánované odeslání\tOK\t2\tTýdenní přehled\n"},
                    LineRow{"TabsAndBreaksEscaped",
                            {"07.12.2026 08:00:00", "--send-now", "535 a\r\nb (535)", 0, "a\tb\\c"},
                            "07.12.2026 08:00:00\t--send-now\t535 a\\r\\nb (535)\t0\ta\\tb\\\\c\n"},
                    LineRow{"EmptySubject",
                            {"01.01.2027 00:00:00", "testovací zpráva", "OK", 1, ""},
                            "01.01.2027 00:00:00\ttestovací zpráva\tOK\t1\t\n"}),
    [](const auto& info) { return info.param.name; });

struct BadLineRow {
  std::string name;
  std::string line;
};

void PrintTo(const BadLineRow& row, std::ostream* os) {
  *os << row.name;
}
class HistoryBadLine : public testing::TestWithParam<BadLineRow> {};
TEST_P(HistoryBadLine, IsSkipped) {
  Event e;
  EXPECT_FALSE(history::ParseLine(GetParam().line, e));
}
INSTANTIATE_TEST_SUITE_P(Rows, HistoryBadLine,
                         testing::Values(BadLineRow{"Empty", ""},
                                         BadLineRow{"TooFewFields", "a\tb\tc\t1"},
                                         BadLineRow{"CountNotANumber", "a\tb\tc\tx\td"},
                                         BadLineRow{"TooManyFields", "a\tb\tc\t1\td\te"}),
                         [](const auto& info) { return info.param.name; });

TEST(History, CountsRecipients) {
  EXPECT_EQ(history::CountRecipients(""), 0);
  EXPECT_EQ(history::CountRecipients("a@x.cz"), 1);
  EXPECT_EQ(history::CountRecipients("a@x.cz, b@x.cz;c@x.cz\r\nd@x.cz\r\n ,"), 4);
  EXPECT_EQ(history::CountRecipients("\"Novák, Jan\" <jan@x.cz>, b@x.cz"), 2);
}

Event Numbered(int n, std::string subject = "s") {
  return {"07.12.2026 08:00:00", "testovací zpráva", "OK", n, std::move(subject)};
}

class HistoryFile : public testing::Test {
 protected:
  HistoryFile() { fs::create_directories(folder); }
  TempHome home;
  fs::path folder = home.Root() / "data";
  fs::path file = folder / "historie.log";
};

TEST_F(HistoryFile, OwnerOnlyAppendedAndReadNewestFirst) {
  EXPECT_TRUE(history::ReadLast(folder, 5).empty());
  for (int i = 1; i <= 3; ++i)
    history::Append(folder, Numbered(i));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const auto events = history::ReadLast(folder, 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].recipients, 3);
  EXPECT_EQ(events[1].recipients, 2);

  // A file left readable by others is tightened at the next append.
  fs::permissions(file, fs::perms::others_read, fs::perm_options::add);
  history::Append(folder, Numbered(4));
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(HistoryFile, RefusesLinkAndFifo) {
  TempHome::Write(home.Root() / "elsewhere", "x");
  fs::create_symlink(home.Root() / "elsewhere", file);
  EXPECT_THROW(history::Append(folder, Numbered(1)), EclError);
  EXPECT_EQ(TempHome::Read(home.Root() / "elsewhere"), "x");
  fs::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_THROW(history::Append(folder, Numbered(1)), EclError);  // does not hang
}

TEST_F(HistoryFile, StartsANewFileAtTheCapKeepingOneOld) {
  const std::size_t lineSize = history::FormatLine(Numbered(1, std::string(80, 'x'))).size();
  const std::size_t cap = lineSize * 3;
  for (int i = 1; i <= 7; ++i)
    history::Append(folder, Numbered(i, std::string(80, 'x')), cap);
  // 1-3 went first into the old file, 4-6 replaced it, 7 started the current one.
  EXPECT_EQ(fs::file_size(file), lineSize);
  EXPECT_EQ(fs::file_size(folder / "historie.log.1"), cap);
  EXPECT_FALSE(fs::exists(folder / "historie.log.2"));
  const auto events = history::ReadLast(folder, 10);
  ASSERT_EQ(events.size(), 4u);
  for (std::size_t i = 0; i < events.size(); ++i)
    EXPECT_EQ(events[i].recipients, 7 - static_cast<int>(i));
  struct stat st {};
  ASSERT_EQ(::stat((folder / "historie.log.1").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

struct LastSendRow {
  std::string name;
  std::vector<std::string> kinds;  // oldest first; event n is dated day n
  std::string expected;            // the date of the last send, empty for none
  std::size_t rotateAfter = 0;     // events that go into the kept old file first
};

void PrintTo(const LastSendRow& row, std::ostream* os) {
  *os << row.name;
}

class HistoryLastSend : public HistoryFile, public testing::WithParamInterface<LastSendRow> {};

// The tooltip's last send is the schedule's or a manual one, never a test or a note.
TEST_P(HistoryLastSend, SkipsWhatIsNoSend) {
  const LastSendRow& row = GetParam();
  const std::size_t lineSize =
      history::FormatLine({"01.12.2026 08:00:00", "naplánované odeslání", "OK", 1, "s"}).size();
  int day = 0;
  for (const std::string& kind : row.kinds) {
    ++day;
    const Event e{(day < 10 ? "0" : "") + std::to_string(day) + ".12.2026 08:00:00", kind, "OK", 1,
                  "s"};
    // A cap just below the next line starts a new file, keeping the one before as the old.
    const bool rotate =
        row.rotateAfter != 0 && static_cast<std::size_t>(day) == row.rotateAfter + 1;
    history::Append(folder, e, rotate ? lineSize : history::kMaxBytes);
  }
  const std::optional<Event> last = history::LastSend(folder);
  if (row.expected.empty()) {
    EXPECT_FALSE(last.has_value()) << last->when;
    return;
  }
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->when.substr(0, 10), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HistoryLastSend,
    testing::Values(
        LastSendRow{"NoHistory", {}, ""},
        LastSendRow{
            "TestAfterScheduled", {"naplánované odeslání", "testovací zpráva"}, "01.12.2026"},
        LastSendRow{"ManualIsASend",
                    {"naplánované odeslání", "--send-now", "testovací zpráva"},
                    "02.12.2026"},
        LastSendRow{"NotesAreNoSends",
                    {"naplánované odeslání", "zmeškané odeslání", "oznamovací oblast", "klíčenka"},
                    "01.12.2026"},
        LastSendRow{"OnlyTests", {"testovací zpráva", "testovací zpráva"}, ""},
        LastSendRow{"FoundInTheOldFile",
                    {"--send-now", "naplánované odeslání", "testovací zpráva", "testovací zpráva"},
                    "02.12.2026",
                    2}),
    [](const auto& info) { return info.param.name; });

}  // namespace
