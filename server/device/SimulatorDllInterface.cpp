#include "server/device/SimulatorDllInterface.h"

void SimulatorDllInterface::Resolve() {
    Bind(init_, "Init");
    Bind(close_, "Close");
    Bind(position_, "Position");
    Bind(hit_, "Hit");
}
