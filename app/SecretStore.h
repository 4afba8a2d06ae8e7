// SecretStore: the account password in the desktop's keyring, through the Secret Service
// (GNOME Keyring, KWallet, KeePassXC) with libsecret. One item per account, with attributes
// a user finds again with `secret-tool`: service=smtp, host, user and application=kadenza.
// Every call takes at most `limit` (a keyring that does not answer is given up on) and runs
// without Qt, so the send job and `kadenza --send-now` use it as the window does.
// A keyring that cannot be used raises EKeyringError with one of the Failure codes below;
// the texts are Czech and say which of the cases it is.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/Error.h"

namespace keyring {

inline constexpr std::chrono::milliseconds kTimeLimit{20000};
inline constexpr std::string_view kApplication = "kadenza";
inline constexpr std::string_view kService = "smtp";

// Failure codes, the ErrorCode of EKeyringError.
enum class Failure : int {
  kNoBus = -601,       // no D-Bus session bus (a cron job, a login without a desktop)
  kNoProvider = -602,  // a session bus, but no Secret Service on it
  kLocked = -603,      // the keyring is locked and was not unlocked
  kTimedOut = -604,    // the keyring did not answer within the time limit
  kOther = -605,       // the keyring refused for another reason (its text follows)
};

// FailureText is the Czech text of a failure as the window and the error messages show it.
std::string FailureText(Failure failure, std::string_view detail = {});

class EKeyringError : public EclError {
 public:
  EKeyringError(Failure failure, std::string_view detail = {})
      : EclError(FailureText(failure, detail), static_cast<int>(failure)) {}
  Failure Kind() const { return static_cast<Failure>(ErrorCode); }
};

// The account an item belongs to.
struct Account {
  std::string host;
  std::string user;
};

// Store puts `password` into the default keyring, replacing the account's earlier item. A
// locked keyring is asked to unlock (the desktop prompts the user) before it counts as
// locked.
void Store(const Account& account, std::string_view password,
           std::chrono::milliseconds limit = kTimeLimit);

// Lookup answers the account's password, or nothing when the keyring holds no item for it.
std::optional<std::string> Lookup(const Account& account,
                                  std::chrono::milliseconds limit = kTimeLimit);

// Clear removes the account's item; false when there was none.
bool Clear(const Account& account, std::chrono::milliseconds limit = kTimeLimit);

// Probe checks that a keyring answers (a bus, a provider); it raises as the calls above do.
void Probe(std::chrono::milliseconds limit = kTimeLimit);

}  // namespace keyring
