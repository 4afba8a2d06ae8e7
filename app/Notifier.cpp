#include "app/Notifier.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>

Notifier::Notifier(QDBusConnection bus) : bus_(std::move(bus)) {}

bool Notifier::Show(const QString& title, const QString& text, int displayMs) {
  if (!bus_.isConnected())
    return false;
  QDBusInterface service(QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"),
                         QStringLiteral("org.freedesktop.Notifications"), bus_);
  if (!service.isValid())  // no notification service on this desktop
    return false;
  service.setTimeout(2000);
  const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
  const QDBusReply<uint> id = service.call(QStringLiteral("Notify"), QStringLiteral("Kadenza"),
                                           lastId_, QStringLiteral("dialog-information"), title,
                                           text, QStringList(), hints, displayMs);
  if (!id.isValid()) {
    qWarning("kadenza: notification not shown: %s", qPrintable(id.error().message()));
    return false;
  }
  lastId_ = id.value();
  return true;
}
