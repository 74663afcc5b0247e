#include "sim/ModelClock.h"

#include <chrono>

namespace vexsim {

double ModelClock::MonotonicNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ModelClock::Restart(double rate) {
    rate_ = rate > 0.0 ? rate : 1.0;
    manual_.reset();
    base_ = MonotonicNow();
}

double ModelClock::Now() const {
    if (manual_) {
        return *manual_;
    }
    return (MonotonicNow() - base_) * rate_;
}

void ModelClock::SetManual(double t) {
    manual_ = t;
}

void ModelClock::Release() {
    if (manual_) {
        base_ = MonotonicNow() - *manual_ / rate_;
        manual_.reset();
    }
}

}  // namespace vexsim
