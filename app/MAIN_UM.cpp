#include "app/MAIN_UM.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>

#include "app/AppIcon.h"
#include "app/Autostart.h"
#include "app/CatchUp.h"
#include "app/Dialogs.h"
#include "app/HistoryWindow.h"
#include "app/IniFile.h"
#include "app/Installed.h"
#include "app/MissedSends.h"
#include "app/PasswordStore.h"
#include "app/QtText.h"
#include "app/SendHistory.h"
#include "app/SendJob.h"
#include "app/SendRecord.h"
#include "app/SendSlots.h"
#include "app/SettingsStore.h"
#include "app/TrayStatus.h"
#include "app/UN_MAIN.h"
#include "app/XdgDirs.h"
#include "core/Error.h"
#include "core/ScopeGuard.h"

#include <cstdio>

Tmain::Tmain(QObject* parent)
    : QObject(parent),
      clock(&schedule::NowLocal),
      executablePath(QCoreApplication::applicationFilePath()),
      Pop(std::make_unique<QMenu>()),
      Timer1(new QTimer(this)),
      Timer2(new QTimer(this)) {
  setup = Pop->addAction(QStringLiteral("Nastavení"));
  historie = Pop->addAction(QStringLiteral("Historie odeslání"));
  N1 = Pop->addSeparator();
  Konec = Pop->addAction(QStringLiteral("Konec"));
  connect(setup, &QAction::triggered, this, dialogs::Guard([this] { setupClick(); }));
  connect(historie, &QAction::triggered, this, dialogs::Guard([this] { historyClick(); }));
  connect(Konec, &QAction::triggered, this, dialogs::Guard([this] { KonecClick(); }));

  for (QTimer* t : {Timer1, Timer2}) {
    t->setInterval(60000);
    t->setTimerType(Qt::CoarseTimer);
  }
  connect(Timer1, &QTimer::timeout, this, dialogs::Guard([this] { Timer1Timer(); }));
  connect(Timer2, &QTimer::timeout, this, dialogs::Guard([this] { Timer2Timer(); }));

  // The setup window does not block the rest of the application, so the tray menu (and
  // "Konec") stays usable while it is open; opening it again brings it to the front.
  showSetupModal = [this] { ShowSetupWindow(); };

  previousPump_ = kz::SetPumpHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
  connect(&notifier_, &Notifier::HistoryRequested, this,
          dialogs::Guard([this] { historyClick(); }));
  connect(&network_, &NetworkWatch::Online, this, dialogs::Guard([this] { NetworkCameBack(); }));
}

void Tmain::CreateTray() {
  if (tray)
    return;
  tray = new QSystemTrayIcon(this);
  tray->setIcon(ApplicationIcon());
  tray->setToolTip(QStringLiteral("Kadenza"));
  tray->setContextMenu(Pop.get());
  // A left click opens the same menu as a right click.
  connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger)
      Pop->popup(QCursor::pos());
  });
  RefreshToolTip();
  tray->show();
}

Tmain::~Tmain() {
  historyWindow.reset();
  kz::SetPumpHook(std::move(previousPump_));
}

namespace {

// SavedText: what the notice after a save says, read from the settings just stored as the
// tooltip reads them. Runs as the window closes: never raises.
QString SavedText(const schedule::LocalDateTime& now) {
  try {
    std::optional<schedule::LocalDateTime> served;
    try {
      served = sendslots::Read().served;
    } catch (const std::exception&) {
      // Without the ledger the next send is told as the schedule gives it.
    }
    const IniFile ini = IniFile::Snapshot(settings::SetupFilePath());
    return QStringLiteral("Uloženo; ") + QStr(traystatus::ScheduleText(&ini, now, served));
  } catch (const std::exception&) {
    return QStringLiteral("Uloženo");
  }
}

// KeepPendingInLedger records the slot waiting for its next attempt in the send ledger.
void KeepPendingInLedger(const std::optional<retry::Pending>& pending) {
  try {
    sendslots::KeepRetry(pending);
  } catch (const std::exception& e) {
    // This run still makes the attempts; only a restart would not know of them.
    std::fprintf(stderr, "Kadenza: %s\n", e.what());
  }
}

}  // namespace

void Tmain::SetSetupForm(Tfrm_main* form) {
  frm_main_ = form;
  if (!form)
    return;
  connect(form, &Tfrm_main::Saved, this, [this] {
    // The saved settings are a new message: attempts still pending for the old one end.
    SetPending(std::nullopt);
    Timer1->start();
    Timer2->stop();
  });
  connect(form, &Tfrm_main::Sent, this,
          [this] { ShowBalloon(QStringLiteral("Kadenza"), QStr(sendjob::kSentText), 5000); });
  connect(form, &Tfrm_main::SendFailed, this, [this](const QString& text) {
    lastFailureText_ = text;
    ShowBalloon(QStringLiteral("Kadenza"), text, 10000, BalloonAction::kShowHistory);
  });
  // The window may outlive the tray part (in tests): then it reads the system clock.
  form->SetClock(
      [self = QPointer<Tmain>(this)] { return self ? self->clock() : schedule::NowLocal(); });
  // The tooltip tells the saved schedule at once, as the notice does.
  connect(form, &Tfrm_main::Stored, this, [this] {
    RefreshToolTip();
    ShowBalloon(QStringLiteral("Kadenza"), SavedText(clock()), 5000);
  });
  // With the settings gone the schedule stops (its next tick could only report them missing)
  // until the next save starts it; the tooltip says it is not set up.
  connect(form, &Tfrm_main::Cleared, this, [this] {
    SetPending(std::nullopt);  // also out of the ledger: a later start must not take it up
    Timer1->stop();
    Timer2->stop();
    RefreshToolTip();
  });
  connect(form, &Tfrm_main::TestSent, this, [this] {
    RefreshToolTip();
    ShowBalloon(QStringLiteral("Kadenza"), QStringLiteral("Testovací zpráva byla odeslána"), 5000);
  });
  // A window that goes first leaves no pointer behind.
  connect(form, &QObject::destroyed, this, [this, form] {
    if (frm_main_ == form)
      frm_main_ = nullptr;
  });
}

void Tmain::SetSetupFactory(SetupWindowKeeper::Factory factory, std::chrono::milliseconds keep) {
  setupKeeper_.SetFactory(
      std::move(factory), [this](Tfrm_main* form) { SetSetupForm(form); }, keep);
}

Tfrm_main* Tmain::SetupForm() {
  if (!frm_main_)
    setupKeeper_.Get();
  return frm_main_;
}

void Tmain::FormShow() {
  dialogs::Guarded([this] {
    // Whatever the start ends with, the tooltip follows.
    kz::ScopeGuard refresh([this] { RefreshToolTip(); });
    WriteRunEntry();
    // Settings others could read, or that are no file at all, are refused before use.
    settings::PrepareDataFolder();
    MovePasswordToKeyring();
    // A send cut off before its outcome (power loss, a kill) is named, never repeated.
    const std::string unknown = sendrecord::ReportOrphans();
    if (!unknown.empty())
      ShowBalloon(QStringLiteral("Kadenza"), QString::fromStdString(unknown), 10000,
                  BalloonAction::kShowHistory);
    if (!settings::SetupFileExists()) {
      showSetupModal();
      return;
    }
    Timer1->start();
    // A send that fell while the computer was off is named now, and a start inside the send
    // minute serves it; a schedule that cannot be read is left to the first tick, which
    // reports it.
    const schedule::LocalDateTime now = clock();
    const IniFile ini = IniFile::Snapshot(settings::SetupFilePath());
    schedule::StoredSchedule stored;
    try {
      stored = schedule::ReadStoredSchedule(ini);
    } catch (const EConvertError&) {
      return;
    }
    RestorePending(ini, stored, now);
    const auto late = NoteTick(ini, stored, now);
    ServeSendMinute(ini, stored, now, late);
  });
}

void Tmain::MovePasswordToKeyring() {
  try {
    passwords::MigrateFromFile();
  } catch (const std::exception& e) {
    // The file keeps the password and sends go on with it; the setup window tells why.
    std::fprintf(stderr, "Kadenza: heslo zůstává v souboru nastavení: %s\n", e.what());
  }
}

void Tmain::WriteRunEntry() {
  const std::string path = executablePath.toStdString();
  // Installed, the entry names the installed icon by the application id; from the build
  // tree it points to a drawn copy.
  if (installed::DataFolder()) {
    autostart::WriteRunEntry(autostart::ApplicationTitle(path), path,
                             installed::kAppId.toStdString(), "Kadenza");
  } else {
    autostart::WriteRunEntry(autostart::ApplicationTitle(path), path, WriteIconFile());
  }
}

std::string Tmain::WriteIconFile() {
  // The drawn icon as a file in the user's icon theme folder, for the autostart entry; the
  // entry goes without an icon when it cannot be written.
  const QString folder =
      QString::fromStdString(xdg::DataHome()) + QStringLiteral("/icons/hicolor/64x64/apps");
  const QString file = folder + QStringLiteral("/kadenza.png");
  if (!QDir().mkpath(folder) || !ApplicationIcon().pixmap(64, 64).save(file, "PNG"))
    return {};
  return file.toStdString();
}

void Tmain::ShowSetupWindow() {
  if (!SetupForm())
    return;
  if (frm_main_->isMinimized())
    frm_main_->showNormal();
  frm_main_->show();
  frm_main_->raise();
  frm_main_->activateWindow();
}

void Tmain::setupClick() {
  showSetupModal();
}

void Tmain::KonecClick() {
  QCoreApplication::quit();
}

bool Tmain::IsSendDay() {
  const IniFile ini(settings::SetupFilePath());
  return schedule::IsSendDay(ini, clock().date);
}

void Tmain::Timer1Timer() {
  // One reading of the clock and of setup.dat serves the whole tick, so its steps agree on
  // the minute and the settings; whatever the tick ends with, the tooltip follows.
  const schedule::LocalDateTime now = clock();
  std::optional<IniFile> snapshot;
  kz::ScopeGuard refresh([this, &snapshot, &now] {
    if (snapshot)
      RefreshToolTip(&*snapshot, now);
    else
      RefreshToolTip();  // setup.dat could not be read: told as at any other time
  });
  const IniFile& ini = snapshot.emplace(IniFile::Snapshot(settings::SetupFilePath()));
  schedule::StoredSchedule stored;
  try {
    stored = schedule::ReadStoredSchedule(ini);
  } catch (const EConvertError&) {
    // No readable time or date: nothing can go out until the settings are saved again, so
    // the schedule stops here and the error is reported once, not every minute.
    Timer1->stop();
    throw;
  }
  CurrentDateTime = stored.expiry;
  const auto late = NoteTick(ini, stored, now);
  // An error of the send job ends the tick here (no expiry test) and reaches its error box.
  if (!ServeSendMinute(ini, stored, now, late))
    ServeRetry(ini, stored, now);
  // The send above runs first, so the expiry day's send minute still sends.
  if (schedule::IsExpired(now.date, CurrentDateTime)) {
    Timer1->stop();
    Timer2->start();
  }
}

bool Tmain::ServeSendMinute(const IniFile& ini, const schedule::StoredSchedule& stored,
                            const schedule::LocalDateTime& now,
                            const std::optional<schedule::LocalDateTime>& late) {
  const bool due = now.date <= stored.expiry && schedule::IsSendMinute(now.time, stored.sendTime) &&
                   schedule::IsSendDay(ini, now.date);
  if (!due && !late)
    return false;
  const std::chrono::year_month_day day = due ? now.date : late->date;
  // Claimed before the send starts: a restart inside the minute, or a clock that comes back
  // over it, finds the slot served. A ledger that cannot be written stops the send here.
  const schedule::LocalDateTime slot = sendslots::SlotOf(day, stored.sendTime);
  if (!sendslots::Claim(slot, now))
    return false;
  SendSlot(ini, stored, slot, 1, retry::WindowStart(slot, now));
  return true;
}

std::optional<schedule::LocalDateTime> Tmain::NextSlotAfter(
    const IniFile& ini, const schedule::StoredSchedule& stored,
    const schedule::LocalDateTime& slot) const {
  return traystatus::NextSend(ini, slot, stored);
}

void Tmain::SendSlot(const IniFile& ini, const schedule::StoredSchedule& stored,
                     const schedule::LocalDateTime& slot, int attempt, retry::LocalTime from) {
  // A new slot takes over from an older one still pending: its own send serves the week.
  SetPending(std::nullopt);
  const schedule::LocalDateTime now = clock();
  const auto nextSlot = NextSlotAfter(ini, stored, slot);
  if (network_.Offline() && retry::WindowOpen(from, now, nextSlot)) {
    // Nothing could go out; the attempt is not counted and waits for the network.
    SetPending(retry::Pending{slot, attempt - 1, retry::LocalOf(now), from}, true);
    ShowBalloon(QStringLiteral("Kadenza"), kNoNetworkText, 10000);
    return;
  }
  ShowBalloon(QStringLiteral("Kadenza"), kNoticeText, 3000);  // replaced by the outcome's
  if (!SetupForm())
    return;
  frm_main_->SetSendSlot(slot);
  kz::ScopeGuard unset([this] {
    if (frm_main_)
      frm_main_->SetSendSlot(std::nullopt);
  });
  try {
    frm_main_->ClickSend();
  } catch (...) {
    if (!frm_main_ || frm_main_->LastFailureKind() != retry::FailureKind::kTemporary)
      throw;  // reported at once
    SetPending(retry::AfterFailure(slot, from, attempt, clock(), nextSlot));
    if (!pending_)
      throw;  // the last attempt: its error box, once
    ShowBalloon(QStringLiteral("Kadenza"),
                lastFailureText_ + QStringLiteral("\rDalší pokus v ") +
                    QStr(retry::ClockText(pending_->next)) + QStringLiteral("."),
                10000, BalloonAction::kShowHistory);
  }
}

bool Tmain::ServeRetry(const IniFile& ini, const schedule::StoredSchedule& stored,
                       const schedule::LocalDateTime& now) {
  if (!pending_)
    return false;
  const retry::Pending pending = *pending_;
  if (waitsForNetwork_ && network_.Offline()) {
    if (retry::WindowOpen(pending.from, now, NextSlotAfter(ini, stored, pending.slot)))
      return false;
    // The window ended without a network: the send is given up, in the history and once.
    SetPending(std::nullopt);
    GiveUpOffline(ini, pending.slot);
    return true;
  }
  if (!waitsForNetwork_ && !retry::IsDue(pending, now))
    return false;
  SendSlot(ini, stored, pending.slot, pending.attempts + 1, pending.from);
  return true;
}

void Tmain::SetPending(std::optional<retry::Pending> pending, bool waitsForNetwork) {
  const bool unchanged = !pending && !pending_;
  pending_ = std::move(pending);
  waitsForNetwork_ = pending_ && waitsForNetwork;
  if (!unchanged)
    KeepPendingInLedger(pending_);
}

void Tmain::RestorePending(const IniFile& ini, const schedule::StoredSchedule& stored,
                           const schedule::LocalDateTime& now) {
  std::optional<retry::Pending> kept;
  try {
    kept = sendslots::Read().retry;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Kadenza: %s\n", e.what());
  }
  if (!kept)
    return;
  if (retry::WindowOpen(kept->from, now, NextSlotAfter(ini, stored, kept->slot))) {
    pending_ = kept;  // the next tick makes the attempt once it is due
    return;
  }
  // Its time ran out while the program was not running: the send is named as missed.
  KeepPendingInLedger(std::nullopt);
  ReportMissed(ini, kept->slot);
}

void Tmain::NetworkCameBack() {
  if (!pending_ || !waitsForNetwork_)
    return;
  const schedule::LocalDateTime now = clock();
  const IniFile ini = IniFile::Snapshot(settings::SetupFilePath());
  kz::ScopeGuard refresh([this, &ini, &now] { RefreshToolTip(&ini, now); });
  const schedule::StoredSchedule stored = schedule::ReadStoredSchedule(ini);
  ServeRetry(ini, stored, now);
}

void Tmain::Timer2Timer() {
  ShowBalloon(QStringLiteral("Kadenza"), kExpiredText, 10000);
}

void Tmain::TrayUnavailable() {
  history::Record(history::Kind::kTray, kNoTrayText.toStdString(), 0, {});
  ShowBalloon(QStringLiteral("Kadenza"), kNoTrayText, 10000);
}

void Tmain::ShowBalloon(const QString& title, const QString& text, int displayMs,
                        BalloonAction action) {
  emit BalloonShown(title, text, displayMs);
  // Notification servers break lines at LF, not at CR.
  QString shown = text;
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  if (notifier_.Show(title, shown, displayMs, action == BalloonAction::kShowHistory))
    return;
  if (tray && QSystemTrayIcon::supportsMessages()) {
    tray->showMessage(title, shown, QSystemTrayIcon::Information, displayMs);
  }
}

std::optional<schedule::LocalDateTime> Tmain::NoteTick(const IniFile& ini,
                                                       const schedule::StoredSchedule& stored,
                                                       const schedule::LocalDateTime& now) {
  std::optional<schedule::LocalDateTime> late;
  if (const auto previous = missed::ReadLastTick()) {
    late = missed::FindLate(ini, *previous, now, stored);
    if (const auto at = SlotMissedSince(ini, *previous, now, stored)) {
      if (at->sendNow) {
        late = at->slot;  // caught up: ServeSendMinute claims and sends it
      } else {
        // The ledger names a slot once: served, or already named as missed.
        bool unseen = true;
        try {
          unseen = sendslots::Claim(sendslots::SlotOf(at->slot.date, stored.sendTime), now);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "Kadenza: %s\n", e.what());  // named rather than lost
        }
        if (unseen)
          ReportMissed(ini, at->slot);
      }
    }
  }
  try {
    missed::WriteLastTick(now);
  } catch (const std::exception& e) {
    // Without the state file only the next missed send goes unnoticed: reported once.
    if (!tickWriteReported_) {
      tickWriteReported_ = true;
      std::fprintf(stderr, "Kadenza: %s\n", e.what());
    }
  }
  return late;
}

std::optional<Tmain::MissedSlot> Tmain::SlotMissedSince(const IniFile& ini,
                                                        const schedule::LocalDateTime& previous,
                                                        const schedule::LocalDateTime& now,
                                                        const schedule::StoredSchedule& stored) {
  const int hours = catchup::StoredHours(ini);
  if (hours != catchup::kOff) {
    try {
      const catchup::Decision d =
          catchup::Decide(ini, previous, now, stored, sendslots::Read(), hours);
      if (!d.missed)
        return std::nullopt;
      return MissedSlot{*d.missed, d.sendNow};
    } catch (const std::exception& e) {
      // Without the ledger nothing is sent late: the missed send is only named.
      std::fprintf(stderr, "Kadenza: %s\n", e.what());
    }
  }
  if (const auto at = missed::FindMissed(ini, previous, now, stored))
    return MissedSlot{*at, false};
  return std::nullopt;
}

void Tmain::RecordSlotEvent(const IniFile& ini, history::Kind kind, std::string_view result,
                            const schedule::LocalDateTime& at) {
  int recipients = 0;
  std::string subject;
  try {
    recipients = history::CountRecipients(settings::ReadSetting(ini, settings::kRecipientsKey));
    subject = settings::ReadSetting(ini, settings::kSubjectKey);
  } catch (const EConvertError&) {
    // The send itself would report the damaged value; the record goes without it.
  }
  history::Record(kind, result, recipients, subject, missed::StampText(at));
}

void Tmain::ReportMissed(const IniFile& ini, const schedule::LocalDateTime& at) {
  RecordSlotEvent(ini, history::Kind::kMissed, kMissedResult, at);
  ShowBalloon(QStringLiteral("Kadenza"), QString::fromStdString(missed::MissedText(at)), 10000,
              BalloonAction::kShowHistory);
}

void Tmain::GiveUpOffline(const IniFile& ini, const schedule::LocalDateTime& slot) {
  RecordSlotEvent(ini, history::Kind::kScheduled, kNoNetworkFailure, clock());
  const std::string text =
      "Naplánované odeslání " + missed::MinuteText(slot) + " se nezdařilo: " + kNoNetworkFailure;
  ShowBalloon(QStringLiteral("Kadenza"), QStr(text), 10000, BalloonAction::kShowHistory);
  throw EclError(text);
}

void Tmain::historyClick() {
  if (!historyWindow)
    historyWindow = std::make_unique<THistoryWindow>();
  historyWindow->Fill(history::ReadLast(settings::DataFolder(), THistoryWindow::kShown));
  historyWindow->show();
  historyWindow->raise();
  historyWindow->activateWindow();
}

void Tmain::RefreshToolTip() {
  if (!tray)
    return;
  try {
    if (settings::SetupFileExists()) {
      const IniFile ini = IniFile::Snapshot(settings::SetupFilePath());
      RefreshToolTip(&ini, clock());
      return;
    }
  } catch (const std::exception&) {
    tray->setToolTip(QStringLiteral("Kadenza"));  // unreadable settings: the bare name
    return;
  }
  RefreshToolTip(nullptr, clock());
}

void Tmain::RefreshToolTip(const IniFile* ini, const schedule::LocalDateTime& now) {
  if (!tray)
    return;
  std::optional<history::Event> last;
  try {
    last = history::LastSend(settings::DataFolder());
  } catch (const std::exception&) {
    // An unreadable history leaves the last send out of the tooltip.
  }
  // Runs at the end of every tick, also while an error leaves it: never raises.
  try {
    std::optional<schedule::LocalDateTime> served;
    try {
      served = sendslots::Read().served;
    } catch (const std::exception&) {
      // Without the ledger the next send is told as the schedule gives it.
    }
    std::string text = traystatus::ToolTip(ini, now, last, served);
    if (pending_ && !waitsForNetwork_)
      text += "; " + retry::NextAttemptText(pending_->next);
    else if (pending_)
      text += "; čeká se na připojení k síti";
    tray->setToolTip(QStr(text));
  } catch (const std::exception&) {
    tray->setToolTip(QStringLiteral("Kadenza"));
  }
}
