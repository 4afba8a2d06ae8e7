#include "app/Schedule.h"

#include <gtest/gtest.h>

#include <map>

#include "TempHome.h"
#include "app/IniFile.h"
#include "core/Error.h"

namespace {

using std::chrono::days;
using std::chrono::December;
using std::chrono::February;
using std::chrono::March;
using std::chrono::Monday;
using std::chrono::sys_days;
using std::chrono::year_month_day;
using std::chrono::operator""y;
using schedule::TimeOfDay;

// 2026-12-07 is a Monday.
constexpr year_month_day kMonday = 2026y / December / 7;

year_month_day Plus(year_month_day d, int days) {
  return year_month_day(sys_days(d) + std::chrono::days(days));
}

TEST(Schedule, WeekdayNumbersAndKeys) {
  const char* keys[] = {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"};
  const int numbers[] = {2, 3, 4, 5, 6, 7, 1};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(schedule::DayOfWeek(Plus(kMonday, i)), numbers[i]);
    EXPECT_EQ(schedule::DayKey(numbers[i]), keys[i]);
  }
}

// One row: which "Datum" keys hold their own text, the day, the stored time, the clock time.
struct SendCase {
  std::string name;
  std::vector<std::string> selected;
  int dayOffset;  // from Monday
  std::string stored;
  TimeOfDay now;
  bool sends;
};
void PrintTo(const SendCase& c, std::ostream* os) {
  *os << c.name;
}

class SendMinuteTest : public testing::TestWithParam<SendCase> {};

TEST_P(SendMinuteTest, Decides) {
  TempHome home;
  std::filesystem::create_directories(home.DataFolder());
  const IniFile ini((home.DataFolder() / "setup.dat").string());
  for (const char* key : {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"}) {
    const bool on = std::find(GetParam().selected.begin(), GetParam().selected.end(), key) !=
                    GetParam().selected.end();
    ini.WriteString("Datum", key, on ? key : "");
  }
  const auto day = Plus(kMonday, GetParam().dayOffset);
  const bool sends =
      schedule::IsSendDay(ini, day) &&
      schedule::IsSendMinute(GetParam().now, schedule::ParseTimeText(GetParam().stored));
  EXPECT_EQ(sends, GetParam().sends);
}

const std::vector<std::string> kWorkdays = {"Po", "Ut", "St", "Ct", "Pa"};
const std::vector<std::string> kAll = {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"};

INSTANTIATE_TEST_SUITE_P(
    Table, SendMinuteTest,
    testing::Values(
        SendCase{"WorkdaysMonday", kWorkdays, 0, "08:00:00", {8, 0, 5}, true},
        SendCase{"WorkdaysFriday", kWorkdays, 4, "08:00:00", {8, 0, 59}, true},
        SendCase{"WorkdaysSaturday", kWorkdays, 5, "08:00:00", {8, 0, 0}, false},
        SendCase{"WorkdaysSunday", kWorkdays, 6, "08:00:00", {8, 0, 0}, false},
        SendCase{"WorkdaysMinuteLate", kWorkdays, 0, "08:00:00", {8, 1, 0}, false},
        SendCase{"WorkdaysHourOff", kWorkdays, 0, "08:00:00", {20, 0, 0}, false},
        SendCase{"EveryDaySunday", kAll, 6, "23:59:00", {23, 59, 30}, true},
        SendCase{"MondayWednesdayOnWednesday", {"Po", "St"}, 2, "14:30:00", {14, 30, 0}, true},
        SendCase{"MondayWednesdayOnTuesday", {"Po", "St"}, 1, "14:30:00", {14, 30, 0}, false},
        SendCase{"NothingSelected", {}, 0, "08:00:00", {8, 0, 0}, false},
        SendCase{"StoredSecondsIgnoredEarly", {"Po"}, 0, "08:00:40", {8, 0, 0}, true},
        SendCase{"StoredSecondsIgnoredLate", {"Po"}, 0, "08:00:40", {8, 0, 59}, true},
        SendCase{"StoredSecondsNextMinute", {"Po"}, 0, "08:00:40", {8, 1, 0}, false},
        SendCase{"SingleDigitHour", {"Po"}, 0, "8:05", {8, 5, 0}, true},
        SendCase{"Midnight", {"Ut"}, 1, "00:00:00", {0, 0, 0}, true}),
    [](const auto& info) { return info.param.name; });

TEST(Schedule, DayKeyMustHoldExactlyItsOwnText) {
  TempHome home;
  std::filesystem::create_directories(home.DataFolder());
  const IniFile ini((home.DataFolder() / "setup.dat").string());
  for (const char* value : {"po", "Po ", "1", "Ut"}) {
    ini.WriteString("Datum", "Po", value);
    EXPECT_FALSE(schedule::IsSendDay(ini, kMonday)) << value;
  }
  ini.WriteString("datum", "PO", "Po");
  EXPECT_TRUE(schedule::IsSendDay(ini, kMonday));
}

TEST(Schedule, ExpiryComparesCalendarDays) {
  EXPECT_FALSE(schedule::IsExpired(kMonday, Plus(kMonday, 1)));
  EXPECT_TRUE(schedule::IsExpired(kMonday, kMonday));
  EXPECT_TRUE(schedule::IsExpired(Plus(kMonday, 2), kMonday));
}

TEST(Schedule, ParsesWhatTheSetupWindowStores) {
  EXPECT_EQ(schedule::ParseTimeText("00:00:00"), (TimeOfDay{0, 0, 0}));
  EXPECT_EQ(schedule::ParseTimeText(" 23:59:59 "), (TimeOfDay{23, 59, 59}));
  EXPECT_EQ(schedule::ParseDateText("12.12.2012"), 2012y / December / 12);
  EXPECT_EQ(schedule::ParseDateText("1.2.2027"), 2027y / February / 1);
  EXPECT_EQ(schedule::ParseDateText("29.02.2028 10:00:00"), 2028y / February / 29);
  EXPECT_EQ(schedule::FormatDateText(2026y / March / 5), "05.03.2026");
  EXPECT_EQ(schedule::FormatTimeText({7, 5, 9}), "07:05:09");
}

TEST(Schedule, RejectsWhatIsNotADateOrTime) {
  for (const char* bad :
       {"", "24:00:00", "12:60", "12", "12:5", "ab:cd", "12:00:00x", "12:00:61"}) {
    EXPECT_THROW(schedule::ParseTimeText(bad), EConvertError) << bad;
  }
  for (const char* bad :
       {"", "31.02.2026", "12/12/2012", "12.12.12", "  .  .    ", "1.13.2026", "12.12.2012x"}) {
    EXPECT_THROW(schedule::ParseDateText(bad), EConvertError) << bad;
  }
  try {
    schedule::ParseDateText("");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid date");
  }
}

TEST(Schedule, StoredScheduleConvertsTheDateFirst) {
  TempHome home;
  std::filesystem::create_directories(home.DataFolder());
  const IniFile ini((home.DataFolder() / "setup.dat").string());
  // No settings at all: the empty expiry date is the first conversion to fail.
  try {
    schedule::ReadStoredSchedule(ini);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid date");
  }
  ini.WriteString("Do", "datm", "24.12.2026");
  EXPECT_THROW(schedule::ReadStoredSchedule(ini), EConvertError);
  ini.WriteString("Cas", "cas", "08:15:00");
  const auto s = schedule::ReadStoredSchedule(ini);
  EXPECT_EQ(s.expiry, 2026y / December / 24);
  EXPECT_EQ(s.sendTime, (TimeOfDay{8, 15, 0}));
}

}  // namespace
