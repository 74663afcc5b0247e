#pragma once
// MachineModel: the simulated machine. Given a motion script, it tells where the probe is,
// whether it is deflected, and which touches it has made, at any moment of model time.
//
// Model time is seconds since the libraries' Init and is always passed in, so the model has
// no clock of its own (ModelClock supplies one) and tests can ask about any moment. The model
// is immutable after construction and safe to share between threads.
//
// Motion: each move and touch goes in a straight line at constant speed; a touch then stays
// at its surface point, deflected, for its hold time. The touch latches at the moment the
// probe reaches the surface. A repeating script runs its steps again, forever, starting
// from where they ended.

#include <cstdint>
#include <vector>

#include "sim/MotionScript.h"

namespace vexsim {

class MachineModel {
  public:
    struct Sample {
        Pose pose;
        bool deflected = false;
    };

    struct Touch {
        double time = 0.0;  // model time the probe reached the surface
        Pose pose;          // the surface point
    };

    explicit MachineModel(const MotionScript& script);

    // Where the probe is at model time t; a negative or NaN time counts as 0.
    Sample At(double t) const;

    // Number of touches made at or before model time t.
    uint64_t TouchesBy(double t) const;

    // The touch with the given 0-based number; for a number that no touch will ever have,
    // the last touch of the script (or a touch at time 0 at the start when there is none).
    Touch TouchNo(uint64_t index) const;

  private:
    struct Segment {
        double t0 = 0.0;  // start, seconds into the pass
        double t1 = 0.0;  // end, t1 > t0
        Pose from;
        Pose to;
        bool deflected = false;
    };

    // One run through the steps.
    struct Pass {
        Pose start;
        Pose end;
        double seconds = 0.0;
        std::vector<Segment> segments;  // back to back in time order; a pause is one too
        std::vector<Touch> touches;     // times are seconds into the pass
    };

    static Pass BuildPass(const Pose& start, const std::vector<Step>& steps);
    static Sample SampleOf(const Pass& pass, double local);
    static uint64_t TouchesIn(const Pass& pass, double local);

    bool Repeats() const { return repeat_; }

    Pass first_;
    Pass again_;  // a repeated pass, used only when repeat_
    bool repeat_ = false;
};

}  // namespace vexsim
