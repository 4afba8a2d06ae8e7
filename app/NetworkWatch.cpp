#include "app/NetworkWatch.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariant>

#include "core/ScopeGuard.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");

// NetworkManager's NMState values: 10 asleep, 20 disconnected, 30 disconnecting and 40
// connecting have no connection yet; 50 local, 60 site and 70 global do; 0 is unknown.
bool Unreachable(unsigned state) {
  return state >= 10 && state < 50;
}

}  // namespace

NetworkWatch::NetworkWatch(QObject* parent)
    : QObject(parent),
      connectionName_(
          QStringLiteral("kadenza-network-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {}

NetworkWatch::~NetworkWatch() {
  if (known_)
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool NetworkWatch::Load() {
  if (known_)
    return true;
  // A connection of its own, made when a send first asks: the program at rest keeps none. The
  // address is read each time (the D-Bus library would keep the first it saw).
  QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
  if (address.isEmpty())
    address = QStringLiteral("unix:path=/run/dbus/system_bus_socket");
  QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName_);
  // NetworkManager (or the bus) may come up after the program: a failed ask leaves nothing
  // behind, so the next send asks again.
  kz::ScopeGuard forget([this] {
    if (!known_)
      QDBusConnection::disconnectFromBus(connectionName_);
  });
  if (!bus.isConnected())
    return false;
  QDBusInterface properties(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                            bus);
  const QDBusReply<QDBusVariant> reply =
      properties.call(QStringLiteral("Get"), kService, QStringLiteral("State"));
  if (!reply.isValid())
    return false;  // no NetworkManager: sends go as they fall due
  state_ = reply.value().variant().toUInt();
  known_ = true;
  bus.connect(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
              QStringLiteral("PropertiesChanged"), this,
              SLOT(PropertiesChanged(QString, QVariantMap, QStringList)));
  return true;
}

void NetworkWatch::PropertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& /*invalidated*/) {
  const auto state = changed.find(QStringLiteral("State"));
  if (interface != kService || state == changed.end())
    return;
  const bool wasOffline = Unreachable(state_);
  state_ = state->toUInt();
  if (wasOffline && !Unreachable(state_) && state_ != 0)
    emit Online();
}

bool NetworkWatch::Offline() {
  return Load() && Unreachable(state_);
}
