#pragma once
// Enc7480DllInterface: the binding of the encoder card library (C ABI).
//
// All seventeen entry points must be exported for Resolve() to succeed, even those the
// server never calls, so that a wrong or partial library is refused at start-up rather
// than on first use. The forwarding calls may be used only after Resolve() succeeded.

#include <cstdint>

#include "server/device/DllInterface.h"

class Enc7480DllInterface : public DllInterface {
  public:
    void Resolve() override;

    int Enc7480_Init() { return init_(); }
    void Enc7480_Close() { close_(); }
    int32_t Enc7480_Get_Encoder(uint16_t channel) { return getEncoder_(channel); }
    void Enc7480_Set_Encoder(uint16_t channel, int32_t value) { setEncoder_(channel, value); }
    int32_t Enc7480_Get_LatchValue(uint16_t channel) { return getLatchValue_(channel); }
    void Enc7480_Count_Config(uint16_t channel, uint16_t mode) { countConfig_(channel, mode); }
    void Enc7480_Write_OutBit(uint16_t bit, uint16_t value) { writeOutBit_(bit, value); }
    void Enc7480_Write_OutPort(uint16_t value) { writeOutPort_(value); }
    uint16_t Enc7480_Read_OutPort() { return readOutPort_(); }
    uint16_t Enc7480_Read_InPort() { return readInPort_(); }
    void Enc7480_Set_Triger_Logic(uint16_t logic) { setTrigerLogic_(logic); }
    void Enc7480_Triger_Chunnel(uint16_t card, uint16_t channel) { trigerChunnel_(card, channel); }
    void Enc7480_Set_EZ_Logic(uint16_t channel, uint16_t enable, uint16_t level) {
        setEzLogic_(channel, enable, level);
    }
    uint32_t Enc7480_Read_Latch_Status(uint16_t card) { return readLatchStatus_(card); }
    void Enc7480_Reset_Latch_Flag(uint16_t card) { resetLatchFlag_(card); }
    void Enc7480_Reset_Cls_Flag(uint16_t card) { resetClsFlag_(card); }
    void Enc7480_Led_Logic(uint16_t value) { ledLogic_(value); }

  private:
    int (*init_)() = nullptr;
    void (*close_)() = nullptr;
    int32_t (*getEncoder_)(uint16_t) = nullptr;
    void (*setEncoder_)(uint16_t, int32_t) = nullptr;
    int32_t (*getLatchValue_)(uint16_t) = nullptr;
    void (*countConfig_)(uint16_t, uint16_t) = nullptr;
    void (*writeOutBit_)(uint16_t, uint16_t) = nullptr;
    void (*writeOutPort_)(uint16_t) = nullptr;
    uint16_t (*readOutPort_)() = nullptr;
    uint16_t (*readInPort_)() = nullptr;
    void (*setTrigerLogic_)(uint16_t) = nullptr;
    void (*trigerChunnel_)(uint16_t, uint16_t) = nullptr;
    void (*setEzLogic_)(uint16_t, uint16_t, uint16_t) = nullptr;
    uint32_t (*readLatchStatus_)(uint16_t) = nullptr;
    void (*resetLatchFlag_)(uint16_t) = nullptr;
    void (*resetClsFlag_)(uint16_t) = nullptr;
    void (*ledLogic_)(uint16_t) = nullptr;
};
