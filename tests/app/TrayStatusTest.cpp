// The tray tooltip from the last history event and the stored schedule.
#include <gtest/gtest.h>

#include "TempHome.h"
#include "app/IniFile.h"
#include "app/TrayStatus.h"

namespace {

using std::chrono::December;
using std::chrono::operator""y;

struct ToolTipRow {
  std::string name;
  bool setUp;
  std::string days;  // chosen "Datum" keys
  std::string expiry;
  schedule::LocalDateTime now;
  bool withLast;
  std::string expected;
};

void PrintTo(const ToolTipRow& row, std::ostream* os) {
  *os << row.name;
}

class ToolTip : public testing::TestWithParam<ToolTipRow> {};

TEST_P(ToolTip, TellsLastAndNext) {
  const ToolTipRow& row = GetParam();
  TempHome home;
  IniFile ini((home.Root() / "setup.dat").string());
  ini.WriteString("Cas", "cas", "08:00:00");
  ini.WriteString("Do", "datm", row.expiry);
  for (const char* key : {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"})
    ini.WriteString("Datum", key, row.days.find(key) != std::string::npos ? key : "");
  std::optional<history::Event> last;
  if (row.withLast)
    last = history::Event{"07.12.2026 08:00:00", "naplánované odeslání", "OK", 2, "s"};
  EXPECT_EQ(traystatus::ToolTip(row.setUp ? &ini : nullptr, row.now, last), row.expected);
}

// 7 December 2026 is a Monday.
INSTANTIATE_TEST_SUITE_P(
    Rows, ToolTip,
    testing::Values(
        ToolTipRow{"LastAndNextWeek",
                   true,
                   "Po",
                   "31.12.2027",
                   {2026y / December / 7, {8, 0, 5}},
                   true,
                   "Kadenza – poslední odeslání 07.12.2026 08:00: OK; příští odeslání po "
                   "14.12.2026 08:00"},
        ToolTipRow{"LaterToday",
                   true,
                   "Po St",
                   "31.12.2027",
                   {2026y / December / 9, {7, 59, 0}},
                   false,
                   "Kadenza – příští odeslání st 09.12.2026 08:00"},
        ToolTipRow{"ExpiryDaySendStillPlanned",
                   true,
                   "Po",
                   "14.12.2026",
                   {2026y / December / 10, {12, 0, 0}},
                   false,
                   "Kadenza – příští odeslání po 14.12.2026 08:00"},
        ToolTipRow{"Expired",
                   true,
                   "Po",
                   "14.12.2026",
                   {2026y / December / 14, {9, 0, 0}},
                   true,
                   "Kadenza – poslední odeslání 07.12.2026 08:00: OK; platnost časovače vypršela"},
        ToolTipRow{"NoSendDayBeforeTheExpiry",
                   true,
                   "Po",
                   "13.12.2026",
                   {2026y / December / 7, {9, 0, 0}},
                   false,
                   "Kadenza – do konce platnosti 13.12.2026 už žádné odeslání nebude"},
        ToolTipRow{"NoDayChosen",
                   true,
                   "",
                   "31.12.2027",
                   {2026y / December / 7, {9, 0, 0}},
                   false,
                   "Kadenza – není vybrán žádný den odeslání"},
        ToolTipRow{"NotSetUp",
                   false,
                   "",
                   "31.12.2027",
                   {2026y / December / 7, {9, 0, 0}},
                   false,
                   "Kadenza – odesílání není nastaveno"},
        ToolTipRow{"BadExpiry",
                   true,
                   "Po",
                   "31.13.2027",
                   {2026y / December / 7, {9, 0, 0}},
                   false,
                   "Kadenza – odesílání není nastaveno"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
