// NetworkWatch tells whether NetworkManager, which Linux desktops run, knows of a network
// connection. Where it does not answer, nothing is known and nothing is offline, so sends
// are tried as they fall due. It asks over a system-bus connection of its own, made when a
// send first asks, so the program at rest holds none.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class NetworkWatch : public QObject {
  Q_OBJECT
 public:
  explicit NetworkWatch(QObject* parent = nullptr);
  ~NetworkWatch() override;

  // Offline: NetworkManager answers and has no connection.
  bool Offline();

 signals:
  // Online is emitted when NetworkManager reports a connection after none.
  void Online();

 private slots:
  void PropertiesChanged(const QString& interface, const QVariantMap& changed,
                         const QStringList& invalidated);

 private:
  // Load asks NetworkManager until it has answered once; answers whether it has.
  bool Load();

  QString connectionName_;
  bool known_ = false;
  unsigned state_ = 0;
};
