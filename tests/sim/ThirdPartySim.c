/* A minimal simulator library as a third party would write it, from the public headers
 * alone and in plain C: a fixed position and a single hit. */
#include <stddef.h>

#include "enc7480.h"
#include "vexsim_control.h"
#include "vexsimulator.h"

static const VexPosition kPosition = {1.5, -2.5, 30.0, 90.0};
static const VexPosition kHit = {1.5, -2.5, 25.0, 90.0};
static int hitReported;

int Init(void) {
    hitReported = 0;
    return 0x101; /* only the low byte counts */
}

void Close(void) {}

unsigned char Position(VexPosition* out) {
    if (out == NULL) {
        return 0;
    }
    *out = kPosition;
    return 1;
}

unsigned char Hit(VexPosition* out) {
    if (out == NULL || hitReported) {
        return 0;
    }
    hitReported = 1;
    *out = kHit;
    return 1;
}
