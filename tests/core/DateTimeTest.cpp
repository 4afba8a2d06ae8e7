// Day counts: the carry of a rounded time into the next day, days before the epoch (whose
// fraction still counts forward from midnight), and the one time-of-day reader.
#include "core/DateTime.h"
#include "support/CaseName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DayCountRow {
  const char* name;
  TDateTime value;
  int year, month, day, hour, minute, second, millisecond, dayOfWeek;
};
void PrintTo(const DayCountRow& row, std::ostream* os) {
  *os << row.name;
}

class DayCount : public testing::TestWithParam<DayCountRow> {};

TEST_P(DayCount, DecodesAndEncodesBack) {
  const DayCountRow& r = GetParam();
  const kz::DateTimeParts p = kz::DecodeDateTime(r.value);
  EXPECT_EQ(p.Year, r.year);
  EXPECT_EQ(p.Month, r.month);
  EXPECT_EQ(p.Day, r.day);
  EXPECT_EQ(p.Hour, r.hour);
  EXPECT_EQ(p.Minute, r.minute);
  EXPECT_EQ(p.Second, r.second);
  EXPECT_EQ(p.Millisecond, r.millisecond);
  EXPECT_EQ(p.DayOfWeek, r.dayOfWeek);
  EXPECT_NEAR(kz::EncodeDateTime(r.year, r.month, r.day, r.hour, r.minute, r.second, r.millisecond),
              r.value, 1e-8);  // within a millisecond
}

constexpr double kHalfMs = 0.5 / 86'400'000.0;

INSTANTIATE_TEST_SUITE_P(
    Rows, DayCount,
    testing::Values(
        DayCountRow{"Epoch", 0.0, 1899, 12, 30, 0, 0, 0, 0, 7},
        DayCountRow{"NoonNextDay", 1.5, 1899, 12, 31, 12, 0, 0, 0, 1},
        DayCountRow{"PreEpochFractionCountsForward", -1.25, 1899, 12, 29, 6, 0, 0, 0, 6},
        DayCountRow{"PreEpochWholeDay", -2.0, 1899, 12, 28, 0, 0, 0, 0, 5},
        DayCountRow{"LeapDay", 45351.75, 2024, 2, 29, 18, 0, 0, 0, 5},
        // Less than half a millisecond before midnight rounds up into the next day.
        DayCountRow{"RoundingCarriesIntoTheNextDay", 46082.0 - kHalfMs / 2, 2026, 3, 1, 0, 0, 0, 0,
                    1},
        DayCountRow{"PreEpochRoundingCarriesBackwards", -1.0 - (1.0 - kHalfMs / 2), 1899, 12, 28, 0,
                    0, 0, 0, 5},
        DayCountRow{"Milliseconds", 46082.0 + 1234.0 / 86'400'000.0, 2026, 3, 1, 0, 0, 1, 234, 1}),
    testsupport::RowName());

struct TimeRow {
  const char* text;
  bool ok;
  kz::TimeOfDay time;
  std::size_t end = 0;  // where reading stopped
  kz::TimeOfDayForm form = {};
};
void PrintTo(const TimeRow& row, std::ostream* os) {
  *os << '"' << row.text << '"';
}

class TimeOfDayText : public testing::TestWithParam<TimeRow> {};

TEST_P(TimeOfDayText, ReadsTheFormAndItsRanges) {
  const TimeRow& r = GetParam();
  kz::TimeOfDay t;
  std::size_t pos = 0;
  ASSERT_EQ(kz::ReadTimeOfDay(r.text, pos, t, r.form), r.ok);
  if (r.ok) {
    EXPECT_EQ(t, r.time);
    EXPECT_EQ(pos, r.end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TimeOfDayText,
    testing::Values(TimeRow{"8:05", true, {8, 5, 0}, 4}, TimeRow{"08:05:09", true, {8, 5, 9}, 8},
                    TimeRow{"23:59:59 x", true, {23, 59, 59}, 8}, TimeRow{"24:00", false, {}},
                    TimeRow{"12:60", false, {}}, TimeRow{"12:00:60", false, {}},
                    TimeRow{"12:5", false, {}}, TimeRow{"12", false, {}}, TimeRow{":30", false, {}},
                    TimeRow{"123:00", false, {}}, TimeRow{"12:5", true, {12, 5, 0}, 4, {1, 60}},
                    TimeRow{"23:59:60", true, {23, 59, 60}, 8, {1, 60}}),
    testsupport::PrintedName());

TEST(LocalClock, NowAgreesWithItsParts) {
  const kz::LocalTime local = kz::LocalNow();
  const kz::DateTimeParts now = kz::DecodeDateTime(kz::Now());
  EXPECT_EQ(now.Year, local.parts.Year);
  EXPECT_EQ(
      now.DayOfWeek,
      kz::DecodeDateTime(kz::EncodeDateTime(local.parts.Year, local.parts.Month, local.parts.Day))
          .DayOfWeek);
  EXPECT_GT(local.utcOffsetSeconds, -15 * 3600);
  EXPECT_LT(local.utcOffsetSeconds, 15 * 3600);
}

}  // namespace
