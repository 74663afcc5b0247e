#include "driver/plugin/CompensationExport.h"

#include "driver/volcomp/VolcompFactory.h"

int ReinitializeDeaCompensation(const wchar_t* fileName, int arm) {
    return driver_Initialize_WCompens32(fileName, arm);
}
