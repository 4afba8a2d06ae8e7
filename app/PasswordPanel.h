// TPasswordPanel: the setup window's part that says where the password is kept. It stays
// hidden while the keyring works and the password is kept there. When no keyring answers it
// says which case it is (no session bus, no keyring service, a locked keyring) and offers
// the explicit choice "uložit heslo do souboru", which keeps the password in setup.dat
// (owner-only) as older versions did; once chosen it stays visible, so the choice can be
// taken back.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include <optional>
#include <string>

#include "app/SecretStore.h"

class IniFile;

class TPasswordPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TPasswordPanel(QWidget* parent = nullptr);

  static inline const QString kChoiceText = QStringLiteral("uložit heslo do souboru");

  // Load shows the stored choice and answers the stored password: the file's, else the
  // keyring's ("" and the keyring's state shown when it does not answer). With no settings
  // file (`ini` null) it only checks that a keyring answers.
  QString Load(const IniFile* ini);

  // Keep stores `password` for a Save where the choice puts it and answers what setup.dat
  // gets, or nothing when the keyring failed: the panel then shows why, the choice is
  // offered, and nothing may be written.
  std::optional<std::string> Keep(const keyring::Account& account, const std::string& password,
                                  const std::optional<keyring::Account>& previous);

  // StoreChoice writes the choice into setup.dat, after a Keep that succeeded.
  void StoreChoice(const IniFile& ini) const;

  bool FileChosen() const { return lbFile->isChecked(); }
  // Failure is the keyring's state shown, if any.
  std::optional<keyring::Failure> Failure() const { return failure_; }

  // Components.
  QLabel* lbState;
  QCheckBox* lbFile;

 private:
  void ShowState(std::optional<keyring::Failure> failure, const std::string& text = {});

  std::optional<keyring::Failure> failure_;
};
