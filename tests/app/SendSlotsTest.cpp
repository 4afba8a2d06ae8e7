#include "app/SendSlots.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempHome.h"
#include "app/MissedSends.h"
#include "core/Error.h"

namespace {

using schedule::LocalDateTime;
using std::chrono::December;
using std::chrono::operator""y;

LocalDateTime At(int day, int hour, int minute) {
  return {2026y / December / day, {hour, minute, 0}};
}

TEST(SendSlots, LedgerReadsBackWhatWasWritten) {
  sendslots::Ledger ledger;
  ledger.served = At(7, 8, 0);
  ledger.attempts.push_back({4242,
                             987654,
                             "b0f1-boot",
                             {"07.12.2026 08:00:03", "--send-now", "probíhá", 2, "A\tB\r\nC"}});
  ledger.retry =
      retry::Pending{At(7, 8, 0), 2, retry::LocalOf(At(7, 8, 3)), retry::LocalOf(At(7, 8, 0))};
  const std::string text = sendslots::Format(ledger);
  EXPECT_NE(text.find("\nretry\t07.12.2026 08:00\t2\t07.12.2026 08:03\t07.12.2026 08:00\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "served\t07.12.2026 08:00\n");
  const sendslots::Ledger back = sendslots::Parse(text);
  ASSERT_TRUE(back.served);
  EXPECT_EQ(missed::MinuteText(*back.served), "07.12.2026 08:00");
  EXPECT_EQ(back.attempts, ledger.attempts);
  ASSERT_TRUE(back.retry);
  EXPECT_EQ(missed::MinuteText(back.retry->slot), "07.12.2026 08:00");
  EXPECT_EQ(back.retry->attempts, 2);
  EXPECT_EQ(back.retry->next, retry::LocalOf(At(7, 8, 3)));
  EXPECT_EQ(back.retry->from, retry::LocalOf(At(7, 8, 0)));
  // Lines of another form, a damaged slot, attempt or retry, are passed over.
  const sendslots::Ledger damaged =
      sendslots::Parse("served\t32.12.2026 08:00\nattempt\tx\t1\tb\t" +
                       history::FormatLine(ledger.attempts[0].event) +
                       "retry\t07.12.2026 08:00\tx\t07.12.2026 08:03\t07.12.2026 08:00\njunk\n");
  EXPECT_FALSE(damaged.served);
  EXPECT_TRUE(damaged.attempts.empty());
  EXPECT_FALSE(damaged.retry);
}

struct ServedRow {
  std::string name;
  std::optional<LocalDateTime> served;
  LocalDateTime slot;
  LocalDateTime now;
  bool want;
};

void PrintTo(const ServedRow& row, std::ostream* os) {
  *os << row.name;
}

class SendSlotServed : public testing::TestWithParam<ServedRow> {};

TEST_P(SendSlotServed, Answers) {
  sendslots::Ledger ledger;
  ledger.served = GetParam().served;
  EXPECT_EQ(sendslots::IsServed(ledger, GetParam().slot, GetParam().now), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SendSlotServed,
    testing::Values(
        ServedRow{"NothingServedYet", std::nullopt, At(7, 8, 0), At(7, 8, 0), false},
        ServedRow{"TheServedSlot", At(7, 8, 0), At(7, 8, 0), At(7, 8, 0), true},
        ServedRow{"AnEarlierSlot", At(7, 8, 0), At(7, 7, 59), At(7, 8, 30), true},
        ServedRow{"TheNextMinute", At(7, 8, 0), At(7, 8, 1), At(7, 8, 1), false},
        ServedRow{"NextWeek", At(7, 8, 0), At(14, 8, 0), At(14, 8, 0), false},
        ServedRow{"ServedAWeekAheadStillHolds", At(14, 8, 0), At(7, 8, 0), At(7, 8, 0), true},
        ServedRow{"ServedFarAheadIsAWrongClock", At(15, 8, 1), At(7, 8, 0), At(7, 8, 0), false}),
    [](const auto& info) { return info.param.name; });

TEST(SendSlots, ClaimServesASlotOnce) {
  TempHome home;
  EXPECT_TRUE(sendslots::Claim(At(7, 8, 0), At(7, 8, 0)));
  EXPECT_FALSE(sendslots::Claim(At(7, 8, 0), At(7, 8, 0)));
  EXPECT_FALSE(sendslots::Claim(At(7, 7, 30), At(7, 7, 30)));
  EXPECT_TRUE(sendslots::Claim(At(14, 8, 0), At(14, 8, 0)));
  EXPECT_EQ(missed::MinuteText(*sendslots::Read().served), "14.12.2026 08:00");
  const std::filesystem::path file = home.DataFolder() / "odesilani.dat";
  EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(SendSlots, OnlyAttemptsOfEndedProcessesAreOrphans) {
  TempHome home;
  const history::Event event{"07.12.2026 08:00:00", "naplánované odeslání", "probíhá", 1, "s"};
  const sendslots::Attempt own = sendslots::OwnAttempt(event);
  ASSERT_NE(own.processStart, 0u);
  ASSERT_FALSE(own.bootId.empty());
  // A process that has ended, one of an earlier boot, and one whose number a later process
  // got: all three are gone.
  const pid_t child = ::fork();
  if (child == 0)
    ::_exit(0);
  ::waitpid(child, nullptr, 0);
  sendslots::Attempt ended = own, earlierBoot = own, reused = own;
  ended.pid = child;
  earlierBoot.bootId = "another-boot";
  reused.processStart = own.processStart + 1;
  for (const sendslots::Attempt& a : {own, ended, earlierBoot, reused})
    sendslots::AddAttempt(a);
  EXPECT_TRUE(sendslots::IsRunning(own));
  const auto orphans = sendslots::TakeOrphans();
  EXPECT_EQ(orphans, (std::vector<sendslots::Attempt>{ended, earlierBoot, reused}));
  EXPECT_EQ(sendslots::Read().attempts, std::vector<sendslots::Attempt>{own});
  sendslots::RemoveAttempt(own);
  EXPECT_TRUE(sendslots::Read().attempts.empty());
}

}  // namespace
