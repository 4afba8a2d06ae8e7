// The send job: it delivers the stored message once. It reads the stored settings (setup.dat
// and zprava.dat) into values of its own, composes the message from the stored text,
// recipients, subject and attachments, connects to the stored server, sends and always
// closes again. The setup window's hidden send button, the test button and
// `kadenza --send-now` run their dialogues through the pieces below; no Qt is needed here.
#pragma once

#include <array>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/SettingsStore.h"

class TclMailMessage;
class TclSmtp;

namespace sendjob {

// The success notice of a scheduled send, titled "Kadenza" (CR is its line break).
inline constexpr std::string_view kSentText =
    "Úspěšné odeslání:\r"
    "Vaše naplánované odeslání bylo úspěšné.";

// What a send takes from the data folder: the settings of setup.dat and the message text.
struct StoredSend {
  settings::StoredSettings settings;
  std::vector<std::string> text;  // the lines of zprava.dat
  bool textStored = false;        // zprava.dat was there
};

// SetUpSmtp gives an SMTP component the application's settings: TLS follows the port (25
// and 587 start plain and upgrade, any other port is TLS from the first byte) and the TLS
// versions are left to the TLS library; the message goes out in batches of 64 KiB.
// SetUpMessage: charset UTF-8, type text/plain, and attachments opened by
// kz::OpenRegularFile: without blocking, a FIFO, device or folder refused with an error
// naming it (a FIFO would otherwise hold the send for ever), and a missing file reported
// when the message is composed, before anything is connected.
void SetUpSmtp(TclSmtp& smtp);
void SetUpMessage(TclMailMessage& message);

// ReadStoredSend reads setup.dat and zprava.dat; a hex value that does not decode raises
// EConvertError.
StoredSend ReadStoredSend(const IniFile& ini);

// Attachments: every non-empty attachment field, in field order.
std::vector<std::string> Attachments(std::span<const std::string> fields);

// PortNumber converts the port text; anything but a whole number from 0 to 65535 raises
// EConvertError.
int PortNumber(std::string_view text);

// ComposeMessage builds the message from a plain text, an HTML text (may be empty) and the
// attachment paths. A message with neither text nor attachment is refused with EclError
// before anything is built.
void ComposeMessage(TclMailMessage& message, std::string_view text, std::string_view html,
                    std::span<const std::string> attachments);

// Address sets the sender, the recipients (split at commas, semicolons and line ends) and
// the subject.
void Address(TclMailMessage& message, std::string_view from, std::string_view recipients,
             std::string_view subject);

// Connect sets the server, the log-in and the port of an SMTP component.
void Connect(TclSmtp& smtp, std::string_view server, std::string_view user,
             std::string_view password, int port, bool useSasl);

// OpenSendClose opens, runs `opened` (when set), sends the message and closes; Close runs
// also when Send fails, and the error of Send is the one that leaves.
void OpenSendClose(TclSmtp& smtp, TclMailMessage& message,
                   const std::function<void()>& opened = {});

enum class Outcome {
  kSent,        // the message went out
  kNoSettings,  // there is no setup.dat: nothing was done
  kBusy,        // the component is still connected: nothing was done
};

// Starting is told the recipients and the subject of a send once they are known, before the
// message is composed or anything connects (the send's recorder notes the attempt then). What
// it raises ends the job before anything goes out.
using Starting = std::function<void(std::string_view recipients, std::string_view subject)>;

// SendStored runs the whole job with the given components: settings, message, the password
// (passwords::Resolve: setup.dat or the keyring), dialogue.
// `loaded`, when set, sees the stored values before the message is composed. The sender is
// settings::SenderAddress: with no address to send from nothing is composed or sent.
Outcome SendStored(TclSmtp& smtp, TclMailMessage& message,
                   const std::function<void(const StoredSend&)>& loaded = {},
                   const Starting& starting = {});

}  // namespace sendjob
