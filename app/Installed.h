// What the program knows of its installation: its application id (the name of its desktop
// entry and icon) and, when it runs installed (its desktop entry lies in the data folder
// beside its bin folder, as `cmake --install` and the Debian package put it), that folder.
// Run from the build tree it finds no entry and draws what it needs itself.
#pragma once

#include <QString>

#include <optional>

namespace installed {

inline const QString kAppId = QStringLiteral("cz.kadenza.Kadenza");

// DataFolder is the installation's data folder ("<prefix>/share") when the desktop entry
// is installed there, else none.
std::optional<QString> DataFolder();

// TranslationsFolder is where the installation keeps its copy of Qt's Czech translations.
QString TranslationsFolder();

}  // namespace installed
