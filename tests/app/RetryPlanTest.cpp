#include "app/RetryPlan.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace {

using retry::LocalTime;
using std::chrono::minutes;
using std::chrono::seconds;

// 2026-12-07 08:00 local, a Monday's send minute.
const LocalTime kSend =
    std::chrono::local_days(std::chrono::year(2026) / 12 / 7) + std::chrono::hours(8);

// One row: attempts made, the failed attempt's time and the next slot as offsets from the send
// minute, and the expected next attempt (offset) or nothing.
struct PlanCase {
  std::string name;
  int attemptsMade;
  seconds failedAt;
  std::optional<minutes> nextSlot;
  std::optional<seconds> expected;
};

void PrintTo(const PlanCase& row, std::ostream* os) {
  *os << row.name;
}

class RetryPlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(RetryPlanTable, NextAttempt) {
  const PlanCase& c = GetParam();
  std::optional<LocalTime> slot;
  if (c.nextSlot)
    slot = kSend + *c.nextSlot;
  const auto next = retry::NextAttempt(kSend, c.attemptsMade, kSend + c.failedAt, slot);
  if (!c.expected) {
    EXPECT_FALSE(next.has_value());
    return;
  }
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ((*next - kSend).count(), c.expected->count());
}

const PlanCase kCases[] = {
    {"FirstRetryAfterAMinute", 1, seconds(10), std::nullopt, seconds(70)},
    {"SecondAfterTwo", 2, seconds(75), std::nullopt, seconds(195)},
    {"ThirdAfterFive", 3, minutes(3), std::nullopt, minutes(8)},
    {"FourthAfterTen", 4, minutes(8), std::nullopt, minutes(18)},
    {"FifthAfterFifteen", 5, minutes(18), std::nullopt, minutes(33)},
    {"SixthAfterThirty", 6, minutes(33), std::nullopt, minutes(63)},
    {"ThenEveryThirty", 7, minutes(63), std::nullopt, minutes(93)},
    {"LongAttemptDelaysTheNext", 2, minutes(4), std::nullopt, minutes(6)},
    {"LastOneAtTheWindowsEnd", 8, minutes(90), std::nullopt, minutes(120)},
    {"WindowEnded", 8, minutes(93), std::nullopt, std::nullopt},
    {"NextSlotInsideTheWindow", 6, minutes(33), minutes(60), std::nullopt},
    {"NextSlotAfterTheAttempt", 5, minutes(18), minutes(60), minutes(33)},
    {"NextSlotAtTheAttemptMinute", 1, seconds(0), minutes(1), std::nullopt},
    {"NoAttemptCountedYet", 0, seconds(0), std::nullopt, minutes(1)},
};

INSTANTIATE_TEST_SUITE_P(Rows, RetryPlanTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
