#include "net/clPumpHook.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "net/clWait.h"

namespace kz {

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const PumpHook>& HookSlot() {
  static std::shared_ptr<const PumpHook> hook;
  return hook;
}

// Lets the waits skip the lock while no hook is installed (the usual case off a UI).
std::atomic<bool> hookInstalled{false};

std::shared_ptr<const PumpHook> CurrentHook() {
  if (!hookInstalled.load(std::memory_order_acquire))
    return nullptr;
  std::lock_guard lock(HookMutex());
  return HookSlot();
}

// When this thread last ran the hook, so that a busy transfer (whose poll() never times
// out) still runs it once a slice, and an idle one does not run it twice in a row.
thread_local std::int64_t lastPump = 0;

}  // namespace

PumpHook SetPumpHook(PumpHook hook) {
  auto next = hook ? std::make_shared<const PumpHook>(std::move(hook)) : nullptr;
  std::lock_guard lock(HookMutex());
  hookInstalled.store(next != nullptr, std::memory_order_release);
  auto previous = std::exchange(HookSlot(), std::move(next));
  return previous ? *previous : PumpHook();
}

bool PumpInstalled() {
  return hookInstalled.load(std::memory_order_acquire);
}

void Pump() {
  // The hook is held while it runs, so replacing it from inside the hook is safe.
  const auto hook = CurrentHook();
  if (!hook)
    return;
  lastPump = TickCount();
  (*hook)();
}

void PumpIfDue() {
  if (PumpInstalled() && TickCount() - lastPump >= kPumpSliceMs)
    Pump();
}

}  // namespace kz
