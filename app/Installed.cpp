#include "app/Installed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace installed {
namespace {

// The data folder as the build configured it, relative to the program's folder, so that a
// relocated installation still finds it.
QString ConfiguredDataFolder() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/" KADENZA_BIN_TO_DATA));
}

}  // namespace

std::optional<QString> DataFolder() {
  const QString data = ConfiguredDataFolder();
  if (!QFileInfo(data + QStringLiteral("/applications/") + kAppId + QStringLiteral(".desktop"))
           .isFile())
    return std::nullopt;
  return data;
}

QString TranslationsFolder() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/" KADENZA_BIN_TO_TRANSLATIONS));
}

}  // namespace installed
