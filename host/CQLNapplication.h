#pragma once
// The host application object and its interface object, as a driver plug-in sees them.
//
// The host exports one CQLNapplication through the pointer qlnTheApp (QlnServices.h); a
// driver copies the pointer when it is loaded and re-reads hostIface from it at its entry
// points. The host owns both objects for the life of the process; tests and the host shell
// configure the members before a driver is loaded. Everything runs on the host's UI thread.

#include <string>

#include "host/CQLNmachine.h"

class CQLNhostInterface {
  public:
    static constexpr int kMachineCount = 4;

    // Length-unit value U: 25.4 / U converts host units into millimetres (25.4 = mm).
    double lengthUnit = 25.4;
    // Nonzero: hits that arrive without a pending request are recorded as manual hits.
    int hitDeliveryFlag = 1;
    // Nonzero while the host records a learn-mode program.
    int learnModeFlag = 0;
    // Set by a driver at start-up to say that a machine driver is active.
    int driverActive = 0;
    // Machine records; numbers 1..kMachineCount index machines[number - 1].
    CQLNmachine machines[kMachineCount];
    // Number of the machine the operator works with.
    int currentMachine = 1;
};

class CQLNapplication {
  public:
    // Drivers set it to 1 once the readout can follow the machine; 0 while the operator
    // holds the readout button (the next reply then counts as a hit).
    int readoutState = 0;
    // Name of the connected machine, printed by compensation log lines.
    std::wstring machineName;
    // The interface object; drivers re-read this pointer at their entry points.
    CQLNhostInterface* hostIface = nullptr;
    // 1 from host start until a driver reports machine initialisation complete.
    int startupState = 1;
    // A counter of outstanding driver requests that drivers clear at start-up.
    int requestCounter = 0;
};
