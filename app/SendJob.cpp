#include "app/SendJob.h"

#include <charconv>

#include "app/IniFile.h"
#include "app/PasswordStore.h"
#include "app/SettingsStore.h"
#include "core/AtomicFile.h"
#include "core/Error.h"
#include "core/Stream.h"
#include "core/StringUtils.h"
#include "mail/clMailMessage.h"
#include "smtp/clSmtp.h"

namespace sendjob {

void SetUpSmtp(TclSmtp& smtp) {
  smtp.SetUseTLS(ctAutomatic);
  smtp.SetTLSFlags(TclTlsFlags{});
  smtp.SetBatchSize(kz::kBulkBatchSize);
}

void SetUpMessage(TclMailMessage& message) {
  message.SetCharSet("UTF-8");
  message.SetContentType("text/plain");
  message.OnLoadAttachment = [](TclMailMessage*, TclAttachmentBody*, const std::string& fileName,
                                std::shared_ptr<TStream>& data, bool& handled) {
    if (fileName.empty())
      return;
    data = std::make_shared<TFileStream>(kz::OpenRegularFile(fileName), fileName);
    handled = true;
  };
}

StoredSend ReadStoredSend(const IniFile& ini) {
  StoredSend s{settings::StoredSettings::Load(ini), {}, false};
  s.text = settings::LoadMessageText(&s.textStored);
  return s;
}

std::vector<std::string> Attachments(std::span<const std::string> fields) {
  // A later field is sent even when one before it is empty: such a gap can only come from
  // a hand-edited settings file, and dropping a file the user named would lose it silently.
  std::vector<std::string> out;
  for (const std::string& field : fields) {
    if (!field.empty())
      out.push_back(field);
  }
  return out;
}

int PortNumber(std::string_view text) {
  const std::string_view digits = kz::Trim(text);
  int port = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port < 0 ||
      port > 65535) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return port;
}

void ComposeMessage(TclMailMessage& message, std::string_view text, std::string_view html,
                    std::span<const std::string> attachments) {
  if (text.empty() && html.empty() && attachments.empty())
    throw EclError("Zpráva nemá žádný text ani přílohu.");
  if (attachments.empty())
    message.BuildMessage(text, html);
  else
    message.BuildMessage(text, html, {}, attachments);
}

void Address(TclMailMessage& message, std::string_view from, std::string_view recipients,
             std::string_view subject) {
  message.SetFrom(from);
  message.ToList().SetEmailAddresses(recipients);
  message.SetSubject(subject);
}

void Connect(TclSmtp& smtp, std::string_view server, std::string_view user,
             std::string_view password, int port, bool useSasl) {
  smtp.SetServer(server);
  smtp.SetUserName(user);
  smtp.SetPassword(password);
  smtp.SetPort(port);
  smtp.SetUseSasl(useSasl);
}

void OpenSendClose(TclSmtp& smtp, TclMailMessage& message, const std::function<void()>& opened) {
  smtp.Open();
  try {
    if (opened)
      opened();
    smtp.Send(&message);
  } catch (...) {
    // The farewell still goes out; what failed in Send is what the caller hears about.
    try {
      smtp.Close();
    } catch (...) {
    }
    throw;
  }
  smtp.Close();
}

Outcome SendStored(TclSmtp& smtp, TclMailMessage& message,
                   const std::function<void(const StoredSend&)>& loaded, const Starting& starting) {
  if (!settings::SetupFileExists())
    return Outcome::kNoSettings;
  const IniFile ini(settings::SetupFilePath());
  const StoredSend stored = ReadStoredSend(ini);
  if (loaded)
    loaded(stored);
  if (smtp.Active())
    return Outcome::kBusy;
  const settings::StoredSettings& v = stored.settings;
  if (starting)
    starting(v.recipients, v.subject);
  const std::string sender = settings::SenderAddress(v.user, v.ownAddress);
  ComposeMessage(message, kz::JoinLines(stored.text, "\r\n"), "", Attachments(v.attachments));
  Address(message, sender, v.recipients, v.subject);
  Connect(smtp, v.server, v.user, passwords::Resolve(ini, v), PortNumber(v.port), v.ssl);
  OpenSendClose(smtp, message);
  return Outcome::kSent;
}

}  // namespace sendjob
