// Tmain: the application's invisible main part. It owns the tray icon with its menu
// ("Nastavení", "Historie odeslání", separator, "Konec"), the schedule timers Timer1 (the
// once-a-minute send check) and Timer2 (the once-a-minute expiry reminder), writes the autostart
// entry at start-up and decides between starting the schedule and the first-run setup window. While
// it exists, every wait of the network transport runs the Qt event loop for pending events,
// so timers, painting and clicks go on while a network call blocks.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/NetworkWatch.h"
#include "app/Notifier.h"
#include "app/RetryPlan.h"
#include "app/Schedule.h"
#include "app/SendHistory.h"
#include "app/SetupWindowKeeper.h"
#include "net/clPumpHook.h"

class IniFile;
class Tfrm_main;
class THistoryWindow;

class Tmain : public QObject {
  Q_OBJECT
 public:
  using Clock = std::function<schedule::LocalDateTime()>;

  explicit Tmain(QObject* parent = nullptr);
  ~Tmain() override;

  // SetSetupForm connects the setup window (created after the main part, as at start-up):
  // the tray part listens to its signals; the window does not know the tray part.
  void SetSetupForm(Tfrm_main* form);
  // SetSetupFactory: the setup window is made by `factory` when it is first needed (shown,
  // or a send of the schedule), connected as SetSetupForm connects it, and released `keep`
  // after it was closed (SetupWindowKeeper).
  void SetSetupFactory(SetupWindowKeeper::Factory factory,
                       std::chrono::milliseconds keep = std::chrono::seconds(30));
  // SetupForm answers the setup window, made now when there is none and a factory is set.
  Tfrm_main* SetupForm();

  // FormShow runs the start-up steps: autostart entry, the data folder made owner-only and
  // cleared of stale temporary files, a password in setup.dat moved into the keyring, sends
  // cut off before their outcome named, then either the schedule (setup.dat exists: a missed
  // send named, the current send minute served) or the setup window. An error is reported
  // and skips the rest.
  void FormShow();
  void WriteRunEntry();
  // MovePasswordToKeyring moves a password still kept in setup.dat into the keyring, unless
  // the user chose the file; a keyring that fails leaves the file as it is.
  void MovePasswordToKeyring();
  // WriteIconFile stores the application icon as a PNG file and answers its path ("" when
  // it cannot be written).
  std::string WriteIconFile();
  void setupClick();
  // ShowSetupWindow shows the setup window without blocking the tray menu, or brings the
  // open one to the front (also out of its minimised state).
  void ShowSetupWindow();
  void KonecClick();
  // historyClick opens the send history window with the latest events (or refreshes and
  // raises the open one).
  void historyClick();
  // RefreshToolTip sets the tray icon's tooltip to the last event and the next send; the
  // tick passes the settings it read and its time (`ini` null: not set up). Never raises.
  void RefreshToolTip();
  void RefreshToolTip(const IniFile* ini, const schedule::LocalDateTime& now);
  void Timer1Timer();
  void Timer2Timer();
  bool IsSendDay();
  // NoteTick records and names a send missed since the last tick (or the last run) that the
  // send ledger has not seen served or named, then stores this tick's time. It answers the
  // send minute to serve late: the one a late tick stepped over (the previous tick ran a
  // minute or two ago), or a missed one that the catch-up setting allows to send now.
  std::optional<schedule::LocalDateTime> NoteTick(const IniFile& ini,
                                                  const schedule::StoredSchedule& stored,
                                                  const schedule::LocalDateTime& now);
  // ServeSendMinute sends when `now` is the send minute of a send day up to the expiry, or
  // when `late` names a send minute the tick stepped over, and the ledger has not seen that
  // slot served; the slot is claimed before the send starts. Answers whether it sent (or
  // tried to: the send's error leaves it).
  bool ServeSendMinute(const IniFile& ini, const schedule::StoredSchedule& stored,
                       const schedule::LocalDateTime& now,
                       const std::optional<schedule::LocalDateTime>& late);
  // ServeRetry makes the pending attempt of a slot whose last attempt met a temporary failure
  // once its time has come (or, while it waits for the network, gives up when the window
  // ended). Answers whether it tried.
  bool ServeRetry(const IniFile& ini, const schedule::StoredSchedule& stored,
                  const schedule::LocalDateTime& now);
  // Pending answers the slot waiting for its next attempt, if any.
  const std::optional<retry::Pending>& Pending() const { return pending_; }

  // CreateTray creates and shows the tray icon with its menu; it runs once the desktop has a
  // tray host (TrayStart), since Qt picks its tray backend when the icon is created.
  void CreateTray();
  // TrayUnavailable tells, once, that no tray host appeared: a notification and a history
  // line; the setup window stays reachable by starting the program again.
  void TrayUnavailable();

  // ShowBalloon shows a notification of the information kind through the desktop's
  // notification service, replacing the one still showing (else the tray icon's own
  // balloon, when there is a tray icon). Texts use CR as their line break. kShowHistory
  // offers "Zobrazit historii" where the service shows actions.
  enum class BalloonAction { kNone, kShowHistory };
  void ShowBalloon(const QString& title, const QString& text, int displayMs,
                   BalloonAction action = BalloonAction::kNone);

  // Replaceable for tests: the clock, how the setup window is shown (or brought to the
  // front when open), and the path written to the autostart entry.
  Clock clock;
  std::function<void()> showSetupModal;
  QString executablePath;

  // Components, named as in the form.
  std::unique_ptr<QMenu> Pop;
  QAction* setup;
  QAction* historie;
  QAction* N1;
  QAction* Konec;
  QSystemTrayIcon* tray = nullptr;  // none until CreateTray
  QTimer* Timer1;
  QTimer* Timer2;
  std::chrono::year_month_day CurrentDateTime{};
  std::unique_ptr<THistoryWindow> historyWindow;

 signals:
  void BalloonShown(const QString& title, const QString& text, int displayMs);

 private:
  void ReportMissed(const IniFile& ini, const schedule::LocalDateTime& at);
  // SlotMissedSince: the latest send slot between the ticks that went by unseen, and whether
  // the catch-up setting sends it now.
  struct MissedSlot {
    schedule::LocalDateTime slot;
    bool sendNow = false;
  };
  std::optional<MissedSlot> SlotMissedSince(const IniFile& ini,
                                            const schedule::LocalDateTime& previous,
                                            const schedule::LocalDateTime& now,
                                            const schedule::StoredSchedule& stored);
  // RecordSlotEvent puts a line about the schedule's send into the history, with the stored
  // recipients and subject, dated `at`.
  void RecordSlotEvent(const IniFile& ini, history::Kind kind, std::string_view result,
                       const schedule::LocalDateTime& at);
  // GiveUpOffline records and raises the failure of a slot whose window ended offline.
  [[noreturn]] void GiveUpOffline(const IniFile& ini, const schedule::LocalDateTime& slot);
  // SendSlot makes attempt number `attempt` at the claimed `slot`, whose window began at
  // `from`. A temporary failure with time left in the window leaves the slot pending and
  // tells the next attempt's time;
  // the last failure raises (to the tick's error box), once. While the network is known to be
  // down, the attempt waits instead, as long as the window lasts.
  void SendSlot(const IniFile& ini, const schedule::StoredSchedule& stored,
                const schedule::LocalDateTime& slot, int attempt, retry::LocalTime from);
  // SetPending sets (or clears) the slot waiting for its next attempt and keeps it in the send
  // ledger, so that a restart goes on with it.
  void SetPending(std::optional<retry::Pending> pending, bool waitsForNetwork = false);
  // RestorePending takes up the attempts a previous run left pending; a slot whose window
  // ended meanwhile is named as missed.
  void RestorePending(const IniFile& ini, const schedule::StoredSchedule& stored,
                      const schedule::LocalDateTime& now);
  // NetworkCameBack makes the attempt that waits for the network.
  void NetworkCameBack();
  std::optional<schedule::LocalDateTime> NextSlotAfter(const IniFile& ini,
                                                       const schedule::StoredSchedule& stored,
                                                       const schedule::LocalDateTime& slot) const;

  Tfrm_main* frm_main_ = nullptr;
  SetupWindowKeeper setupKeeper_;  // after frm_main_: the window it drops clears that pointer
  kz::PumpHook previousPump_;
  Notifier notifier_;
  NetworkWatch network_;
  bool tickWriteReported_ = false;
  std::optional<retry::Pending> pending_;
  bool waitsForNetwork_ = false;  // pending_ waits for the network, not for its time
  QString lastFailureText_;       // the send job's last failure, as its notice tells it
};

// The notice when the desktop has no notification area.
inline const QString kNoTrayText =
    QStringLiteral("Oznamovací oblast není k dispozici; nastavení otevřete z nabídky aplikací");

// The notice of a send that waits for the network, and the sentence when the window ended.
inline const QString kNoNetworkText =
    QStringLiteral("Počítač není připojen k síti; zpráva se odešle po připojení");
inline const std::string kNoNetworkFailure = "Počítač nebyl připojen k síti.";

// The history's result of a missed send.
inline constexpr std::string_view kMissedResult = "neodesláno";

// The balloon texts.
inline const QString kNoticeText =
    QStringLiteral("Upozornění:\r\r") + QStringLiteral("Odesílání načasované zprávy");
inline const QString kExpiredText =
    QStringLiteral("Upozornění:\r\r") + QStringLiteral("Platnost časovače vypršela.\r") +
    QStringLiteral("Nastavte nové datum ukončení platnosti časovače!");
