/* Simulator device library: the C entry points the position server binds by name from
 * libVexSimulator.so at run time, in place of the encoder card.
 *
 * The library computes positions and probe hits itself; the server only keeps a history
 * of the positions and derives each hit's approach vector from it. Any library that
 * exports these four functions with these declarations can be used.
 *
 * Calls are made from one thread at a time; the server calls them from its GUI thread
 * once per poll: Hit first, and Position only when Hit returned 0. */
#ifndef VEXSIMULATOR_H
#define VEXSIMULATOR_H

#include "vexsim_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A machine position: x, y, z in millimetres, w (rotary axis) in degrees. */
typedef struct {
    double x, y, z, w;
} VexPosition;

/* Starts the simulated machine. Only the low byte counts: nonzero = ready. */
VEXSIM_API int Init(void);
VEXSIM_API void Close(void);
/* Writes the current position to *out; 1 when a position was written, else 0. */
VEXSIM_API unsigned char Position(VexPosition* out);
/* 1 when a probe hit occurred since the last call; its position is then written to *out.
 * Each hit is reported once. */
VEXSIM_API unsigned char Hit(VexPosition* out);

#ifdef __cplusplus
}
#endif

#endif /* VEXSIMULATOR_H */
