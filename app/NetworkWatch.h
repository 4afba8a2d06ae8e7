// NetworkWatch tells whether the desktop knows of a reachable network, through Qt's network
// information from NetworkManager, which Linux desktops run. Where no backend answers, it knows
// nothing and never says offline, so sends are tried as they fall due.
#pragma once

#include <QObject>

class NetworkWatch : public QObject {
  Q_OBJECT
 public:
  explicit NetworkWatch(QObject* parent = nullptr);

  // Offline: a backend is loaded and reports that no network is reachable.
  bool Offline() const;
  // Known: a backend is loaded and reports reachability at all.
  bool Known() const { return known_; }

 signals:
  // Online is emitted when the backend reports a reachable network after none.
  void Online();

 private:
  bool known_ = false;
};
