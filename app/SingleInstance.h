// SingleInstance keeps one running copy of the application per user and data folder: two
// copies would run two schedules and send every message twice. The running copy holds a
// lock file and listens on a local socket, both in the user's runtime folder; a later start
// finds the lock taken, asks the running copy over the socket to open its setup window, and
// ends. A lock left by a copy that died is taken over.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <map>
#include <memory>
#include <string>

#include "core/UniqueFd.h"

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QObject* parent = nullptr);
  ~SingleInstance() override;

  // Claim makes this process the running copy and answers true, or answers false when
  // another copy runs.
  bool Claim();
  // HandOver asks the running copy to open its setup window; true when it confirmed within
  // timeoutMs.
  bool HandOver(int timeoutMs = 5000) const;

  // The socket and lock file paths: the runtime folder ($XDG_RUNTIME_DIR, else the temporary
  // folder), "kadenza-" + the user id + a digest of the data folder's path.
  static QString SocketPath();
  static QString LockPath();

 signals:
  // Activated: a later start asked for the setup window.
  void Activated();

 private:
  // A later start's connection: its socket, what it sent so far, and the notifier that reads.
  struct Peer {
    kz::UniqueFd fd;
    std::string request;
    std::unique_ptr<QSocketNotifier> readable;
  };
  bool Listen();
  void Accept();
  void Read(int fd);

  std::unique_ptr<QLockFile> lock_;
  kz::UniqueFd server_;
  std::unique_ptr<QSocketNotifier> acceptable_;
  std::map<int, Peer> peers_;
};
