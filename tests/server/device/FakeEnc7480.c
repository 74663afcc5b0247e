/* Built twice: as the full card library, and with FAKE_ENC7480_PARTIAL as a library
 * that lacks two of the entry points a card library must export. */
#include "FakeEnc7480.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static FakeEnc7480State state = {.init_result = 1};

static void Record(const char* format, ...) {
    size_t used = strlen(state.calls);
    va_list args;
    va_start(args, format);
    vsnprintf(state.calls + used, sizeof state.calls - used, format, args);
    va_end(args);
}

EXPORT FakeEnc7480State* FakeEnc7480_State(void) {
    return &state;
}

EXPORT int Enc7480_Init(void) {
    Record("Init;");
    return state.init_result;
}
EXPORT void Enc7480_Close(void) {
    Record("Close;");
}
EXPORT int32_t Enc7480_Get_Encoder(uint16_t channel) {
    ++state.counter_reads;
    return state.counts[channel & 3];
}
EXPORT void Enc7480_Set_Encoder(uint16_t channel, int32_t value) {
    Record("Set_Encoder(%u,%d);", channel, value);
    state.counts[channel & 3] = value;
}
EXPORT int32_t Enc7480_Get_LatchValue(uint16_t channel) {
    return state.latched[channel & 3];
}
EXPORT void Enc7480_Count_Config(uint16_t channel, uint16_t mode) {
    Record("Count_Config(%u,%u);", channel, mode);
}
EXPORT void Enc7480_Write_OutBit(uint16_t bit, uint16_t value) {
    Record("Write_OutBit;");
}
EXPORT void Enc7480_Write_OutPort(uint16_t value) {
    Record("Write_OutPort;");
}
EXPORT uint16_t Enc7480_Read_OutPort(void) {
    return 0;
}
#ifndef FAKE_ENC7480_PARTIAL
EXPORT uint16_t Enc7480_Read_InPort(void) {
    return 0;
}
#endif
EXPORT void Enc7480_Set_Triger_Logic(uint16_t logic) {
    Record("Set_Triger_Logic(%u);", logic);
}
EXPORT void Enc7480_Triger_Chunnel(uint16_t card, uint16_t channel) {
    Record("Triger_Chunnel(%u,%u);", card, channel);
}
EXPORT void Enc7480_Set_EZ_Logic(uint16_t channel, uint16_t enable, uint16_t level) {
    Record("Set_EZ_Logic(%u,%u,%u);", channel, enable, level);
}
EXPORT uint32_t Enc7480_Read_Latch_Status(uint16_t card) {
    ++state.status_reads;
    return state.status;
}
EXPORT void Enc7480_Reset_Latch_Flag(uint16_t card) {
    Record("Reset_Latch_Flag(%u);", card);
}
EXPORT void Enc7480_Reset_Cls_Flag(uint16_t card) {
    Record("Reset_Cls_Flag(%u);", card);
}
#ifndef FAKE_ENC7480_PARTIAL
EXPORT void Enc7480_Led_Logic(uint16_t value) {
    Record("Led_Logic;");
}
#endif
