// The scope guard runs on every way out of a scope, unless dismissed.
#include "core/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(ScopeGuard, RunsOnNormalExitAndOnExceptionButNotWhenDismissed) {
  int runs = 0;
  {
    kz::ScopeGuard guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    kz::ScopeGuard guard([&] { ++runs; });
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(runs, 2);
  {
    kz::ScopeGuard guard([&] { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 2);
}

TEST(ScopeGuard, SaveAndRestorePutsTheValueBackAfterAnException) {
  std::string value = "saved";
  try {
    kz::SaveAndRestore restore(value, std::string("temporary"));
    EXPECT_EQ(value, "temporary");
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(value, "saved");
}

}  // namespace
