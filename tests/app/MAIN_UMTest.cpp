#include "app/MAIN_UM.h"

#include <QPointer>
#include <QTest>

#include <chrono>
#include <memory>
#include <ostream>

#include "AppFixture.h"
#include "core/Error.h"
#include "net/clEventFd.h"
#include "net/clPumpHook.h"
#include "net/clWait.h"
#include "support/CaseName.h"

namespace {

using std::chrono::days;
using std::chrono::December;
using std::chrono::Tuesday;
using std::chrono::operator""y;

class MainTest : public AppFixture {
 protected:
  void StoreSchedule(const std::string& time, const std::string& date,
                     std::initializer_list<const char*> days) {
    settings::EnsureDataFolder();
    Ini().WriteString("Cas", "cas", time);
    Ini().WriteString("Do", "datm", date);
    for (const char* key : {"Po", "Ut", "St", "Ct", "Pa", "So", "Ne"}) {
      const bool on = std::find_if(days.begin(), days.end(), [&](const char* d) {
                        return std::string_view(d) == key;
                      }) != days.end();
      Ini().WriteString("Datum", key, on ? key : "");
    }
  }
};

TEST_F(MainTest, TrayMenuAndTimersAsCreated) {
  const auto actions = main->Pop->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("Nastavení"));
  EXPECT_EQ(actions[1]->text(), QStringLiteral("Historie odeslání"));
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_EQ(actions[3]->text(), QStringLiteral("Konec"));
  EXPECT_EQ(main->tray->contextMenu(), main->Pop.get());
  for (QTimer* t : {main->Timer1, main->Timer2}) {
    EXPECT_EQ(t->interval(), 60000);
    EXPECT_FALSE(t->isActive());
  }
}

TEST_F(MainTest, FirstRunWritesAutostartAndOpensTheSetupWindow) {
  main->FormShow();
  EXPECT_EQ(modalShows, 1);
  EXPECT_FALSE(main->Timer1->isActive());
  const std::string entry = TempHome::Read(home.Root() / "config/autostart/Kadenza.desktop");
  EXPECT_NE(entry.find("Exec=/usr/local/bin/Kadenza.bin\n"), std::string::npos) << entry;
  const std::string icon = (home.Root() / "data/icons/hicolor/64x64/apps/kadenza.png").string();
  EXPECT_NE(entry.find("\nIcon=" + icon + "\n"), std::string::npos) << entry;
  EXPECT_EQ(TempHome::Read(icon).substr(1, 3), "PNG");
  EXPECT_NE(entry.find("\nComment=Odesílá"), std::string::npos) << entry;
  EXPECT_TRUE(messages.empty());
}

TEST_F(MainTest, StartWithSettingsRunsTheScheduleWithoutAWindow) {
  StoreSchedule("08:00:00", "31.12.2026", {"Po"});
  main->FormShow();
  EXPECT_EQ(modalShows, 0);
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_FALSE(main->Timer2->isActive());
}

TEST_F(MainTest, AutostartFailureIsReportedOnceAndSkipsTheRest) {
  StoreSchedule("08:00:00", "31.12.2026", {"Po"});
  TempHome::Write(home.Root() / "config", "not a folder");
  main->FormShow();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, QStringLiteral("Chyba při otevírání klíče registrů."));
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_EQ(modalShows, 0);
  main->setupClick();  // the setup window stays reachable from the tray menu
  EXPECT_EQ(modalShows, 1);
}

TEST_F(MainTest, SendMinuteShowsTheNoticeAndClicksSend) {
  StoreSchedule("08:00:40", "31.12.2026", {"Po", "Pa"});
  QSignalSpy clicks(form->btnSend, &QPushButton::clicked);
  // Only the tick is tested here: the click runs no send job.
  QObject::disconnect(form->btnSend, &QPushButton::clicked, form.get(), nullptr);
  now.time = {8, 0, 12};
  main->Timer1->start();
  main->Timer1Timer();
  EXPECT_EQ(clicks.count(), 1);
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].title, QStringLiteral("Kadenza"));
  EXPECT_EQ(balloons[0].text, QStringLiteral("Upozornění:\r\rOdesílání načasované zprávy"));
  EXPECT_EQ(balloons[0].ms, 3000);
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_EQ(main->CurrentDateTime, 2026y / December / 31);

  now.time = {8, 1, 0};
  main->Timer1Timer();
  now.date = 2026y / December / 8;  // Tuesday
  now.time = {8, 0, 0};
  main->Timer1Timer();
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(MainTest, ExpiryDaySendsFirstThenSwitchesToTheReminder) {
  StoreSchedule("08:00:00", "07.12.2026", {"Po"});
  QSignalSpy clicks(form->btnSend, &QPushButton::clicked);
  // Only the tick is tested here: the click runs no send job.
  QObject::disconnect(form->btnSend, &QPushButton::clicked, form.get(), nullptr);
  main->Timer1->start();
  main->Timer1Timer();
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_TRUE(main->Timer2->isActive());
  main->Timer2Timer();
  ASSERT_EQ(balloons.size(), 2u);
  EXPECT_EQ(balloons[1].text, QStringLiteral("Upozornění:\r\rPlatnost časovače vypršela.\r"
                                             "Nastavte nové datum ukončení platnosti časovače!"));
  EXPECT_EQ(balloons[1].ms, 10000);
}

TEST_F(MainTest, StartedAfterExpiryTheFirstTickExpires) {
  StoreSchedule("10:00:00", "05.12.2026", {"Po"});
  main->FormShow();
  main->Timer1Timer();
  EXPECT_FALSE(main->Timer1->isActive());
  EXPECT_TRUE(main->Timer2->isActive());
  EXPECT_TRUE(balloons.empty());
}

TEST_F(MainTest, MissingSettingsGiveOneConversionErrorAndStopTheSchedule) {
  EXPECT_THROW(main->Timer1Timer(), EConvertError);
  // Through the timer the error is shown once and the schedule stops until Save.
  main->Timer1->start(5);
  QTest::qWait(60);
  EXPECT_FALSE(main->Timer1->isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, dialogs::MessageKind::Error);
  EXPECT_EQ(messages[0].second, QStringLiteral("'' is not a valid date"));
}

TEST_F(MainTest, DaysWithoutTimeOrDateStopTheScheduleUntilSaved) {
  // Left by closing the window before ever saving: day keys only.
  settings::EnsureDataFolder();
  Ini().WriteString("Datum", "Po", "Po");
  main->FormShow();
  ASSERT_TRUE(main->Timer1->isActive());
  main->Timer1->setInterval(5);
  QTest::qWait(80);
  EXPECT_FALSE(main->Timer1->isActive());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].second, QStringLiteral("'' is not a valid date"));
  main->setup->trigger();  // the menu still works
  EXPECT_EQ(modalShows, 1);
  form->ed_smtp->setText(QStringLiteral("smtp.example.cz"));
  form->ed_user->setText(QStringLiteral("jan@example.cz"));
  form->ed_pass->setText(QStringLiteral("heslo"));
  form->mem_prijemce->setPlainText(QStringLiteral("a@example.cz"));
  form->btn_saveClick();
  EXPECT_TRUE(main->Timer1->isActive());
  EXPECT_NO_THROW(main->Timer1Timer());
}

// The setup window is made when something first needs it and goes again once it is closed
// (or, made for a send, once the send is over): the tray program at rest holds none.
struct NeedRow {
  const char* name;
  // need makes the main part need the window; true when the window is then shown.
  bool (*need)(Tmain& main, schedule::LocalDateTime& now);
};

void PrintTo(const NeedRow& row, std::ostream* os) {
  *os << row.name;
}

class SetupWindowOnDemand : public MainTest, public testing::WithParamInterface<NeedRow> {
 protected:
  SetupWindowOnDemand() {
    main->SetSetupForm(nullptr);
    main->SetSetupFactory(
        [this] {
          ++made;
          auto window = std::make_unique<Tfrm_main>();
          last = window.get();
          return window;
        },
        std::chrono::milliseconds(20));
  }

  int made = 0;
  QPointer<Tfrm_main> last;
};

TEST_P(SetupWindowOnDemand, IsMadeWhenNeededAndReleasedAfterUse) {
  StoreSchedule("09:00:00", "31.12.2027", {"Po"});  // not the minute the start serves
  main->FormShow();
  QTest::qWait(60);
  EXPECT_EQ(made, 0) << "a window at rest";
  for (int round = 1; round <= 2; ++round) {
    const bool shown = GetParam().need(*main, now);
    ASSERT_EQ(made, round);
    ASSERT_FALSE(last.isNull());
    EXPECT_EQ(main->SetupForm(), last.data());
    EXPECT_EQ(last->isVisible(), shown);
    if (shown) {
      QTest::qWait(60);
      EXPECT_FALSE(last.isNull()) << "an open window is kept";
      last->reject();
    }
    QTRY_VERIFY_WITH_TIMEOUT(last.isNull(), 2000);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Needs, SetupWindowOnDemand,
    testing::Values(NeedRow{"ShownFromTheTray",
                            [](Tmain& main, schedule::LocalDateTime&) {
                              main.ShowSetupWindow();
                              return true;
                            }},
                    // The send job runs in the window and fails here (no account stored): the
                    // window made for it goes all the same.
                    NeedRow{"SendMinute",
                            [](Tmain& main, schedule::LocalDateTime& now) {
                              now.date = std::chrono::sys_days(now.date) + std::chrono::days(7);
                              now.time = {9, 0, 5};
                              dialogs::Guarded([&main] { main.Timer1Timer(); });
                              return false;
                            }}),
    testsupport::RowName());

}  // namespace

namespace {

TEST_F(MainTest, NetworkWaitsRunTheEventLoop) {
  // A timer due during a transport wait fires inside it: the window stays alive while a
  // network call blocks.
  kz::EventFd abort;
  bool fired = false;
  QTimer::singleShot(10, [&] { fired = true; });
  kz::PauseFor(200, abort.Get());
  EXPECT_TRUE(fired);
  EXPECT_TRUE(kz::PumpInstalled());
}

TEST(MainPump, HookIsRemovedWithTheMainPart) {
  EXPECT_FALSE(kz::PumpInstalled());
  {
    Tmain main;
    EXPECT_TRUE(kz::PumpInstalled());
  }
  EXPECT_FALSE(kz::PumpInstalled());
}

}  // namespace
