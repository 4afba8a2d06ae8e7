#include "smtp/clKeepAlive.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "net/clPumpHook.h"
#include "net/clWait.h"

namespace kz {

namespace {

thread_local std::vector<TclIntervalTimer*> tTimers;
thread_local bool tRunning = false;

// The first timer of the process chains RunDueTimers behind the pump hook in force then, so
// that every transport wait also serves the timers of its thread.
void ChainPumpHookOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    PumpHook previous = SetPumpHook({});
    SetPumpHook([previous] {
      if (previous)
        previous();
      RunDueTimers();
    });
  });
}

}  // namespace

TclIntervalTimer::TclIntervalTimer(std::function<void()> onTick) : FOnTick(std::move(onTick)) {}

TclIntervalTimer::~TclIntervalTimer() {
  Stop();
}

void TclIntervalTimer::Start(int intervalMs) {
  FInterval = intervalMs;
  FDueTicks = TickCount() + intervalMs;
  if (!FEnabled) {
    tTimers.push_back(this);
    FEnabled = true;
  }
  ChainPumpHookOnce();
}

void TclIntervalTimer::Stop() {
  if (!FEnabled)
    return;
  FEnabled = false;
  tTimers.erase(std::remove(tTimers.begin(), tTimers.end(), this), tTimers.end());
}

void TclIntervalTimer::Fire() {
  if (FOnTick)
    FOnTick();
}

int RunDueTimers() {
  if (tRunning)
    return 0;
  tRunning = true;
  int ran = 0;
  try {
    const std::int64_t now = TickCount();
    // A tick may stop or start timers: work on a copy and re-check membership.
    const std::vector<TclIntervalTimer*> timers = tTimers;
    for (TclIntervalTimer* timer : timers) {
      if (std::find(tTimers.begin(), tTimers.end(), timer) == tTimers.end())
        continue;
      if (timer->Enabled() && timer->DueTicks() <= now) {
        timer->Fire();
        ++ran;
      }
    }
  } catch (...) {
    tRunning = false;
    throw;
  }
  tRunning = false;
  return ran;
}

}  // namespace kz
