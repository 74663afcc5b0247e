/* ENC7480 encoder counter card: the C entry points the position server binds by name
 * from libENC7480.so at run time.
 *
 * Any library that exports all seventeen functions with these declarations can stand in
 * for the card (the server refuses a library that lacks one, even those it never calls).
 * The card has four channels, 0 to 3 for X, Y, Z and W, and one card number, 0.
 *
 * Latch status word (Enc7480_Read_Latch_Status):
 *   bits 0-3   trigger: set while the probe is deflected, clear again once it is released;
 *   bits 8-11  latch: set when the probe triggered and the four counts were captured;
 *              they stay set until Enc7480_Reset_Latch_Flag.
 * Enc7480_Get_LatchValue returns the count a channel held at the trigger moment.
 *
 * Calls are made from one thread at a time; the server calls them from its GUI thread. */
#ifndef ENC7480_H
#define ENC7480_H

#include <stdint.h>

#include "vexsim_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the card; nonzero when it is ready to count. */
VEXSIM_API int Enc7480_Init(void);
VEXSIM_API void Enc7480_Close(void);

/* Current count of a channel (0-3). */
VEXSIM_API int32_t Enc7480_Get_Encoder(uint16_t channel);
/* Makes the channel's current count equal to value; the server passes 0 to zero it. */
VEXSIM_API void Enc7480_Set_Encoder(uint16_t channel, int32_t value);
/* Count captured on the channel at the last trigger. */
VEXSIM_API int32_t Enc7480_Get_LatchValue(uint16_t channel);
/* Counting mode of a channel: 0 pulse/direction, 1 to 3 the AB-phase modes. */
VEXSIM_API void Enc7480_Count_Config(uint16_t channel, uint16_t mode);

/* General-purpose digital outputs and inputs. */
VEXSIM_API void Enc7480_Write_OutBit(uint16_t bit, uint16_t value);
VEXSIM_API void Enc7480_Write_OutPort(uint16_t value);
VEXSIM_API uint16_t Enc7480_Read_OutPort(void);
VEXSIM_API uint16_t Enc7480_Read_InPort(void);

/* Trigger input: edge (0 rising, 1 falling) and which input (1 or 2) latches a card. */
VEXSIM_API void Enc7480_Set_Triger_Logic(uint16_t logic);
VEXSIM_API void Enc7480_Triger_Chunnel(uint16_t card, uint16_t channel);
/* Index pulse of a channel: enable (0/1) and active level (0 low, 1 high). */
VEXSIM_API void Enc7480_Set_EZ_Logic(uint16_t channel, uint16_t enable, uint16_t level);

/* Latch status word of a card, see above. */
VEXSIM_API uint32_t Enc7480_Read_Latch_Status(uint16_t card);
/* Clears the latch bits 8-11 of a card. */
VEXSIM_API void Enc7480_Reset_Latch_Flag(uint16_t card);
/* Clears the card's index-pulse (counter clear) flags. */
VEXSIM_API void Enc7480_Reset_Cls_Flag(uint16_t card);
VEXSIM_API void Enc7480_Led_Logic(uint16_t value);

#ifdef __cplusplus
}
#endif

#endif /* ENC7480_H */
