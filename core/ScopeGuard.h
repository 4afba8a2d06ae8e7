// ScopeGuard runs a callable when the scope it lives in ends, however it ends (normal exit
// or an exception): the one way to restore a saved value or undo a step at scope exit.
//
//   const int saved = limit;
//   limit = 10;
//   kz::ScopeGuard restore([&] { limit = saved; });
//
// Dismiss cancels it (for a step that must be undone only when a later one fails). The
// callable must not throw.
#pragma once

#include <type_traits>
#include <utility>

namespace kz {

template <typename F>
class [[nodiscard]] ScopeGuard {
 public:
  explicit ScopeGuard(F action) noexcept(std::is_nothrow_move_constructible_v<F>)
      : action_(std::move(action)) {}
  ~ScopeGuard() {
    if (active_)
      action_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  void Dismiss() noexcept { active_ = false; }

 private:
  F action_;
  bool active_ = true;
};

// SaveAndRestore keeps the current value of `target` and puts it back at scope exit.
template <typename T>
class [[nodiscard]] SaveAndRestore {
 public:
  explicit SaveAndRestore(T& target) : target_(target), saved_(target) {}
  SaveAndRestore(T& target, T value)
      : target_(target), saved_(std::exchange(target, std::move(value))) {}
  ~SaveAndRestore() { target_ = std::move(saved_); }
  SaveAndRestore(const SaveAndRestore&) = delete;
  SaveAndRestore& operator=(const SaveAndRestore&) = delete;

 private:
  T& target_;
  T saved_;
};

}  // namespace kz
