#include "app/CatchUp.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempHome.h"
#include "app/IniFile.h"
#include "core/Error.h"

namespace {

using schedule::LocalDateTime;
using std::chrono::December;
using std::chrono::November;
using std::chrono::operator""y;

// 2026-12-07 is a Monday; the send time is 08:00.
LocalDateTime At(std::chrono::year_month_day date, int hour, int minute) {
  return {date, {hour, minute, 0}};
}
constexpr auto kMon = 2026y / December / 7;
constexpr auto kTue = 2026y / December / 8;
constexpr auto kSun = 2026y / December / 6;
constexpr auto kMonBefore = 2026y / November / 30;
constexpr auto kSunTwoWeeks = 2026y / November / 29;

// One row: the chosen days, the last tick, now, the served slot, N, and what is named and
// whether it is sent.
struct CatchUpCase {
  std::string name;
  std::vector<std::string> days;
  LocalDateTime lastTick;
  LocalDateTime now;
  std::optional<LocalDateTime> served;
  int hours;
  std::optional<LocalDateTime> missed;
  bool sendNow;
};

void PrintTo(const CatchUpCase& row, std::ostream* os) {
  *os << row.name;
}

class CatchUpTable : public ::testing::TestWithParam<CatchUpCase> {};

TEST_P(CatchUpTable, Decide) {
  const CatchUpCase& c = GetParam();
  TempHome home;
  std::filesystem::create_directories(home.DataFolder());
  const IniFile ini((home.DataFolder() / "setup.dat").string());
  for (const auto& day : c.days)
    ini.WriteString("Datum", day, day);
  const schedule::StoredSchedule stored{2027y / December / 31, {8, 0, 0}};
  const sendslots::Ledger ledger{c.served, {}};

  const catchup::Decision d = catchup::Decide(ini, c.lastTick, c.now, stored, ledger, c.hours);
  ASSERT_EQ(d.missed.has_value(), c.missed.has_value());
  if (c.missed) {
    EXPECT_EQ(d.missed->date, c.missed->date);
    EXPECT_EQ(d.missed->time, c.missed->time);
  }
  EXPECT_EQ(d.sendNow, c.sendNow);
}

const CatchUpCase kCases[] = {
    {"ThreeHoursBackWithinFour",
     {"Po"},
     At(kMon, 7, 30),
     At(kMon, 11, 0),
     {},
     4,
     At(kMon, 8, 0),
     true},
    {"ThreeHoursBackBeyondTwoIsOnlyNamed",
     {"Po"},
     At(kMon, 7, 30),
     At(kMon, 11, 0),
     {},
     2,
     At(kMon, 8, 0),
     false},
    {"OffIsOnlyNamed", {"Po"}, At(kMon, 7, 30), At(kMon, 9, 0), {}, 0, At(kMon, 8, 0), false},
    {"ExactlyNHoursIsSent", {"Po"}, At(kMon, 7, 30), At(kMon, 12, 0), {}, 4, At(kMon, 8, 0), true},
    {"AMinuteOverNIsNamed", {"Po"}, At(kMon, 7, 30), At(kMon, 12, 1), {}, 4, At(kMon, 8, 0), false},
    {"TwoMissedMondaysSendTheLatest",
     {"Po"},
     At(kSunTwoWeeks, 20, 0),
     At(kMon, 9, 0),
     {},
     4,
     At(kMon, 8, 0),
     true},
    {"TwoMissedMondaysLatestTooOld",
     {"Po"},
     At(kSunTwoWeeks, 20, 0),
     At(kMon, 14, 0),
     {},
     4,
     At(kMon, 8, 0),
     false},
    {"ServedSlotIsNeitherNamedNorSent",
     {"Po"},
     At(kMon, 7, 30),
     At(kMon, 9, 0),
     At(kMon, 8, 0),
     4,
     {},
     false},
    {"AnEarlierServedSlotDoesNotHoldBack",
     {"Po"},
     At(kSun, 20, 0),
     At(kMon, 9, 0),
     At(kMonBefore, 8, 0),
     4,
     At(kMon, 8, 0),
     true},
    {"NoGapNoCatchUp", {"Po"}, At(kMon, 7, 59), At(kMon, 8, 1), {}, 4, {}, false},
    {"NotASendDay", {"Ut"}, At(kMon, 7, 30), At(kMon, 11, 0), {}, 4, {}, false},
    {"OvernightWithTwentyFour",
     {"Po"},
     At(kSun, 20, 0),
     At(kTue, 7, 0),
     {},
     24,
     At(kMon, 8, 0),
     true},
};

INSTANTIATE_TEST_SUITE_P(Rows, CatchUpTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(CatchUp, DelayOutOfRangeIsRefused) {
  TempHome home;
  const IniFile ini((home.DataFolder() / "setup.dat").string());
  const schedule::StoredSchedule stored{2027y / December / 31, {8, 0, 0}};
  for (int hours : {-1, 25})
    EXPECT_THROW(catchup::Decide(ini, At(kMon, 7, 30), At(kMon, 9, 0), stored, {}, hours),
                 EclError);
}

}  // namespace
