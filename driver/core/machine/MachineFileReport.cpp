#include "driver/core/machine/MachineFileReport.h"

#include "driver/comm/log/LogLine.h"
#include "host/QlnServices.h"

void ReportMachineFileFailure(CQLNapplication* hostApp, CQLNhostInterface* hostIface) {
    LogLine(machinefile::kOpenErrorLog);
    QlnMessageBox(hostIface, machinefile::kOpenErrorResource, kQlnBoxOk);
    QlnStatusMessage(hostApp, machinefile::kOpenErrorResource);
}

bool LogMissingInitializationSequence(const MachineConfig& config) {
    if (config.HasInitializationSequence())
        return false;
    LogLine(machinefile::kNoInitSequenceLog);
    return true;
}
