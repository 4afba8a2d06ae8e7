#include "mail/clUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <set>
#include <string>

#include "core/Error.h"
#include "core/ScopeGuard.h"
#include "support/CaseName.h"
#include "support/ScopedEnv.h"

namespace {

// Runs a test in a fixed time zone given as a POSIX TZ rule (no zone database needed).
class InZone {
 public:
  explicit InZone(const char* tz) : tz_(testsupport::SetEnvForScope("TZ", tz)) { ::tzset(); }

 private:
  // Destroyed in reverse order: TZ is put back first, then the zone is read again.
  kz::ScopeGuard<void (*)()> rereadZone_{&::tzset};
  testsupport::ScopedEnv tz_;
};

constexpr const char* kPrague = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(TimeZoneBias, FixedZones) {
  {
    InZone z("UTC0");
    EXPECT_EQ(GetTimeZoneBias(), "+0000");
  }
  {
    InZone z("XXX-1");
    EXPECT_EQ(GetTimeZoneBias(), "+0100");
  }
  {
    InZone z("XXX+5");
    EXPECT_EQ(GetTimeZoneBias(), "-0500");
  }
  {
    InZone z("XXX-5:30");
    EXPECT_EQ(GetTimeZoneBias(), "+0530");
  }
}

TEST(FormatMailDate, Shape) {
  InZone z("XXX-1");
  EXPECT_EQ(FormatMailDate(kz::EncodeDateTime(2026, 12, 8, 2, 5, 7)),
            "Tue, 8 Dec 2026 02:05:07 +0100");
  EXPECT_EQ(FormatMailDate(kz::EncodeDateTime(2027, 1, 31, 23, 59, 59)),
            "Sun, 31 Jan 2027 23:59:59 +0100");
  EXPECT_EQ(FormatMailDate(kz::EncodeDateTime(2026, 12, 9, 0, 0, 0)),
            "Wed, 9 Dec 2026 00:00:00 +0100");
}

TEST(FormatMailDate, UsesTheOffsetOfTheDateItself) {
  InZone z(kPrague);
  EXPECT_EQ(FormatMailDate(kz::EncodeDateTime(2026, 1, 15, 12, 0, 0)),
            "Thu, 15 Jan 2026 12:00:00 +0100");
  EXPECT_EQ(FormatMailDate(kz::EncodeDateTime(2026, 7, 15, 12, 0, 0)),
            "Wed, 15 Jul 2026 12:00:00 +0200");
  EXPECT_EQ(FormatMailDate(kz::Now()).substr(FormatMailDate(kz::Now()).size() - 5),
            GetTimeZoneBias());
}

struct DateRow {
  std::string text;
  int year, month, day, hour, minute, second;
};
void PrintTo(const DateRow& r, std::ostream* os) {
  *os << r.text;
}

class ParseDate : public testing::TestWithParam<DateRow> {};
TEST_P(ParseDate, InUtc) {
  InZone z("UTC0");
  const DateRow& r = GetParam();
  const kz::DateTimeParts p = kz::DecodeDateTime(ParseMailDate(r.text));
  EXPECT_EQ(p.Year, r.year);
  EXPECT_EQ(p.Month, r.month);
  EXPECT_EQ(p.Day, r.day);
  EXPECT_EQ(p.Hour, r.hour);
  EXPECT_EQ(p.Minute, r.minute);
  EXPECT_EQ(p.Second, r.second);
}
INSTANTIATE_TEST_SUITE_P(
    All, ParseDate,
    testing::Values(DateRow{"Tue, 8 Dec 2026 02:05:07 +0100", 2026, 12, 8, 1, 5, 7},
                    DateRow{"8 Dec 2026 02:05:07 -0230", 2026, 12, 8, 4, 35, 7},
                    DateRow{"Mon, 1 jan 2024 23:30:00 -0100", 2024, 1, 2, 0, 30, 0},
                    DateRow{"1 Jan 25 10:00:00 +0000", 2025, 1, 1, 10, 0, 0},
                    DateRow{"1 Jan 00 10:00 +0000", 2000, 1, 1, 10, 0, 0},
                    DateRow{"1 Jan 49 10:00:00 +0000", 2049, 1, 1, 10, 0, 0},
                    DateRow{"1 Jan 50 10:00:00 +0000", 1950, 1, 1, 10, 0, 0},
                    DateRow{"1 Jan 99 10:00:00 +0000", 1999, 1, 1, 10, 0, 0},
                    DateRow{"1 Jan 125 10:00:00 +0000", 2025, 1, 1, 10, 0, 0},
                    DateRow{"8 Dec 2026 2:05:07 PM +0000", 2026, 12, 8, 14, 5, 7},
                    DateRow{"8 Dec 2026 12:05:07AM", 2026, 12, 8, 0, 5, 7},
                    DateRow{"8 Dec 2026 10:00:00 EST", 2026, 12, 8, 15, 0, 0},
                    DateRow{"8 Dec 2026 10:00:00 GMT (comment)", 2026, 12, 8, 10, 0, 0},
                    DateRow{"8 Dec 2026", 2026, 12, 8, 0, 0, 0}),
    testsupport::PrintedName());

TEST(ParseDate, ConvertsToLocalTime) {
  InZone z(kPrague);
  const kz::DateTimeParts summer =
      kz::DecodeDateTime(ParseMailDate("Wed, 15 Jul 2026 10:00:00 +0000"));
  EXPECT_EQ(summer.Hour, 12);
  const kz::DateTimeParts winter = kz::DecodeDateTime(ParseMailDate("15 Jan 2026 10:00:00 +0000"));
  EXPECT_EQ(winter.Hour, 11);
}

TEST(ParseDate, ReadsWhatFormatWrites) {
  InZone z(kPrague);
  for (TDateTime d :
       {kz::EncodeDateTime(2026, 1, 15, 9, 8, 7), kz::EncodeDateTime(2026, 7, 1, 23, 0, 1),
        kz::EncodeDateTime(1999, 12, 31, 0, 0, 0)}) {
    EXPECT_NEAR(ParseMailDate(FormatMailDate(d)), d, 1e-8) << FormatMailDate(d);
  }
}

TEST(ParseDate, MissingPartsAndErrors) {
  InZone z("UTC0");
  EXPECT_EQ(ParseMailDate("8 Dec"), 0);
  EXPECT_EQ(ParseMailDate(""), 0);
  EXPECT_THROW(ParseMailDate("xx Dec 2026"), EConvertError);
  EXPECT_THROW(ParseMailDate("8 Dec 2026 1x:00"), EConvertError);
  EXPECT_THROW(ParseMailDate("31 Feb 2026"), EConvertError);
  EXPECT_THROW(ParseMailDate("1 Feb 2026 25:00:00"), EConvertError);
  const kz::DateTimeParts p = kz::DecodeDateTime(ParseMailDate("8 Foo 2026"));
  EXPECT_EQ(p.Month, kz::DecodeDateTime(kz::Now()).Month);
}

TEST(Boundary, Shape) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string b = GenerateBoundary();
    ASSERT_EQ(b.rfind("Mark=_", 0), 0u);
    ASSERT_GT(b.size(), 7u);
    EXPECT_EQ(b.find_first_not_of("0123456789", 6), std::string::npos) << b;
    seen.insert(b);
  }
  EXPECT_GT(seen.size(), 1u);
}

TEST(DateTime, EncodeDecode) {
  EXPECT_EQ(kz::EncodeDateTime(1899, 12, 30), 0);
  EXPECT_EQ(kz::EncodeDateTime(1900, 1, 1), 2);
  EXPECT_EQ(kz::EncodeDateTime(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(kz::EncodeDateTime(2000, 1, 1, 18), 36526.75);
  const kz::DateTimeParts p = kz::DecodeDateTime(kz::EncodeDateTime(2024, 2, 29, 13, 14, 15, 16));
  EXPECT_EQ(p.Year, 2024);
  EXPECT_EQ(p.Month, 2);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 13);
  EXPECT_EQ(p.Minute, 14);
  EXPECT_EQ(p.Second, 15);
  EXPECT_EQ(p.Millisecond, 16);
  EXPECT_EQ(p.DayOfWeek, 5);  // Thursday
  EXPECT_EQ(kz::DecodeDateTime(kz::EncodeDateTime(2026, 12, 8)).DayOfWeek, 3);
  const kz::DateTimeParts before = kz::DecodeDateTime(-1.25);
  EXPECT_EQ(before.Day, 29);
  EXPECT_EQ(before.Hour, 6);
  EXPECT_EQ(kz::DaysInMonth(2100, 2), 28);
  EXPECT_EQ(kz::DaysInMonth(2000, 2), 29);
}

TEST(DateTime, TimeTRoundTrip) {
  InZone z(kPrague);
  const std::time_t t = 1'781'000'000;
  EXPECT_EQ(kz::DateTimeToTimeT(kz::DateTimeFromTimeT(t)), t);
  std::tm tm = kz::DateTimeToTm(kz::EncodeDateTime(2026, 7, 15, 12, 0, 0));
  EXPECT_EQ(tm.tm_hour, 12);
  EXPECT_EQ(kz::UtcOffsetSeconds(kz::EncodeDateTime(2026, 7, 15, 12)), 7200);
  EXPECT_EQ(kz::UtcOffsetSeconds(kz::EncodeDateTime(2026, 1, 15, 12)), 3600);
}

}  // namespace
