#pragma once
// When a progress line is worth a line of a log file: never in a run's first
// second (a kind that finishes within it shows none), then at most once per
// tenth of the run and once per second.
#include <algorithm>
#include <chrono>

namespace morvent::cli {

class ProgressPace {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ProgressPace(Clock::time_point start) : start_(start), last_(start) {}

  // Whether the rate reached at now earns a line; if so it counts as shown.
  bool Due(double rate, Clock::time_point now) {
    constexpr auto kSecond = std::chrono::seconds(1);
    const int tenth = static_cast<int>(std::clamp(rate, 0.0, 100.0)) / 10;
    if (now - start_ < kSecond || now - last_ < kSecond || tenth <= tenth_) return false;
    tenth_ = tenth;
    last_ = now;
    return true;
  }

 private:
  Clock::time_point start_, last_;
  int tenth_ = 0;
};

}  // namespace morvent::cli
