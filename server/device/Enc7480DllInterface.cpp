#include "server/device/Enc7480DllInterface.h"

void Enc7480DllInterface::Resolve() {
    Bind(init_, "Enc7480_Init");
    Bind(close_, "Enc7480_Close");
    Bind(getEncoder_, "Enc7480_Get_Encoder");
    Bind(setEncoder_, "Enc7480_Set_Encoder");
    Bind(getLatchValue_, "Enc7480_Get_LatchValue");
    Bind(countConfig_, "Enc7480_Count_Config");
    Bind(writeOutBit_, "Enc7480_Write_OutBit");
    Bind(writeOutPort_, "Enc7480_Write_OutPort");
    Bind(readOutPort_, "Enc7480_Read_OutPort");
    Bind(readInPort_, "Enc7480_Read_InPort");
    Bind(setTrigerLogic_, "Enc7480_Set_Triger_Logic");
    Bind(trigerChunnel_, "Enc7480_Triger_Chunnel");
    Bind(setEzLogic_, "Enc7480_Set_EZ_Logic");
    Bind(readLatchStatus_, "Enc7480_Read_Latch_Status");
    Bind(resetLatchFlag_, "Enc7480_Reset_Latch_Flag");
    Bind(resetClsFlag_, "Enc7480_Reset_Cls_Flag");
    Bind(ledLogic_, "Enc7480_Led_Logic");
}
