// ScopedEnv sets (or, given no value, removes) an environment variable and puts the earlier
// state back at scope exit, so one test's settings never leak into the next.
#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "core/ScopeGuard.h"

namespace testsupport {

using ScopedEnv = kz::ScopeGuard<std::function<void()>>;

inline ScopedEnv SetEnvForScope(const std::string& name, const std::optional<std::string>& value) {
  std::optional<std::string> saved;
  if (const char* old = std::getenv(name.c_str()))
    saved = old;
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
  return ScopedEnv([name, saved] {
    if (saved)
      ::setenv(name.c_str(), saved->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  });
}

// EnvForScope is SetEnvForScope as an object that can be made later in place, e.g. in a
// std::optional (the guard itself cannot be moved): env.emplace("NAME", "value").
struct EnvForScope {
  EnvForScope(const std::string& name, const std::optional<std::string>& value)
      : guard(SetEnvForScope(name, value)) {}
  ScopedEnv guard;
};

}  // namespace testsupport
