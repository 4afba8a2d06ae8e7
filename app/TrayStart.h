// TrayStart creates the tray icon once the desktop has a host for it. At login the program
// often starts before the panel: the icon is created at once when a host is there, else as
// soon as one appears (a StatusNotifier watcher registering on the session bus or its host
// registering with it, an X tray selection getting an owner). When none has appeared within
// the wait (a minute; KADENZA_TRAY_WAIT gives seconds, for tests), `unavailable` runs once;
// a host that comes later still gets the icon. The schedule does not wait for any of this.
#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class TrayStart : public QObject {
  Q_OBJECT
 public:
  TrayStart(std::function<void()> create, std::function<void()> unavailable,
            QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

  // Start checks for a host and creates the icon now, or begins to wait for one.
  void Start();
  bool Created() const { return created_; }

  // WaitTime: KADENZA_TRAY_WAIT seconds when set to a number, else 60 seconds.
  static std::chrono::milliseconds WaitTime();

 private Q_SLOTS:
  void Check();

 private:
  void GiveUp();

  std::function<void()> create_;
  std::function<void()> unavailable_;
  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  QTimer poll_;  // the X tray selection has no bus signal: looked at now and then
  QTimer deadline_;
  bool created_ = false;
};
