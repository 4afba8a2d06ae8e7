#include "app/SingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "app/SettingsStore.h"

namespace {

// The request a later start sends and the running copy's confirmation.
constexpr std::string_view kShowRequest = "show\n";
constexpr std::string_view kShowAnswer = "ok\n";
// A request is one short line; a peer that sends more is no later start of ours.
constexpr std::size_t kMaxRequest = 64;

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

// Address fills a local socket address; false when the path does not fit.
bool Address(const QString& path, sockaddr_un& address) {
  const QByteArray bytes = QFile::encodeName(path);
  address = {};
  address.sun_family = AF_UNIX;
  if (static_cast<std::size_t>(bytes.size()) >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return true;
}

int Remaining(const QDeadlineTimer& deadline) {
  return static_cast<int>(qMax<qint64>(1, deadline.remainingTime()));
}

// WaitFor polls `fd` for `events` until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, Remaining(deadline));
    if (n > 0)
      return true;
    if (n == 0 || errno != EINTR)
      return false;
  }
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

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
  if (!Listen())
    qWarning("kadenza: cannot listen on %s: %s", qPrintable(SocketPath()), std::strerror(errno));
  return true;
}

bool SingleInstance::Listen() {
  sockaddr_un address;
  if (!Address(SocketPath(), address)) {
    errno = ENAMETOOLONG;
    return false;
  }
  server_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!server_.Valid())
    return false;
  // The lock is ours, so a socket left behind belongs to a copy that died.
  ::unlink(address.sun_path);
  // Only the user may connect: the socket is made owner-only from the start.
  const mode_t old = ::umask(077);
  const int bound =
      ::bind(server_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::umask(old);
  if (bound != 0 || ::listen(server_.Get(), 8) != 0) {
    server_.Reset();
    return false;
  }
  acceptable_ = std::make_unique<QSocketNotifier>(server_.Get(), QSocketNotifier::Read);
  connect(acceptable_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
  return true;
}

void SingleInstance::Accept() {
  for (;;) {
    kz::UniqueFd fd(::accept4(server_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.Valid())
      return;  // nothing more waiting (or a peer that left already)
    const int key = fd.Get();
    Peer& peer = peers_[key];
    peer.fd = std::move(fd);
    peer.readable = std::make_unique<QSocketNotifier>(key, QSocketNotifier::Read);
    connect(peer.readable.get(), &QSocketNotifier::activated, this, [this, key] { Read(key); });
  }
}

void SingleInstance::Read(int key) {
  const auto it = peers_.find(key);
  if (it == peers_.end())
    return;
  Peer& peer = it->second;
  char buffer[kMaxRequest];
  const ssize_t n = ::recv(key, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return;
  if (n > 0)
    peer.request.append(buffer, static_cast<std::size_t>(n));
  const bool line = peer.request.find('\n') != std::string::npos;
  if (!line && n > 0 && peer.request.size() < kMaxRequest)
    return;  // the rest of the line is still coming
  const bool show = peer.request == kShowRequest;
  if (show)
    ::send(key, kShowAnswer.data(), kShowAnswer.size(), MSG_NOSIGNAL);
  // Erased before the signal: what it runs may take long and must not find the peer open.
  // The notifier that called goes once its call has returned.
  peer.readable->setEnabled(false);
  peer.readable.release()->deleteLater();
  peers_.erase(it);
  if (show)
    emit Activated();
}

bool SingleInstance::HandOver(int timeoutMs) const {
  sockaddr_un address;
  if (!Address(SocketPath(), address))
    return false;
  // The running copy may have taken the lock a moment ago and not listen yet: retry.
  const QDeadlineTimer deadline(timeoutMs);
  kz::UniqueFd fd;
  for (;;) {
    fd.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
      return false;
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      break;
    if (deadline.hasExpired())
      return false;
    QThread::msleep(50);
  }
  if (::send(fd.Get(), kShowRequest.data(), kShowRequest.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(kShowRequest.size())) {
    return false;
  }
  std::string answer;
  while (answer.find('\n') == std::string::npos && answer.size() < kMaxRequest) {
    if (!WaitFor(fd.Get(), POLLIN, deadline))
      return false;
    char buffer[kMaxRequest];
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer == kShowAnswer;
}
