#include "driver/core/machine/MachineFileReport.h"

#include "driver/comm/log/LogLine.h"
#include "host/QlnServices.h"

void ReportMachineFileFailure(CQLNapplication* hostApp, CQLNhostInterface* hostIface,
                              const std::wstring& reason) {
    LogLine(machinefile::kOpenErrorLog);
    // The status line shows the reason while the operator reads the box.
    if (!reason.empty()) {
        LogLine(machinefile::kOpenErrorReasonLog, reason.c_str());
        QlnStatusMessage(hostApp, reason.c_str());
    }
    QlnMessageBox(hostIface, machinefile::kOpenErrorResource, kQlnBoxOk);
    QlnStatusMessage(hostApp, machinefile::kOpenErrorResource);
}

bool LogMissingInitializationSequence(const MachineConfig& config) {
    if (config.HasInitializationSequence())
        return false;
    LogLine(machinefile::kNoInitSequenceLog);
    return true;
}
