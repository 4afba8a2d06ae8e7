#include "app/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QTranslator* UseCzech(QCoreApplication& app) {
  const QLocale czech(QLocale::Czech, QLocale::CzechRepublic);
  QLocale::setDefault(czech);
  auto* translator = new QTranslator(&app);
  if (!translator->load(czech, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    qWarning("kadenza: Qt's Czech translations (qtbase_cs.qm) are not installed");
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}
