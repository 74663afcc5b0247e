#pragma once
// SimSession: what one stand-in device library holds from Init to Close: the machine model
// built from the motion script, the card scale, the model clock and the optional touch log.
//
// Start() takes its settings from the environment (docs/simulator.md):
//   VEXSIM_SCRIPT      motion script file; without it the built-in demo script runs
//   VEXSIM_SCALE       card scale "x y z w" (or comma-separated), overriding the script's
//   VEXSIM_TIME_SCALE  model seconds per real second (default 1)
//   VEXSIM_TOUCH_LOG   file to which one line per touch is appended
// LogCall() appends the names of the calls that open, reset and close the device to the
// file VEXSIM_CALL_LOG names (read at each call), so a test can see them made.
// Failure: Start() writes one line to stderr naming the file (and line) or variable at
// fault and returns false; the session is then not running. Not thread-safe: each library
// keeps one session behind its own lock.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "sim/MachineModel.h"
#include "sim/ModelClock.h"
#include "sim/MotionScript.h"

namespace vexsim {

// The built-in demo script (the text of examples/scripts/sphere25.vexsim).
extern const char kDemoScript[];

// Appends one line, `call`, to the call log when VEXSIM_CALL_LOG names one.
void LogCall(const char* call);

class SimSession {
  public:
    SimSession() = default;
    ~SimSession();
    SimSession(const SimSession&) = delete;
    SimSession& operator=(const SimSession&) = delete;

    bool Start();
    void Stop();
    bool IsRunning() const { return model_.has_value(); }

    // Only while running.
    const MachineModel& model() const { return *model_; }
    const CardScale& scale() const { return scale_; }
    ModelClock& clock() { return clock_; }
    const ModelClock& clock() const { return clock_; }

    // Model time now, in seconds since Start().
    double Now() const { return clock_.Now(); }
    // Holds the model clock at `seconds`; a negative (or NaN) value lets it run again.
    void SetTime(double seconds);
    // Touches made by now.
    uint64_t TouchesSoFar() const { return model_->TouchesBy(Now()); }
    // Monotonic time of the latest touch made by now; -1 when there was none.
    double LastTouchMonotonic() const;

    // Appends the touches numbered from the last logged one up to `touchesSoFar` to the
    // touch log, when one is open.
    void LogTouches(uint64_t touchesSoFar);

  private:
    std::optional<MachineModel> model_;
    CardScale scale_ = kDefaultScale;
    ModelClock clock_;
    std::FILE* touchLog_ = nullptr;
    uint64_t touchesLogged_ = 0;
};

}  // namespace vexsim
