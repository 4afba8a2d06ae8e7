#include "app/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/Installed.h"

QTranslator* UseCzech(QCoreApplication& app) {
  const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
  QLocale::setDefault(czech);
  auto* translator = new QTranslator(&app);
  // Qt's own folder first (the distribution's translations), then the installation's copy.
  const auto load = [&](const QString& folder) {
    return translator->load(czech, QStringLiteral("qtbase"), QStringLiteral("_"), folder);
  };
  if (!load(QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      !load(installed::TranslationsFolder())) {
    qWarning("kadenza: Qt's Czech translations (qtbase_cs.qm) are not installed");
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}
