#pragma once
// ModelClock: the simulated machine's time, in seconds since Restart().
//
// It runs on the monotonic clock (std::chrono::steady_clock, CLOCK_MONOTONIC on Linux),
// optionally faster or slower by a rate, or it is held at a time set by hand so tests and
// benchmarks can step the machine without waiting. Not thread-safe; its owner locks.

#include <optional>

namespace vexsim {

class ModelClock {
  public:
    // Starts again at model time 0 on the monotonic clock; `rate` is model seconds per real
    // second and must be greater than 0.
    void Restart(double rate = 1.0);

    double Now() const;

    // Holds the clock at model time t until the next SetManual() or Release().
    void SetManual(double t);
    // Lets the clock run again from where it was held.
    void Release();
    bool IsManual() const { return manual_.has_value(); }

    // Monotonic time, in seconds, at which the clock shows (or showed) model time t.
    double MonotonicAt(double t) const { return base_ + t / rate_; }

    static double MonotonicNow();

  private:
    double base_ = 0.0;  // monotonic seconds at model time 0
    double rate_ = 1.0;
    std::optional<double> manual_;
};

}  // namespace vexsim
