#include "app/SendNow.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "app/FailureText.h"
#include "app/SendJob.h"
#include "app/SendRecord.h"
#include "app/SettingsStore.h"
#include "mail/clMailMessage.h"
#include "smtp/clSmtp.h"

namespace {

// Notices use CR as their line break; a terminal wants LF.
std::string ForTerminal(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r')
      c = '\n';
  }
  return out;
}

}  // namespace

int SendNow() {
  std::array<std::string, 3> attachments;
  TclSmtp smtp;
  const failure::SendWatch watch(smtp);
  const auto describe = [&](const std::exception_ptr& error) {
    return failure::Describe(error, watch.Context(attachments));
  };
  try {
    sendjob::SetUpSmtp(smtp);
    TclMailMessage message;
    sendjob::SetUpMessage(message);
    const sendjob::Outcome outcome = sendrecord::Run(
        history::Kind::kSendNow,
        [&](const sendjob::Starting& starting) {
          return sendjob::SendStored(
              smtp, message,
              [&](const sendjob::StoredSend& stored) { attachments = stored.settings.attachments; },
              starting);
        },
        [&](const std::exception_ptr& error) { return describe(error).HistoryText(); });
    switch (outcome) {
      case sendjob::Outcome::kSent:
        std::printf("%s\n", ForTerminal(kSentNowText).c_str());
        return kSendNowSent;
      case sendjob::Outcome::kNoSettings:
        std::fprintf(stderr, "Kadenza: soubor nastavení %s neexistuje, nic nebylo odesláno.\n",
                     settings::SetupFilePath().c_str());
        return kSendNowFailed;
      case sendjob::Outcome::kBusy:  // a component of its own is never busy
        break;
    }
    return kSendNowFailed;
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    const failure::Failure f = describe(error);
    std::fprintf(stderr, "Kadenza: %s\n", ForTerminal(f.Shown()).c_str());
    if (!f.detail.empty() && !f.RepeatsSentence())
      std::fprintf(stderr, "Podrobnosti: %s\n", ForTerminal(f.detail).c_str());
    // Once DATA is out, a failure without the server's reply may follow its delivery:
    // trying again could send it twice, so that is never a "try later".
    return watch.Kind(error) == retry::FailureKind::kTemporary ? kSendNowTryLater : kSendNowFailed;
  }
}
