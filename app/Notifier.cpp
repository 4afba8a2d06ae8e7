#include "app/Notifier.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>

#include "app/Installed.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

Notifier::Notifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

bool Notifier::SupportsActions() {
  if (actions_)
    return *actions_;
  QDBusMessage ask =
      QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
  const QDBusReply<QStringList> caps = bus_.call(ask, QDBus::Block, 2000);
  if (!caps.isValid())
    return false;  // asked again next time: the service may have been starting
  actions_ = caps.value().contains(QStringLiteral("actions"));
  return *actions_;
}

bool Notifier::Show(const QString& title, const QString& text, int displayMs, bool offerHistory) {
  if (!bus_.isConnected())
    return false;
  QDBusInterface service(kService, kPath, kService, bus_);
  if (!service.isValid())  // no notification service on this desktop
    return false;
  service.setTimeout(2000);
  const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
                          {QStringLiteral("desktop-entry"), installed::kAppId}};
  QStringList actions;
  if (offerHistory && SupportsActions()) {
    actions << kHistoryAction << kHistoryLabel;
    if (!subscribed_) {
      subscribed_ = bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                 SLOT(OnActionInvoked(uint, QString)));
    }
  }
  const QDBusReply<uint> id =
      service.call(QStringLiteral("Notify"), QStringLiteral("Kadenza"), lastId_,
                   QStringLiteral("dialog-information"), title, text, actions, hints, displayMs);
  if (!id.isValid()) {
    qWarning("kadenza: notification not shown: %s", qPrintable(id.error().message()));
    return false;
  }
  lastId_ = id.value();
  historyId_ = actions.isEmpty() ? 0 : lastId_;
  return true;
}

void Notifier::OnActionInvoked(uint id, const QString& key) {
  // The signal reaches every client of the service: only our own notification counts.
  if (id != 0 && id == historyId_ && key == kHistoryAction)
    emit HistoryRequested();
}
