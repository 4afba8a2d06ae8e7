// QtText: the one conversion between the application's text (UTF-8 in std::string) and
// Qt's QString, for the parts that show stored values in widgets.
#pragma once

#include <QString>

#include <string>
#include <string_view>

// QStr is UTF-8 text as a QString (malformed bytes become U+FFFD).
inline QString QStr(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Std is a QString as UTF-8 text.
inline std::string Std(const QString& text) {
  return text.toStdString();
}
