// Notifier shows the tray balloons through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Each notification replaces the one
// shown before it by its id, so a balloon still showing is withdrawn first.
#pragma once

#include <QDBusConnection>
#include <QString>

class Notifier {
 public:
  explicit Notifier(QDBusConnection bus = QDBusConnection::sessionBus());

  // Show answers false when no notification service answered within two seconds; the caller
  // then falls back to the tray icon's own balloon.
  bool Show(const QString& title, const QString& text, int displayMs);

  unsigned LastId() const { return lastId_; }

 private:
  QDBusConnection bus_;
  unsigned lastId_ = 0;
};
