// NetworkWatch tells whether the desktop knows of a reachable network, through Qt's network
// information from NetworkManager, which Linux desktops run. Where no backend answers, it knows
// nothing and never says offline, so sends are tried as they fall due. The backend is loaded
// when a send first asks, so the program at rest holds none of it.
#pragma once

#include <QObject>

class NetworkWatch : public QObject {
  Q_OBJECT
 public:
  explicit NetworkWatch(QObject* parent = nullptr);

  // Offline: a backend is loaded and reports that no network is reachable.
  bool Offline();

 signals:
  // Online is emitted when the backend reports a reachable network after none.
  void Online();

 private:
  // Load loads the backend once; answers whether one reports reachability.
  bool Load();
  bool tried_ = false;
  bool known_ = false;
};
