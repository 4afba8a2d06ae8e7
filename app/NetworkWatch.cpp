#include "app/NetworkWatch.h"

#include <QNetworkInformation>

namespace {

bool Unreachable(QNetworkInformation::Reachability r) {
  return r == QNetworkInformation::Reachability::Disconnected;
}

}  // namespace

NetworkWatch::NetworkWatch(QObject* parent) : QObject(parent) {
  // NetworkManager only: a monitor that merely reads the routing table calls a machine with
  // no default route offline, although its mail server may be on the local network.
  if (!QNetworkInformation::loadBackendByName(u"networkmanager"))
    return;
  QNetworkInformation* info = QNetworkInformation::instance();
  if (!info)
    return;
  known_ = true;
  connect(info, &QNetworkInformation::reachabilityChanged, this,
          [this](QNetworkInformation::Reachability r) {
            if (!Unreachable(r) && r != QNetworkInformation::Reachability::Unknown)
              emit Online();
          });
}

bool NetworkWatch::Offline() const {
  if (!known_)
    return false;
  const QNetworkInformation* info = QNetworkInformation::instance();
  return info && Unreachable(info->reachability());
}
