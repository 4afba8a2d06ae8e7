// The application speaks Czech whatever the session's locale: Czech is the default locale
// (month and day names of the calendar, number formats) and Qt's own texts (standard
// buttons, the file dialog) come from Qt's Czech translations.
#pragma once

class QCoreApplication;
class QTranslator;

// UseCzech sets the Czech default locale and installs Qt's Czech translations into app.
// Answers the installed translator (owned by app), or nullptr when the translations are
// missing; the texts then stay English.
QTranslator* UseCzech(QCoreApplication& app);
