/* Extra entry points of the stand-in libraries libENC7480.so and libVexSimulator.so.
 *
 * The server never calls these; tests and benchmarks look them up with dlsym on the
 * library handle they loaded (both libraries export the same names, each acting on its
 * own simulated machine). A replacement library need not provide them.
 *
 * Model time is seconds since Init. By default it follows the monotonic clock
 * (CLOCK_MONOTONIC, the clock of std::chrono::steady_clock), multiplied by
 * VEXSIM_TIME_SCALE when that is set. Init always starts on that clock. */
#ifndef VEXSIM_CONTROL_H
#define VEXSIM_CONTROL_H

#include <stdint.h>

#include "vexsim_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the model time to seconds and holds it there until the next call, so a caller can
 * step the machine through its script without waiting. A negative value lets the clock run
 * again from the time it was held at. Ignored before Init. */
VEXSIM_API void VexSim_SetTime(double seconds);
/* Current model time in seconds; 0 before Init. */
VEXSIM_API double VexSim_Now(void);
/* Number of touches the probe has made so far. */
VEXSIM_API uint32_t VexSim_TouchCount(void);
/* Monotonic time, in seconds, at which the latest touch latched; -1 when there was none. */
VEXSIM_API double VexSim_LastTouchTime(void);

#ifdef __cplusplus
}
#endif

#endif /* VEXSIM_CONTROL_H */
