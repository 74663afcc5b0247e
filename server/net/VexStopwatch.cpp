#include "server/net/VexStopwatch.h"

#include <chrono>
#include <thread>

int VexStopwatch::Now() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point origin = Clock::now();
    return int(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count());
}

void VexStopwatch::Start() {
    running_ = true;
    start_ = Now();
}

void VexStopwatch::Stop() {
    running_ = false;
    stop_ = Now();
}

double VexStopwatch::ElapsedSoFar() const {
    return (Now() - start_) / 1000.0;
}

void VexStopwatch::Delay(double seconds) {
    const double until = Now() + seconds * 1000.0;
    while (Now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
