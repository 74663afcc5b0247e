#pragma once
// What driver start-up tells the operator and the debug log about the machine file. Kept
// apart from the reader so that the reader stays free of host calls and tactus-tool can use
// it without the host.
//
// Host UI thread (the host's services and the debug log are used from there only).

#include <string>

#include "driver/core/machine/MachineConfig.h"

class CQLNapplication;
class CQLNhostInterface;

// The file could not be read: logs "-Tactus: Error opening the file, TACConfigData.xml, for
// reading!", shows host message box 561 (OK) and host status message 561. A `reason` (the
// reader's error) is logged after that line and shown as a status message of its own before
// the box, so the operator learns why. Start-up then fails.
void ReportMachineFileFailure(CQLNapplication* hostApp, CQLNhostInterface* hostIface,
                              const std::wstring& reason = {});

// Logs "-Tactus: No initialization sequence!" when the file has no initialisation text;
// returns true when it logged.
bool LogMissingInitializationSequence(const MachineConfig& config);
