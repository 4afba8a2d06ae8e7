#include "app/SendNow.h"

#include <cstdio>
#include <exception>
#include <string>

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
  try {
    TclSmtp smtp;
    sendjob::SetUpSmtp(smtp);
    TclMailMessage message;
    sendjob::SetUpMessage(message);
    const sendjob::Outcome outcome =
        sendrecord::Run(history::Kind::kSendNow, [&](const sendjob::Starting& starting) {
          return sendjob::SendStored(smtp, message, {}, starting);
        });
    switch (outcome) {
      case sendjob::Outcome::kSent:
        std::printf("%s\n", ForTerminal(sendjob::kSentText).c_str());
        return 0;
      case sendjob::Outcome::kNoSettings:
        std::fprintf(stderr, "Kadenza: soubor nastavení %s neexistuje, nic nebylo odesláno.\n",
                     settings::SetupFilePath().c_str());
        return 1;
      case sendjob::Outcome::kBusy:  // a component of its own is never busy
        break;
    }
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Kadenza: %s\n", ForTerminal(e.what()).c_str());
    return 1;
  }
}
