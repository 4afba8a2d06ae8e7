// SendRecord: the one place a send is recorded, whichever way it starts (the schedule tick,
// the test button, `kadenza --send-now`). The send tells the recorder its recipients and
// subject before it connects; the attempt goes into the send ledger then (SendSlots.h), so a
// send cut off before its outcome is found at the next start. Whatever the send ends with,
// sent or raised, becomes one history line and the attempt leaves the ledger.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "app/SendHistory.h"
#include "app/SendJob.h"

namespace sendrecord {

// The history's result of a send whose outcome was never learnt.
inline constexpr std::string_view kUnknownResult = "nevíme, zda byla zpráva odeslána";
// The result an attempt carries while its send runs.
inline constexpr std::string_view kUnderWay = "probíhá";

// Run runs `send`, giving it the `starting` callback to call once before anything connects.
// It answers what `send` answered and raises what it raised. A send that ends kNoSettings or
// kBusy without raising did nothing and leaves no line. A ledger that cannot be written
// stops the send before it starts: a send must not go out without its trace. `describe`,
// when set, gives the history's result of a send that raised (else history::ResultText).
using Describer = std::function<std::string(const std::exception_ptr&)>;
sendjob::Outcome Run(history::Kind kind,
                     const std::function<sendjob::Outcome(const sendjob::Starting&)>& send,
                     const Describer& describe = {});

// ReportOrphans puts every attempt whose process ended without an outcome into the history
// as kUnknownResult, dated when it started, and answers the balloon text naming them ("" for
// none). Such a send is never repeated on its own. Never raises.
std::string ReportOrphans();

}  // namespace sendrecord
