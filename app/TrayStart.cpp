#include "app/TrayStart.h"

#include <QByteArray>

#include "app/TrayHost.h"

namespace {

constexpr std::chrono::milliseconds kPollWhileWaiting{1000};
constexpr std::chrono::milliseconds kPollAfterWait{30000};

}  // namespace

TrayStart::TrayStart(std::function<void()> create, std::function<void()> unavailable,
                     QDBusConnection bus, QObject* parent)
    : QObject(parent),
      create_(std::move(create)),
      unavailable_(std::move(unavailable)),
      bus_(std::move(bus)),
      watcher_(trayhost::kWatcherService, bus_, QDBusServiceWatcher::WatchForRegistration) {
  connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &TrayStart::Check);
  connect(&poll_, &QTimer::timeout, this, &TrayStart::Check);
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, &TrayStart::GiveUp);
}

std::chrono::milliseconds TrayStart::WaitTime() {
  bool ok = false;
  const double seconds = qEnvironmentVariable("KADENZA_TRAY_WAIT").toDouble(&ok);
  if (ok && seconds >= 0)
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  return std::chrono::seconds(60);
}

void TrayStart::Start() {
  if (trayhost::Available(bus_)) {
    created_ = true;
    create_();
    return;
  }
  // A watcher that is already there may get its host later; one that starts later is seen
  // by the service watcher.
  bus_.connect(trayhost::kWatcherService, trayhost::kWatcherPath, trayhost::kWatcherInterface,
               QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(Check()));
  poll_.start(kPollWhileWaiting);
  deadline_.start(WaitTime());
}

void TrayStart::Check() {
  if (created_ || !trayhost::Available(bus_))
    return;
  created_ = true;
  poll_.stop();
  deadline_.stop();
  watcher_.setWatchedServices({});
  bus_.disconnect(trayhost::kWatcherService, trayhost::kWatcherPath, trayhost::kWatcherInterface,
                  QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(Check()));
  create_();
}

void TrayStart::GiveUp() {
  if (created_)
    return;
  poll_.start(kPollAfterWait);
  unavailable_();
}
