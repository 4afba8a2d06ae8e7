#include "app/PasswordPanel.h"

#include <QHBoxLayout>

#include "app/IniFile.h"
#include "app/PasswordStore.h"
#include "app/SettingsStore.h"

TPasswordPanel::TPasswordPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pn_heslo"));
  auto* h = new QHBoxLayout(this);
  h->setContentsMargins(0, 0, 0, 0);
  lbState = new QLabel(this);
  lbState->setWordWrap(true);
  QPalette p = lbState->palette();
  p.setColor(QPalette::WindowText, QColor(0xA0, 0x00, 0x00));
  lbState->setPalette(p);
  lbFile = new QCheckBox(kChoiceText, this);
  lbFile->setToolTip(
      QStringLiteral("Heslo se uloží do souboru setup.dat, čitelného jen pro vás, místo do "
                     "klíčenky"));
  h->addWidget(lbState, 1);
  h->addWidget(lbFile);
  hide();
}

void TPasswordPanel::ShowState(std::optional<keyring::Failure> failure, const std::string& text) {
  failure_ = failure;
  if (failure) {
    lbState->setText(QString::fromStdString(text.empty() ? keyring::FailureText(*failure) : text));
  } else {
    lbState->clear();
  }
  setVisible(failure.has_value() || lbFile->isChecked());
}

QString TPasswordPanel::Load(const IniFile* ini) {
  lbFile->setChecked(ini && passwords::FileChosen(*ini));
  std::string password;
  try {
    if (!ini) {
      if (!FileChosen())
        keyring::Probe();
    } else {
      password = settings::ReadSetting(*ini, settings::kPasswordKey);
      const keyring::Account account{settings::ReadSetting(*ini, settings::kServerKey),
                                     settings::ReadSetting(*ini, settings::kUserKey)};
      if (password.empty() && !FileChosen())
        password = keyring::Lookup(account).value_or("");
      else if (!FileChosen())
        keyring::Probe();  // a password the keyring could not take at start: say why
    }
  } catch (const keyring::EKeyringError& e) {
    ShowState(e.Kind(), e.what());
    return QString::fromStdString(password);
  }
  ShowState(std::nullopt);
  return QString::fromStdString(password);
}

std::optional<std::string> TPasswordPanel::Keep(const keyring::Account& account,
                                                const std::string& password,
                                                const std::optional<keyring::Account>& previous) {
  std::string fileValue;
  try {
    passwords::Keep(account, password, FileChosen(), previous, fileValue);
  } catch (const keyring::EKeyringError& e) {
    ShowState(e.Kind(), e.what());
    return std::nullopt;
  }
  ShowState(std::nullopt);
  return fileValue;
}

void TPasswordPanel::StoreChoice(const IniFile& ini) const {
  settings::WriteSetting(ini, passwords::kInFileKey, FileChosen() ? "1" : "0");
}
