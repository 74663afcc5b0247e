#pragma once
// One machine record of the host. The host owns the records (inside CQLNhostInterface);
// drivers read and write the members below on the host's UI thread.

#include <cstdint>

struct CQLNmachine {
    // Bit 0: the operator asked for a hit at the current position. Drivers set the value to
    // 2 at start-up and clear bit 0 once the hit is delivered.
    std::uint16_t hitRequestFlags = 0;
    int readoutButtonMode = 0;
    int debugLogReset = 0;
    // Rotary table data the compensation methods receive.
    int rotaryTablePresent = 0;
    int rotaryValue2 = 0;
    // Motion and probe state words; drivers clear them at start-up.
    int motionState = 0;
    int probeState = 0;
    int jogState = 0;
};
