// The "pump pending UI work" hook, process-wide: every wait of every connection and
// resolver, and every long transfer between two waits, calls it, so that a user interface
// stays alive while the transport blocks its thread. The default (an empty hook) does
// nothing. The hook may call Abort on a connection or resolver; that ends the wait or the
// transfer in progress.
#pragma once

#include <functional>

namespace kz {

using PumpHook = std::function<void()>;

// SetPumpHook installs `hook` (an empty one removes it) and returns the hook it replaced.
PumpHook SetPumpHook(PumpHook hook);

// The slice of a wait or transfer between two calls of an installed hook, in milliseconds.
inline constexpr int kPumpSliceMs = 25;

// PumpInstalled tells whether a hook is installed.
bool PumpInstalled();
// Pump runs the installed hook now (nothing without one).
void Pump();
// PumpIfDue runs the installed hook when this thread last ran it a slice or more ago, so
// that a busy loop that never waits still gives it a turn once a slice.
void PumpIfDue();

}  // namespace kz
