#include "app/SendRecord.h"

#include <cstdio>
#include <optional>
#include <string>

#include "app/SendSlots.h"

namespace sendrecord {

sendjob::Outcome Run(history::Kind kind,
                     const std::function<sendjob::Outcome(const sendjob::Starting&)>& send,
                     const Describer& describe) {
  history::Event event{{}, std::string(history::KindText(kind)), std::string(kUnderWay), 0, {}};
  std::optional<sendslots::Attempt> attempt;
  const sendjob::Starting starting = [&](std::string_view recipients, std::string_view subject) {
    event.when = history::NowText();
    event.recipients = history::CountRecipients(recipients);
    event.subject = std::string(subject);
    const sendslots::Attempt own = sendslots::OwnAttempt(event);
    sendslots::AddAttempt(own);
    attempt = own;
  };
  const auto clear = [&] {
    if (!attempt)
      return;
    try {
      sendslots::RemoveAttempt(*attempt);
    } catch (const std::exception& e) {
      // The outcome is in the history; the next start names the attempt once more.
      std::fprintf(stderr, "Kadenza: %s\n", e.what());
    }
  };
  // The outcome goes into the history before the attempt leaves the ledger: cut off in
  // between, the next start names the attempt once more instead of the send leaving no trace.
  const auto finish = [&](std::string_view result) {
    history::Record(kind, result, event.recipients, event.subject);
    clear();
  };
  sendjob::Outcome outcome;
  try {
    outcome = send(starting);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    finish(describe ? describe(error) : history::ResultText(error));
    throw;
  }
  if (outcome == sendjob::Outcome::kSent)
    finish(history::kOk);
  else
    clear();
  return outcome;
}

std::string ReportOrphans() {
  std::vector<sendslots::Attempt> orphans;
  try {
    orphans = sendslots::TakeOrphans();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Kadenza: %s\n", e.what());
    return {};
  }
  if (orphans.empty())
    return {};
  const history::Event* latest = nullptr;
  for (const sendslots::Attempt& a : orphans) {
    history::Event line = a.event;
    line.result = std::string(kUnknownResult);
    history::Record(line);
    latest = &a.event;
  }
  std::string text = "Nevíme, zda byla zpráva odeslána:\rOdesílání zahájené " +
                     latest->when.substr(0, 16) +
                     " bylo přerušeno dřív, než server potvrdil příjem. Zpráva nebude odeslána "
                     "znovu; ověřte u příjemců, zda dorazila.";
  return text;
}

}  // namespace sendrecord
