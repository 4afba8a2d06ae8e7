#include "app/SettingsStore.h"

#include <unistd.h>

#include <cerrno>

#include "app/EntryCheck.h"
#include "app/HexText.h"
#include "app/IniFile.h"
#include "app/XdgDirs.h"
#include "core/AtomicFile.h"
#include "core/CodePage.h"
#include "core/Error.h"
#include "core/StringUtils.h"
#include "core/Utf.h"

namespace settings {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  return kz::Utf16ToUtf8(units);
}

}  // namespace

std::string SenderAddress(std::string_view user, std::string_view ownAddress) {
  const std::string_view login = kz::Trim(user);
  if (!login.empty() && entrycheck::Mailbox(login) == login)
    return std::string(login);
  // The own address may carry a name ("Jan Novák <jan@example.cz>"), but it is one address.
  const std::string_view own = kz::Trim(ownAddress);
  if (!entrycheck::Mailbox(own).empty() && own.find_first_of(",;") == std::string_view::npos)
    return std::string(own);
  const std::string who = login.empty()
                              ? "Uživatel není vyplněn"
                              : "Uživatel „" + std::string(login) + "“ není e-mailová adresa";
  if (own.empty()) {
    throw EclError(who + ", a tak zprávu není od koho odeslat. Vyplňte pole „váš email“.", EINVAL);
  }
  throw EclError(who + " a váš email „" + std::string(own) + "“ také ne. Opravte pole „váš email“.",
                 EINVAL);
}

std::string DataFolder() {
  return xdg::DataHome() + "/Kadenza";
}

std::string FilePath(std::string_view name) {
  return DataFolder() + "/" + std::string(name);
}

std::string SetupFilePath() {
  return FilePath(kSetupFile);
}

bool SetupFileExists() {
  return kz::FileExists(SetupFilePath());
}

void EnsureDataFolder() {
  kz::MakeDirectories(DataFolder(), 0700);
}

void PrepareDataFolder() {
  const std::string folder = DataFolder();
  kz::RestrictToOwner(folder, 0700, true);
  std::vector<std::string> names;
  for (std::string_view name : {kSetupFile, kMessageFile, kRecipientsFile}) {
    kz::RestrictToOwner(FilePath(name), 0600, false);
    names.emplace_back(name);
  }
  names.emplace_back(kTickStateFile);
  names.emplace_back(kSendLedgerFile);
  kz::RemoveStaleTemporaries(folder, names, 60);
}

std::string DecodeMessageFile(std::string_view bytes) {
  if (kz::StartsWith(bytes, kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    return kz::ToValidUtf8(bytes);
  }
  if (kz::StartsWith(bytes, "\xFF\xFE"))
    return DecodeUtf16(bytes.substr(2), false);
  if (kz::StartsWith(bytes, "\xFE\xFF"))
    return DecodeUtf16(bytes.substr(2), true);
  return kz::AnsiDecode(bytes);
}

std::string EncodeMessageFile(const std::vector<std::string>& lines) {
  std::string out(kUtf8Bom);
  for (const std::string& line : lines)
    out.append(line).append("\r\n");
  return out;
}

std::vector<std::string> LoadMessageText(bool* exists) {
  // The message text has no size limit of its own; a text of hundreds of megabytes is not
  // something the setup window could have written, so 64 MiB is refused as damaged.
  const std::string bytes = kz::ReadWholeFile(FilePath(kMessageFile), 64u << 20, exists);
  return kz::SplitLines(DecodeMessageFile(bytes));
}

void SaveMessageText(const std::vector<std::string>& lines) {
  kz::WriteFileAtomically(FilePath(kMessageFile), EncodeMessageFile(lines));
}

void DeleteDataFiles() {
  for (std::string_view name : {kRecipientsFile, kMessageFile, kSetupFile}) {
    ::unlink(FilePath(name).c_str());
  }
}

std::string ReadSetting(const IniFile& ini, const SettingKey& setting) {
  std::string value = ini.ReadString(setting.section, setting.key);
  if (!setting.hex)
    return value;
  try {
    return HexToText(value);
  } catch (const EConvertError& e) {
    // Name the setting, so a damaged file can be mended by hand.
    throw EConvertError(std::string(e.what()) + " (" + ini.FileName() + ", [" +
                            std::string(setting.section) + "] " + std::string(setting.key) + ")",
                        e.ErrorCode);
  }
}

void WriteSetting(const IniFile& ini, const SettingKey& setting, std::string_view value) {
  ini.WriteString(setting.section, setting.key,
                  setting.hex ? TextToHex(value) : std::string(value));
}

bool IsDayChosen(const IniFile& ini, int weekday) {
  const std::string_view key = kWeekdayKeys.at(static_cast<std::size_t>(weekday - 1));
  return ini.ReadString(kDaySection, key) == key;
}

void SetDayChosen(const IniFile& ini, int weekday, bool chosen) {
  const std::string_view key = kWeekdayKeys.at(static_cast<std::size_t>(weekday - 1));
  ini.WriteString(kDaySection, key, chosen ? key : "");
}

StoredSettings StoredSettings::Load(const IniFile& ini) {
  StoredSettings s;
  s.server = ReadSetting(ini, kServerKey);
  s.port = ReadSetting(ini, kPortKey);
  s.ssl = ReadSetting(ini, kSslKey) == "1";
  s.user = ReadSetting(ini, kUserKey);
  s.password = ReadSetting(ini, kPasswordKey);
  s.recipients = ReadSetting(ini, kRecipientsKey);
  s.ownAddress = ReadSetting(ini, kOwnAddressKey);
  s.subject = ReadSetting(ini, kSubjectKey);
  for (std::size_t i = 0; i < kAttachmentKeys.size(); ++i)
    s.attachments[i] = ReadSetting(ini, kAttachmentKeys[i]);
  s.sendTime = ReadSetting(ini, kSendTimeKey);
  s.validUntil = ReadSetting(ini, kValidUntilKey);
  return s;
}

void StoredSettings::Check() const {
  SenderAddress(user, ownAddress);
  if (recipients.size() > kMaxRecipientsBytes) {
    throw EclError("Seznam příjemců je příliš dlouhý (" + std::to_string(recipients.size()) +
                       " bajtů); uložit lze nejvýše " + std::to_string(kMaxRecipientsBytes) +
                       " bajtů. Rozdělte jej do více zpráv.",
                   EINVAL);
  }
}

void StoredSettings::Save(const IniFile& ini) const {
  WriteSetting(ini, kRecipientsKey, recipients);
  WriteSetting(ini, kOwnAddressKey, ownAddress);
  WriteSetting(ini, kSendTimeKey, sendTime);
  WriteSetting(ini, kValidUntilKey, validUntil);
  WriteSetting(ini, kServerKey, server);
  WriteSetting(ini, kPortKey, port);
  WriteSetting(ini, kSslKey, ssl ? "1" : "0");
  WriteSetting(ini, kUserKey, user);
  WriteSetting(ini, kPasswordKey, password);
  WriteSetting(ini, kSubjectKey, subject);
  for (std::size_t i = 0; i < kAttachmentKeys.size(); ++i)
    WriteSetting(ini, kAttachmentKeys[i], attachments[i]);
}

}  // namespace settings
