// Store is the one shape of a property setter that signals its change:
//
//     if (kz::Store(FField, value))
//       DoChanged();
//
// It assigns only a value that differs from the field and tells whether it did, so a
// change signal fires once for each real change and never for a value set again. The
// second form serves a property whose value another object keeps (the connection's
// time-out): `set` runs only when `value` differs from `current`.
#pragma once

#include <utility>

namespace kz {

template <class T, class V>
bool Store(T& field, V&& value) {
  if (field == value)
    return false;
  field = std::forward<V>(value);
  return true;
}

template <class T, class V, class Set>
bool Store(const T& current, V&& value, Set&& set) {
  if (current == value)
    return false;
  std::forward<Set>(set)(std::forward<V>(value));
  return true;
}

}  // namespace kz
