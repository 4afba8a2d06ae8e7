// Missed sends with the tick's clock replaced: a jump of the clock over a send minute of a
// send day (the computer slept) gives one history record and one balloon naming the send,
// and nothing is sent; other jumps give neither; a start after the computer was off over a
// send minute reports it the same way.
#include <gtest/gtest.h>

#include "AppFixture.h"
#include "app/HistoryWindow.h"
#include "app/MissedSends.h"
#include "app/SendHistory.h"
#include "app/SendSlots.h"

namespace {

using schedule::LocalDateTime;
using std::chrono::December;
using std::chrono::operator""y;

// Monday 7 December 2026; the schedule sends on Mondays at 08:00 until 31.12.2027.
LocalDateTime At(int day, int hour, int minute) {
  return {2026y / December / day, {hour, minute, 0}};
}

struct MissedRow {
  std::string name;
  LocalDateTime previous;
  LocalDateTime now;
  std::string missed;  // the named send, empty for none
  std::string expiry = "31.12.2027";
  bool servedLate = false;  // a tick that merely ran late serves the minute it stepped over
};

void PrintTo(const MissedRow& row, std::ostream* os) {
  *os << row.name;
}

class MissedSend : public AppFixture, public testing::WithParamInterface<MissedRow> {
 protected:
  void SetUp() override {
    settings::EnsureDataFolder();
    Ini().WriteString("Cas", "cas", "08:00:00");
    Ini().WriteString("Do", "datm", GetParam().expiry);
    Ini().WriteString("Datum", "Po", "Po");
    Ini().WriteString("Predmet", "predmet", "Přehled");
    settings::WriteSetting(Ini(), settings::kRecipientsKey, "a@x.cz, b@x.cz");
  }

  void Check() {
    const MissedRow& row = GetParam();
    const auto events = history::ReadLast(settings::DataFolder(), 10);
    EXPECT_EQ(missed::StampText(*missed::ReadLastTick()), missed::StampText(row.now));
    if (row.servedLate) {
      // The send is attempted (and fails: there is no server); nothing is named as missed.
      ASSERT_FALSE(balloons.empty());
      EXPECT_EQ(balloons[0].text, kNoticeText);
      for (const auto& e : events)
        EXPECT_NE(e.kind, "zmeškané odeslání");
      EXPECT_TRUE(sendslots::Read().served.has_value());
      return;
    }
    ASSERT_TRUE(messages.empty()) << messages.front().second.toStdString();
    if (row.missed.empty()) {
      EXPECT_TRUE(events.empty());
      EXPECT_TRUE(balloons.empty());
      return;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].when, row.missed + ":00");
    EXPECT_EQ(events[0].kind, "zmeškané odeslání");
    EXPECT_EQ(events[0].result, "neodesláno");
    EXPECT_EQ(events[0].recipients, 2);
    EXPECT_EQ(events[0].subject, "Přehled");
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_NE(balloons[0].text.toStdString().find("Naplánované odeslání " + row.missed + " "),
              std::string::npos)
        << balloons[0].text.toStdString();
  }
};

// No send is attempted but in the late row: the setup window's sending raises an error box
// (there is no server), and Check requires none elsewhere.
TEST_P(MissedSend, ByTick) {
  missed::WriteLastTick(GetParam().previous);
  now = GetParam().now;
  dialogs::Guarded([this] { main->Timer1Timer(); });
  Check();
}

TEST_P(MissedSend, AtStart) {
  missed::WriteLastTick(GetParam().previous);
  now = GetParam().now;
  main->FormShow();
  EXPECT_TRUE(main->Timer1->isActive());
  Check();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MissedSend,
    testing::Values(
        MissedRow{"SleptOverTheSendMinute", At(7, 7, 30), At(7, 9, 15), "07.12.2026 08:00"},
        MissedRow{"OffOverTheWeekend", At(4, 17, 0), At(8, 7, 0), "07.12.2026 08:00"},
        MissedRow{"OffForWeeksNamesTheLatest", At(2, 17, 0), At(22, 7, 0), "21.12.2026 08:00"},
        MissedRow{"JustOverTwoMinutes", At(7, 7, 58), At(7, 8, 1), "07.12.2026 08:00"},
        MissedRow{"TwoMinutesIsNoGap", At(7, 7, 59), At(7, 8, 1), "", "31.12.2027", true},
        MissedRow{"JumpOnAnotherDay", At(8, 7, 0), At(8, 9, 0), ""},
        MissedRow{"JumpOverNoSendMinute", At(7, 8, 30), At(7, 17, 0), ""},
        MissedRow{"PreviousTickWasTheSendMinute", At(7, 8, 0), At(7, 12, 0), ""},
        MissedRow{"AfterTheExpiry", At(4, 17, 0), At(8, 7, 0), "", "06.12.2026"}),
    [](const auto& info) { return info.param.name; });

}  // namespace

namespace {

using HistoryMenu = AppFixture;

// The menu item opens the read-only table with the latest 100 events, newest first, and
// the tooltip tells the last one.
TEST_F(HistoryMenu, OpensTheLatestEventsNewestFirst) {
  settings::EnsureDataFolder();
  for (int i = 1; i <= 105; ++i)
    history::Append(settings::DataFolder(), {"07.12.2026 08:00:00", "naplánované odeslání", "OK", i,
                                             "s" + std::to_string(i)});
  main->historie->trigger();
  ASSERT_TRUE(messages.empty());
  ASSERT_TRUE(main->historyWindow);
  EXPECT_TRUE(main->historyWindow->isVisible());
  const QTableWidget* table = main->historyWindow->table;
  ASSERT_EQ(table->rowCount(), 100);
  EXPECT_EQ(table->item(0, 3)->text(), QStringLiteral("105"));
  EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("s105"));
  EXPECT_EQ(table->item(99, 3)->text(), QStringLiteral("6"));
  EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);

  now = At(7, 9, 0);
  main->RefreshToolTip();
  EXPECT_EQ(main->tray->toolTip(), QStringLiteral("Kadenza – poslední odeslání 07.12.2026 08:00: "
                                                  "OK; odesílání není nastaveno"));
}

}  // namespace
