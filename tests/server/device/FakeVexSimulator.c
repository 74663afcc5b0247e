#include "FakeVexSimulator.h"

#define EXPORT __attribute__((visibility("default")))

static FakeVexSimulatorState state = {.init_result = 1};

EXPORT FakeVexSimulatorState* FakeVexSimulator_State(void) {
    return &state;
}

EXPORT int Init(void) {
    return state.init_result;
}
EXPORT void Close(void) {
    ++state.close_calls;
}
EXPORT unsigned char Position(FakeVexPosition* out) {
    if (state.has_position)
        *out = state.position;
    return state.has_position;
}
EXPORT unsigned char Hit(FakeVexPosition* out) {
    if (state.has_hit)
        *out = state.hit;
    return state.has_hit;
}
