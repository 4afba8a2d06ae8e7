// Where the application keeps its state: the data folder $XDG_DATA_HOME/Kadenza (default
// ~/.local/share/Kadenza) with the settings file setup.dat, the message text zprava.dat and
// prijemce.dat (only ever deleted). The folder is created owner-only (0700) and every file
// is written owner-only (0600), atomically.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class IniFile;

namespace settings {

inline constexpr std::string_view kSetupFile = "setup.dat";
inline constexpr std::string_view kMessageFile = "zprava.dat";
inline constexpr std::string_view kRecipientsFile = "prijemce.dat";
// The time of the last schedule tick, replaced atomically at every tick.
inline constexpr std::string_view kTickStateFile = "posledni-tik.dat";
// The send ledger (SendSlots.h): the last served send slot and the sends under way.
inline constexpr std::string_view kSendLedgerFile = "odesilani.dat";

// DataFolder is the data folder's path, without a trailing separator.
std::string DataFolder();
// FilePath is DataFolder() + "/" + name.
std::string FilePath(std::string_view name);
std::string SetupFilePath();
bool SetupFileExists();

// EnsureDataFolder creates the data folder and any missing parents (mode 0700).
void EnsureDataFolder();

// PrepareDataFolder runs at start: it tightens an existing data folder to 0700 and its data
// files to 0600 (left wider by an older version or by hand) and removes the temporary files
// of saves killed half-way that are older than a minute. A folder or data file of the wrong
// kind (a FIFO, a device), or permissions that cannot be tightened, raise EclError.
void PrepareDataFolder();

// LoadMessageText reads zprava.dat into lines. A byte-order mark selects UTF-8 or UTF-16;
// a file without one is read as windows-1250. `exists` tells whether the file was there.
std::vector<std::string> LoadMessageText(bool* exists = nullptr);

// SaveMessageText writes the lines, each ended by CR LF, as UTF-8 with a byte-order mark.
void SaveMessageText(const std::vector<std::string>& lines);

// DeleteDataFiles deletes prijemce.dat, zprava.dat and setup.dat, in that order, each when
// present; a failed deletion is ignored.
void DeleteDataFiles();

// ---- setup.dat: every stored setting's section and key, in one place ----

// One setting: its section and key, and whether the value is stored as hex of its UTF-8
// bytes (TextToHex).
struct SettingKey {
  std::string_view section;
  std::string_view key;
  bool hex = false;
};

inline constexpr SettingKey kServerKey{"SMTP", "server", true};
inline constexpr SettingKey kPortKey{"SMTP", "port"};
inline constexpr SettingKey kSslKey{"SMTP", "ssl"};  // "1" when TLS/SSL is on
inline constexpr SettingKey kUserKey{"User", "name", true};
inline constexpr SettingKey kPasswordKey{"Heslo", "pass", true};
inline constexpr SettingKey kRecipientsKey{"Prijemce", "komu", true};  // lines joined by CR LF
inline constexpr SettingKey kOwnAddressKey{"Email", "MyMail", true};
inline constexpr SettingKey kSubjectKey{"Predmet", "predmet"};
inline constexpr std::array<SettingKey, 3> kAttachmentKeys = {SettingKey{"Soubor", "priloha1"},
                                                              SettingKey{"Soubor", "priloha2"},
                                                              SettingKey{"Soubor", "priloha3"}};
inline constexpr SettingKey kSendTimeKey{"Cas", "cas"};    // "hh:mm:ss"
inline constexpr SettingKey kValidUntilKey{"Do", "datm"};  // "dd.mm.yyyy"

// The send days: in section "Datum" one key per weekday, holding its own name when the day
// is chosen and empty text when not. kWeekdayKeys[n - 1] is the key of weekday number n
// (1 = Sunday .. 7 = Saturday).
inline constexpr std::string_view kDaySection = "Datum";
inline constexpr std::array<std::string_view, 7> kWeekdayKeys = {"Ne", "Po", "Ut", "St",
                                                                 "Ct", "Pa", "So"};
// MondayFirst is the weekday number of the i-th day (0-based) of a week that starts on
// Monday, the order of the setup window's day buttons.
constexpr int MondayFirst(std::size_t i) {
  return static_cast<int>((i + 1) % 7) + 1;
}

// ReadSetting / WriteSetting read and store one setting, hex-decoding and -encoding it.
std::string ReadSetting(const IniFile& ini, const SettingKey& setting);
void WriteSetting(const IniFile& ini, const SettingKey& setting, std::string_view value);
// IsDayChosen: the weekday's key holds exactly its own name.
bool IsDayChosen(const IniFile& ini, int weekday);
void SetDayChosen(const IniFile& ini, int weekday, bool chosen);

// The account, message and schedule settings of setup.dat (the days aside).
struct StoredSettings {
  std::string server;
  std::string port;
  bool ssl = false;
  std::string user;
  std::string password;
  std::string recipients;
  std::string ownAddress;
  std::string subject;
  std::array<std::string, 3> attachments;
  std::string sendTime;
  std::string validUntil;

  static StoredSettings Load(const IniFile& ini);
  // Check raises EclError (EINVAL) for settings that cannot be sent as they stand: no sender
  // address (SenderAddress) or a recipient list longer than kMaxRecipientsBytes. The setup
  // window runs it before anything is written, so a refused save leaves setup.dat as it was.
  void Check() const;
  // Save stores every field, in the order the setup window always wrote them.
  void Save(const IniFile& ini) const;
};

// The longest recipient list Save stores, in UTF-8 bytes. Hex doubles it, and the whole
// setup.dat must stay within its read cap (IniFile::kMaxFileSize) beside the other values.
inline constexpr std::size_t kMaxRecipientsBytes = 256u * 1024u;

// SenderAddress answers the address a message goes out from: the user name when it is an
// e-mail address, else the own address (field "váš email"). Many company servers log in
// with a name such as "jnovak" or "DOMAIN\jnovak", which no server takes as a sender.
// Where neither is an address, EclError (EINVAL) says which field to fill.
std::string SenderAddress(std::string_view user, std::string_view ownAddress);

// Decoding and encoding of zprava.dat's bytes, exposed for tests.
std::string DecodeMessageFile(std::string_view bytes);
std::string EncodeMessageFile(const std::vector<std::string>& lines);

}  // namespace settings
