#include "app/NetworkWatch.h"

#include <QNetworkInformation>

namespace {

bool Unreachable(QNetworkInformation::Reachability r) {
  return r == QNetworkInformation::Reachability::Disconnected;
}

}  // namespace

NetworkWatch::NetworkWatch(QObject* parent) : QObject(parent) {}

bool NetworkWatch::Load() {
  if (tried_)
    return known_;
  tried_ = true;
  // NetworkManager only: a monitor that merely reads the routing table calls a machine with
  // no default route offline, although its mail server may be on the local network.
  if (!QNetworkInformation::loadBackendByName(u"networkmanager"))
    return false;
  QNetworkInformation* info = QNetworkInformation::instance();
  if (!info)
    return false;
  known_ = true;
  connect(info, &QNetworkInformation::reachabilityChanged, this,
          [this](QNetworkInformation::Reachability r) {
            if (!Unreachable(r) && r != QNetworkInformation::Reachability::Unknown)
              emit Online();
          });
  return true;
}

bool NetworkWatch::Offline() {
  if (!Load())
    return false;
  const QNetworkInformation* info = QNetworkInformation::instance();
  return info && Unreachable(info->reachability());
}
