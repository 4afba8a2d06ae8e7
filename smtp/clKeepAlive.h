// TclIntervalTimer: a periodic timer that belongs to the thread that starts it. Ticks run
// only on that thread, from RunDueTimers(), which a program calls from its own event loop;
// while a timer runs, every wait of the transport (the pump hook) calls it too, so a
// program without an event loop still gets its ticks while a connection waits.
#pragma once

#include <cstdint>
#include <functional>

namespace kz {

class TclIntervalTimer {
 public:
  explicit TclIntervalTimer(std::function<void()> onTick);
  ~TclIntervalTimer();
  TclIntervalTimer(const TclIntervalTimer&) = delete;
  TclIntervalTimer& operator=(const TclIntervalTimer&) = delete;

  // Start (re)arms the timer: the first tick is due intervalMs from now.
  void Start(int intervalMs);
  void Stop();
  bool Enabled() const { return FEnabled; }

  // Fire runs the tick now (RunDueTimers calls it when the timer is due).
  void Fire();
  std::int64_t DueTicks() const { return FDueTicks; }

 private:
  std::function<void()> FOnTick;
  int FInterval = 0;
  std::int64_t FDueTicks = 0;
  bool FEnabled = false;
};

// RunDueTimers runs, on the calling thread, the ticks of that thread's timers that are due.
// A tick never runs inside another tick. Returns the number of ticks run.
int RunDueTimers();

}  // namespace kz
