#include "app/PasswordStore.h"

#include "app/IniFile.h"
#include "app/SendHistory.h"

namespace passwords {
namespace {

bool SameAccount(const keyring::Account& a, const keyring::Account& b) {
  return a.host == b.host && a.user == b.user;
}

void ClearQuietly(const keyring::Account& account, std::chrono::milliseconds limit) {
  try {
    keyring::Clear(account, limit);
  } catch (const keyring::EKeyringError&) {
    // A leftover item holds no password the settings use; nothing is lost by keeping it.
  }
}

}  // namespace

bool FileChosen(const IniFile& ini) {
  return settings::ReadSetting(ini, kInFileKey) == "1";
}

keyring::Account AccountOf(const settings::StoredSettings& stored) {
  return {stored.server, stored.user};
}

std::string Resolve(const IniFile& ini, const settings::StoredSettings& stored,
                    std::chrono::milliseconds limit) {
  if (!stored.password.empty() || FileChosen(ini))
    return stored.password;
  std::optional<std::string> password;
  try {
    password = keyring::Lookup(AccountOf(stored), limit);
  } catch (const keyring::EKeyringError& e) {
    throw EclError(std::string(e.what()) +
                       " Heslo k účtu nelze načíst; v nastavení lze zvolit "
                       "„uložit heslo do souboru“.",
                   e.ErrorCode);
  }
  if (!password) {
    throw EclError("V klíčence není uloženo heslo účtu " + stored.user + " na serveru " +
                       stored.server + ". Uložte nastavení znovu.",
                   kNotStoredCode);
  }
  return *password;
}

void Keep(const keyring::Account& account, std::string_view password, bool inFile,
          const std::optional<keyring::Account>& previous, std::string& fileValue,
          std::chrono::milliseconds limit) {
  if (inFile) {
    fileValue = std::string(password);
    ClearQuietly(account, limit);
    if (previous && !SameAccount(*previous, account))
      ClearQuietly(*previous, limit);
    return;
  }
  keyring::Store(account, password, limit);
  fileValue.clear();
  if (previous && !SameAccount(*previous, account))
    ClearQuietly(*previous, limit);
}

Migration MigrateFromFile(std::chrono::milliseconds limit) {
  if (!settings::SetupFileExists())
    return Migration::kNothing;
  const IniFile ini(settings::SetupFilePath());
  if (FileChosen(ini))
    return Migration::kNothing;
  const std::string password = settings::ReadSetting(ini, settings::kPasswordKey);
  if (password.empty())
    return Migration::kNothing;
  const keyring::Account account{settings::ReadSetting(ini, settings::kServerKey),
                                 settings::ReadSetting(ini, settings::kUserKey)};
  keyring::Store(account, password, limit);
  if (keyring::Lookup(account, limit) != password)
    throw keyring::EKeyringError(keyring::Failure::kOther, "heslo se po uložení nepřečetlo zpět");
  settings::WriteSetting(ini, settings::kPasswordKey, "");
  history::Record(history::Kind::kKeyring, kMovedResult, 0, {});
  return Migration::kMoved;
}

void ForgetStored(std::chrono::milliseconds limit) {
  if (!settings::SetupFileExists())
    return;
  try {
    const IniFile ini(settings::SetupFilePath());
    ClearQuietly({settings::ReadSetting(ini, settings::kServerKey),
                  settings::ReadSetting(ini, settings::kUserKey)},
                 limit);
  } catch (const EConvertError&) {
    // A damaged account name finds no item.
  }
}

}  // namespace passwords
