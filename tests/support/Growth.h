// GrowthRatio is how much longer one run of `work` takes at ten times the size: the shape
// of its cost (about 10 when linear, about 100 when quadratic). The two sizes take turns,
// round by round, so that a burst of load on a shared machine falls on both; each round
// repeats the work until it has taken at least 30 ms, so that clock resolution does not
// matter, and the best round of each size counts.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>

namespace testsupport {

inline double GrowthRatio(const std::function<void(std::size_t)>& work, std::size_t size) {
  using Clock = std::chrono::steady_clock;
  const auto perRun = [&](std::size_t n) {
    int runs = 0;
    const Clock::time_point start = Clock::now();
    std::chrono::duration<double> spent{};
    do {
      work(n);
      ++runs;
      spent = Clock::now() - start;
    } while (spent.count() < 0.03);
    return spent.count() / runs;
  };
  double small = 1e9, large = 1e9;
  for (int round = 0; round < 5; ++round) {
    small = std::min(small, perRun(size));
    large = std::min(large, perRun(size * 10));
  }
  return large / small;
}

}  // namespace testsupport
