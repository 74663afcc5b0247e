/* Test double of the encoder card library: records every call and lets a test script
 * the counters, latched counts and status word. A test reaches the state of the loaded
 * copy through the exported FakeEnc7480_State(). */
#ifndef FAKE_ENC7480_H
#define FAKE_ENC7480_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    int init_result;    /* returned by Enc7480_Init */
    int32_t counts[4];  /* returned by Enc7480_Get_Encoder */
    int32_t latched[4]; /* returned by Enc7480_Get_LatchValue */
    uint32_t status;    /* returned by Enc7480_Read_Latch_Status */
    int counter_reads;  /* calls of Enc7480_Get_Encoder */
    int status_reads;   /* calls of Enc7480_Read_Latch_Status */
    char calls[16384];  /* every call but the reads, "Name(args);" one after another */
} FakeEnc7480State;

FakeEnc7480State* FakeEnc7480_State(void);

#ifdef __cplusplus
}
#endif

#endif
