// Notifier shows the tray balloons through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Each notification replaces the one
// shown before it by its id, so a balloon still showing is withdrawn first. Every
// notification names the application's desktop entry (the "desktop-entry" hint), so the
// shell shows it under the application's name and icon; where the service shows actions, a
// notification may offer "Zobrazit historii".
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

class Notifier : public QObject {
  Q_OBJECT
 public:
  explicit Notifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

  // Show answers false when no notification service answered within two seconds; the caller
  // then falls back to the tray icon's own balloon. With offerHistory the notification
  // carries the action "Zobrazit historii" when the service supports actions.
  bool Show(const QString& title, const QString& text, int displayMs, bool offerHistory = false);

  unsigned LastId() const { return lastId_; }

  // The action's key and label.
  static inline const QString kHistoryAction = QStringLiteral("historie");
  static inline const QString kHistoryLabel = QStringLiteral("Zobrazit historii");

 signals:
  // HistoryRequested: the user chose "Zobrazit historii" on one of our notifications.
  void HistoryRequested();

 private Q_SLOTS:
  void OnActionInvoked(uint id, const QString& key);

 private:
  bool SupportsActions();

  QDBusConnection bus_;
  unsigned lastId_ = 0;
  unsigned historyId_ = 0;  // the notification showing the history action, 0 when none
  std::optional<bool> actions_;
  bool subscribed_ = false;
};
