#include "sim/MachineModel.h"

#include <algorithm>
#include <cmath>

namespace vexsim {
namespace {

Pose Lerp(const Pose& a, const Pose& b, double f) {
    return Pose{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f,
                a.w + (b.w - a.w) * f};
}

// Whole passes completed after `elapsed` seconds, capped so that the count stays exact in
// a double and in 64 bits even for absurd times.
double WholePasses(double elapsed, double passSeconds) {
    return std::min(std::floor(elapsed / passSeconds), 1.0e15);
}

}  // namespace

MachineModel::MachineModel(const MotionScript& script) {
    first_ = BuildPass(script.start, script.steps);
    again_ = BuildPass(first_.end, script.steps);
    // A repeated pass that takes no time would make the probe's time stand still; the parser
    // refuses such scripts, and a hand-made one simply stops at its end.
    repeat_ = script.repeat && again_.seconds > 0.0;
}

MachineModel::Pass MachineModel::BuildPass(const Pose& start, const std::vector<Step>& steps) {
    Pass pass;
    pass.start = start;
    Pose at = start;
    double t = 0.0;
    const auto add = [&](const Pose& to, double seconds, bool deflected) {
        if (seconds > 0.0) {
            pass.segments.push_back(Segment{t, t + seconds, at, to, deflected});
            t += seconds;
        }
        at = to;
    };
    for (const Step& step : steps) {
        switch (step.kind) {
            case StepKind::Move:
                add(step.target, MoveSeconds(at, step.target, step.speed), false);
                break;
            case StepKind::Touch:
                add(step.target, MoveSeconds(at, step.target, step.speed), false);
                pass.touches.push_back(Touch{t, step.target});
                add(step.target, step.seconds, true);
                break;
            case StepKind::Pause:
                add(at, step.seconds, false);
                break;
        }
    }
    pass.end = at;
    pass.seconds = t;
    return pass;
}

MachineModel::Sample MachineModel::SampleOf(const Pass& pass, double local) {
    const auto it = std::upper_bound(pass.segments.begin(), pass.segments.end(), local,
                                     [](double t, const Segment& s) { return t < s.t1; });
    if (it == pass.segments.end()) {
        return Sample{pass.end, false};
    }
    return Sample{Lerp(it->from, it->to, (local - it->t0) / (it->t1 - it->t0)), it->deflected};
}

uint64_t MachineModel::TouchesIn(const Pass& pass, double local) {
    return static_cast<uint64_t>(
        std::upper_bound(pass.touches.begin(), pass.touches.end(), local,
                         [](double t, const Touch& touch) { return t < touch.time; }) -
        pass.touches.begin());
}

MachineModel::Sample MachineModel::At(double t) const {
    if (!(t > 0.0)) {
        t = 0.0;
    }
    if (t < first_.seconds || !Repeats()) {
        return SampleOf(first_, t);
    }
    const double elapsed = t - first_.seconds;
    const double local = elapsed - WholePasses(elapsed, again_.seconds) * again_.seconds;
    return SampleOf(again_, std::clamp(local, 0.0, again_.seconds));
}

uint64_t MachineModel::TouchesBy(double t) const {
    if (!(t > 0.0)) {
        t = 0.0;
    }
    if (t < first_.seconds || !Repeats()) {
        return TouchesIn(first_, t);
    }
    const double elapsed = t - first_.seconds;
    const double passes = WholePasses(elapsed, again_.seconds);
    const double local = std::clamp(elapsed - passes * again_.seconds, 0.0, again_.seconds);
    return first_.touches.size() + static_cast<uint64_t>(passes) * again_.touches.size() +
           TouchesIn(again_, local);
}

MachineModel::Touch MachineModel::TouchNo(uint64_t index) const {
    if (index < first_.touches.size()) {
        return first_.touches[index];
    }
    if (!Repeats() || again_.touches.empty()) {
        return first_.touches.empty() ? Touch{0.0, first_.start} : first_.touches.back();
    }
    const uint64_t later = index - first_.touches.size();
    const uint64_t perPass = again_.touches.size();
    const Touch& touch = again_.touches[later % perPass];
    const double passStart = first_.seconds + static_cast<double>(later / perPass) * again_.seconds;
    return Touch{passStart + touch.time, touch.pose};
}

}  // namespace vexsim
