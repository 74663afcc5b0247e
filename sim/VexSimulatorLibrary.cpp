// libVexSimulator.so: the simulator device library, reporting the simulated machine's
// positions and probe hits directly.
//
// Hit reports a touch once, on the first call made while the probe is still deflected
// from it, just as the card's trigger and latch bits let the server see a touch only while
// the probe is deflected. A touch whose whole deflection passes without a Hit call (the
// server polls only while a client is connected) is dropped rather than reported late, so
// a client that connects never receives a backlog of old hits. All entry points take one
// lock, so concurrent callers are safe.

#include <mutex>

#include "sim/SimSession.h"
#include "sim/include/vexsim_control.h"
#include "sim/include/vexsimulator.h"

namespace {

struct Simulator {
    std::mutex mutex;
    vexsim::SimSession session;
    uint64_t touchesDone = 0;  // touches reported or dropped
};

// Never destroyed: the server may call Close from its own static destructors, after this
// library's would have run.
Simulator& TheSimulator() {
    static Simulator* simulator = new Simulator;
    return *simulator;
}

VexPosition ToVexPosition(const vexsim::Pose& p) {
    return VexPosition{p.x, p.y, p.z, p.w};
}

template <typename R, typename F>
R WithRunning(R stopped, F f) {
    Simulator& sim = TheSimulator();
    std::lock_guard lock(sim.mutex);
    if (!sim.session.IsRunning()) {
        return stopped;
    }
    return f(sim);
}

}  // namespace

extern "C" {

int Init(void) {
    vexsim::LogCall("Init");
    Simulator& sim = TheSimulator();
    std::lock_guard lock(sim.mutex);
    sim.touchesDone = 0;
    return sim.session.Start() ? 1 : 0;
}

void Close(void) {
    vexsim::LogCall("Close");
    Simulator& sim = TheSimulator();
    std::lock_guard lock(sim.mutex);
    sim.session.Stop();
}

unsigned char Position(VexPosition* out) {
    if (out == nullptr) {
        return 0;
    }
    return WithRunning<unsigned char>(0, [out](Simulator& sim) {
        const double now = sim.session.Now();
        sim.session.LogTouches(sim.session.model().TouchesBy(now));
        *out = ToVexPosition(sim.session.model().At(now).pose);
        return 1;
    });
}

unsigned char Hit(VexPosition* out) {
    if (out == nullptr) {
        return 0;
    }
    return WithRunning<unsigned char>(0, [out](Simulator& sim) {
        const vexsim::MachineModel& model = sim.session.model();
        const double now = sim.session.Now();
        const uint64_t touches = model.TouchesBy(now);
        sim.session.LogTouches(touches);
        if (touches <= sim.touchesDone) {
            return 0;
        }
        sim.touchesDone = touches;
        // While deflected, the newest touch is the one the probe is resting on.
        if (!model.At(now).deflected) {
            return 0;
        }
        *out = ToVexPosition(model.TouchNo(touches - 1).pose);
        return 1;
    });
}

// Stand-in extras (sim/include/vexsim_control.h).

void VexSim_SetTime(double seconds) {
    WithRunning(0, [=](Simulator& sim) {
        sim.session.SetTime(seconds);
        return 0;
    });
}

double VexSim_Now(void) {
    return WithRunning(0.0, [](Simulator& sim) { return sim.session.Now(); });
}

uint32_t VexSim_TouchCount(void) {
    return WithRunning(uint32_t{0}, [](Simulator& sim) {
        return static_cast<uint32_t>(sim.session.TouchesSoFar());
    });
}

double VexSim_LastTouchTime(void) {
    return WithRunning(-1.0, [](Simulator& sim) { return sim.session.LastTouchMonotonic(); });
}

}  // extern "C"
