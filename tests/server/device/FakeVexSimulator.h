/* Test double of the simulator library: the test scripts what Init, Position and Hit
 * return through the exported FakeVexSimulator_State() of the loaded copy. */
#ifndef FAKE_VEX_SIMULATOR_H
#define FAKE_VEX_SIMULATOR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    double x, y, z, w;
} FakeVexPosition;

typedef struct {
    int init_result;            /* returned by Init; only its low byte means anything */
    unsigned char has_position; /* returned by Position */
    FakeVexPosition position;   /* written by Position when has_position is set */
    unsigned char has_hit;      /* returned by Hit */
    FakeVexPosition hit;        /* written by Hit when has_hit is set */
    int close_calls;
} FakeVexSimulatorState;

FakeVexSimulatorState* FakeVexSimulator_State(void);

#ifdef __cplusplus
}
#endif

#endif
