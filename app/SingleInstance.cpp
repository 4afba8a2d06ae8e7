#include "app/SingleInstance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include "app/SettingsStore.h"

namespace {

// The request a later start sends and the running copy's confirmation.
constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kShowAnswer = "ok\n";

QString BasePath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    folder = QDir::tempPath();
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(settings::DataFolder()),
                               QCryptographicHash::Sha256)
          .toHex()
          .left(16);
  return folder + QStringLiteral("/kadenza-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::Answer);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::SocketPath() {
  return BasePath() + QStringLiteral(".sock");
}

QString SingleInstance::LockPath() {
  return BasePath() + QStringLiteral(".lock");
}

bool SingleInstance::Claim() {
  auto lock = std::make_unique<QLockFile>(LockPath());
  // Stale only when the copy that holds it is gone, however long it has run.
  lock->setStaleLockTime(0);
  if (!lock->tryLock(0))
    return false;
  lock_ = std::move(lock);
  // The lock is ours, so a socket left behind belongs to a copy that died.
  QLocalServer::removeServer(SocketPath());
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(SocketPath()))
    qWarning("kadenza: cannot listen on %s: %s", qPrintable(SocketPath()),
             qPrintable(server_.errorString()));
  return true;
}

void SingleInstance::Answer() {
  while (QLocalSocket* peer = server_.nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      if (!peer->canReadLine())
        return;
      const QByteArray request = peer->readLine();
      if (request == kShowRequest.toByteArray()) {
        peer->write(kShowAnswer.data(), kShowAnswer.size());
        peer->flush();
        emit Activated();
      }
      peer->disconnectFromServer();
    });
  }
}

bool SingleInstance::HandOver(int timeoutMs) const {
  // The running copy may have taken the lock a moment ago and not listen yet: retry.
  const QDeadlineTimer deadline(timeoutMs);
  QLocalSocket socket;
  for (;;) {
    socket.connectToServer(SocketPath());
    if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
      break;
    if (deadline.hasExpired())
      return false;
    socket.abort();
    QThread::msleep(50);
  }
  socket.write(kShowRequest.data(), kShowRequest.size());
  if (!socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
    return false;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
      return false;
  }
  return socket.readLine() == kShowAnswer.toByteArray();
}
