#pragma once
// Reads the machine file TACConfigData.xml into a MachineConfig (MachineConfig.h).
//
// Lookup rules: the root element may have any name; a named child is the first direct
// child element with exactly that tag (case counts); a missing element reads as empty text;
// a value is the element's text with the white space around it removed, except command
// texts (the Command elements), which are kept as written because they are sent as they
// are. Numbers and booleans follow MachineValues.h and silently take their default when they
// do not convert. Misc and the two sequences are read from every Data child in document
// order, defaults included, so the last Data decides every value of its group.
//
// The reader calls neither the host nor the debug log, so driver start-up and tactus-tool
// share it. A file that cannot be opened, is not a regular file, is not well-formed XML or
// goes beyond the limits every settings file is read under (common/XmlLimits.h: size after
// entity expansion, element depth) returns ok false with the reason; driver start-up then
// fails and reports it with ReportMachineFileFailure (MachineFileReport.h). Any thread; no
// shared state.

#include <string>

#include "driver/core/machine/MachineConfig.h"

struct MachineFileResult {
    bool ok = false;
    // Why the file could not be used, e.g. "cannot open TACConfigData.xml: No such file or
    // directory", "TACConfigData.xml is not a regular file" or "TACConfigData.xml, line 3,
    // column 7: ...". Empty when ok.
    std::wstring error;
    // The values read; all defaults when !ok.
    MachineConfig config;
};

// Reads the file at `path`. Driver start-up passes the bare machinefile::kFileName, so the
// file comes from the host's current directory.
MachineFileResult ReadMachineFile(const std::wstring& path);

// Applies the same rules to a document held in memory; `name` only appears in `error`.
MachineFileResult ReadMachineText(const std::string& xml,
                                  const std::wstring& name = machinefile::kFileName);
