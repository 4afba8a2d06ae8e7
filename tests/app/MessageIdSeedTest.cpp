#include "app/MessageIdSeed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ostream>
#include <set>
#include <string>

#include "TempHome.h"

namespace {

using std::chrono::December;
using std::chrono::operator""y;

TEST(MessageIdSeed, CreatedOnceOwnerOnlyAndKept) {
  TempHome home;
  const std::string first = messageid::InstallationId();
  EXPECT_TRUE(messageid::IsInstallationId(first)) << first;
  const auto path = home.DataFolder() / std::string(messageid::kInstallationFile);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(TempHome::Read(path), first + "\n");
  EXPECT_EQ(messageid::InstallationId(), first);
  EXPECT_NE(messageid::NewInstallationId(), first);
}

TEST(MessageIdSeed, DamagedFileIsReplaced) {
  TempHome home;
  const auto path = home.DataFolder() / std::string(messageid::kInstallationFile);
  TempHome::Write(path, "0123456789abcdef0123456789ABCDEF\n");  // upper case: not ours
  const std::string id = messageid::InstallationId();
  EXPECT_TRUE(messageid::IsInstallationId(id));
  EXPECT_EQ(TempHome::Read(path), id + "\n");
}

// Starts racing for the first id all end with the one id that was stored.
TEST(MessageIdSeed, ConcurrentFirstStartsAgree) {
  TempHome home;
  constexpr int kProcesses = 6;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string id;
      try {
        id = messageid::InstallationId();
      } catch (...) {
        id = std::string(32, 'x');
      }
      const ssize_t n = ::write(fds[1], id.data(), id.size());
      ::_exit(n == static_cast<ssize_t>(id.size()) ? 0 : 1);
    }
  }
  ::close(fds[1]);
  std::set<std::string> seen;
  char buffer[32];
  while (::read(fds[0], buffer, sizeof buffer) == static_cast<ssize_t>(sizeof buffer))
    seen.insert(std::string(buffer, sizeof buffer));
  ::close(fds[0]);
  for (int i = 0; i < kProcesses; ++i) {
    int status = 0;
    ::wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(*seen.begin(), messageid::InstallationId());
  for (const auto& entry : std::filesystem::directory_iterator(home.DataFolder()))
    EXPECT_EQ(entry.path().filename(), messageid::kInstallationFile) << "left behind";
}

struct SlotCase {
  std::string name;
  schedule::LocalDateTime slot;
  std::string expected;
};

void PrintTo(const SlotCase& row, std::ostream* os) {
  *os << row.name;
}

class SlotLeftSideTable : public ::testing::TestWithParam<SlotCase> {};

TEST_P(SlotLeftSideTable, Text) {
  EXPECT_EQ(messageid::SlotLeftSide(GetParam().slot, "00112233445566778899aabbccddeeff"),
            GetParam().expected);
}

const SlotCase kSlots[] = {
    {"MondayMorning",
     {2026y / December / 7, {8, 0, 0}},
     "202612070800.00112233445566778899aabbccddeeff"},
    {"SecondsPlayNoPart",
     {2026y / December / 7, {8, 0, 41}},
     "202612070800.00112233445566778899aabbccddeeff"},
    {"EarlyInTheYear",
     {2027y / std::chrono::January / 4, {7, 5, 0}},
     "202701040705.00112233445566778899aabbccddeeff"},
};

INSTANTIATE_TEST_SUITE_P(Rows, SlotLeftSideTable, ::testing::ValuesIn(kSlots),
                         [](const auto& info) { return info.param.name; });

}  // namespace
