// Where the application keeps its state: the data folder $XDG_DATA_HOME/Kadenza (default
// ~/.local/share/Kadenza) with the settings file setup.dat, the message text zprava.dat and
// prijemce.dat (only ever deleted). The folder is created owner-only (0700) and every file
// is written owner-only (0600), atomically.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace settings {

inline constexpr std::string_view kSetupFile = "setup.dat";
inline constexpr std::string_view kMessageFile = "zprava.dat";
inline constexpr std::string_view kRecipientsFile = "prijemce.dat";

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

// Decoding and encoding of zprava.dat's bytes, exposed for tests.
std::string DecodeMessageFile(std::string_view bytes);
std::string EncodeMessageFile(const std::vector<std::string>& lines);

}  // namespace settings
