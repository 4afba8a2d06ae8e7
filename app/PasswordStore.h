// PasswordStore: where the account password lives. By default in the desktop's keyring
// (SecretStore), with no password in setup.dat; in setup.dat (hex, owner-only, as older
// versions kept it) only when the user chose "uložit heslo do souboru", which the setting
// [Heslo] soubor=1 records. The password is never lost on the way: it leaves the file only
// after the keyring has given it back unchanged, and a Save whose keyring fails writes
// nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/SecretStore.h"
#include "app/SettingsStore.h"

class IniFile;

namespace passwords {

// "1" when the user chose to keep the password in setup.dat.
inline constexpr settings::SettingKey kInFileKey{"Heslo", "soubor"};

// The error code of a send whose keyring holds no password for the account.
inline constexpr int kNotStoredCode = -606;
// The history's result of a password moved from setup.dat into the keyring.
inline constexpr std::string_view kMovedResult = "heslo přesunuto ze setup.dat do klíčenky";

bool FileChosen(const IniFile& ini);

keyring::Account AccountOf(const settings::StoredSettings& stored);

// Resolve is the password a send logs in with: the one in setup.dat when it holds one (the
// user's choice, or a password the keyring could not take yet), else the keyring's. A
// keyring that does not answer, or holds no password for the account, raises EclError with
// the keyring's code (or kNotStoredCode) and a text that says so.
std::string Resolve(const IniFile& ini, const settings::StoredSettings& stored,
                    std::chrono::milliseconds limit = keyring::kTimeLimit);

// Keep stores the password of a Save: into the keyring (and `fileValue` becomes "") or, when
// `inFile`, into setup.dat (`fileValue` is the password). `previous` is the account stored so
// far; its keyring item goes when the account changed or the file takes the password (a
// failure to remove it is left alone). A keyring that fails raises EKeyringError before
// anything is written, so the caller keeps what was stored.
void Keep(const keyring::Account& account, std::string_view password, bool inFile,
          const std::optional<keyring::Account>& previous, std::string& fileValue,
          std::chrono::milliseconds limit = keyring::kTimeLimit);

// The outcome of MigrateFromFile.
enum class Migration {
  kNothing,  // no setup.dat, no password in it, or the user keeps it in the file
  kMoved,    // the keyring holds it now and setup.dat does not
};

// MigrateFromFile moves a password found in setup.dat into the keyring: written, read back
// and compared, and only then removed from the file (one atomic write), with one history
// line. Any failure raises and leaves the file byte for byte as it was.
Migration MigrateFromFile(std::chrono::milliseconds limit = keyring::kTimeLimit);

// ForgetStored removes the stored account's keyring item (when data are cleared); a keyring
// that fails is left alone, there being nothing the user could do about it then.
void ForgetStored(std::chrono::milliseconds limit = keyring::kTimeLimit);

}  // namespace passwords
