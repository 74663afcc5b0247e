#pragma once
// VolcompBaseClass: what every volumetric compensation method shares.
//
// A method corrects machine readings (millimetres, machine axes) for the machine's
// geometric errors. The driver builds one object through InitializeVolcomp
// (VolcompFactory.h), which copies in the context below, calls LoadCompensation exactly once
// and keeps the object only when IsReady answers 1; it then sends every position and hit
// through CompensateFromCMM. The object does not own hostApp or hostIface; it owns its grid
// correction. Failures are reported through the ready flag, the load result, host message
// boxes and the debug log, never by exceptions. Host UI thread only; no locks.
//
// Directions (DEA, ASI and CNC methods; B&S keeps machine coordinates):
//   CompensateFromCMM: reading -> corrected coordinates relative to the compensation
//                      origin (the origin is subtracted and not added back).
//   CompensateToCMM:   corrected coordinates relative to the origin -> machine position to
//                      command (the origin is added after the inverse correction).
// The tip vector is the probe tip offset reversed (from the tip back to the mounting
// point), millimetres, machine axes. `in` and `out` may be the same object.

#include <cstdint>
#include <string>

#include "driver/core/CPoint3.h"
#include "driver/volcomp/GridCompensation.h"

class CQLNapplication;
class CQLNhostInterface;

class VolcompBaseClass {
  public:
    VolcompBaseClass() = default;
    virtual ~VolcompBaseClass() = default;
    VolcompBaseClass(const VolcompBaseClass&) = delete;
    VolcompBaseClass& operator=(const VolcompBaseClass&) = delete;

    // Reads or initialises the method's data from fileName (may be null) and sets the ready
    // flag. arm2Mode is the ARM2CompMode setting; only the DEA library method uses it.
    // The result codes belong to each method.
    virtual int LoadCompensation(const wchar_t* fileName, int arm2Mode) = 0;
    // Writes the corrected point for the reading `in` into `out`.
    virtual void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) = 0;
    // Writes the machine position for the corrected point `in` into `out`.
    virtual void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) = 0;

    // 1 once the method's data loaded, else 0.
    int IsReady() const { return ready; }

    // Copies in the driver's context and clears the ready flag (the factory's construction
    // step; tests use it to build methods directly).
    void SetContext(CQLNapplication* app, CQLNhostInterface* iface, int oldDeaLibrary,
                    int rotaryPresent, int rotarySecond, int deaModeValue,
                    const CPoint3& compensationOrigin) {
        hostApp = app;
        hostIface = iface;
        usingOldWcompens32 = oldDeaLibrary;
        rotaryTable = rotaryPresent;
        rotaryValue2 = rotarySecond;
        deaMode = deaModeValue;
        origin = compensationOrigin;
        ready = 0;
    }

    int DeaMode() const { return deaMode; }
    const CPoint3& Origin() const { return origin; }
    int UsingOldWcompens32() const { return usingOldWcompens32; }
    int RotaryTable() const { return rotaryTable; }
    int RotaryValue2() const { return rotaryValue2; }
    CQLNhostInterface* HostIface() const { return hostIface; }
    CQLNapplication* HostApp() const { return hostApp; }
    GridCompensation& Grid() { return grid; }
    const GridCompensation& Grid() const { return grid; }

  protected:
    // The host's machine name for the "CMM=" of log lines ("" without a host object).
    const wchar_t* MachineName() const;
    // Logs "CMM=<machine> <text>" and shows text in a host message box (style OK).
    void ReportText(const std::wstring& text) const;

    // Set only by LoadCompensation.
    std::int32_t ready = 0;
    // WCompensMode setting.
    std::int32_t deaMode = 0;
    // VolOffset? setting: millimetres, machine axes.
    CPoint3 origin;
    // UsingOldWcompens32 setting.
    std::int32_t usingOldWcompens32 = 0;
    // From the host's machine data: a rotary table is present; a second value that, when
    // non-zero, silences the B&S rotary-data log line.
    std::int32_t rotaryTable = 0;
    std::int32_t rotaryValue2 = 0;
    // Not owned. hostIface receives message boxes and holds the length unit; hostApp holds
    // the machine name printed after "CMM=" in compensation log lines.
    CQLNhostInterface* hostIface = nullptr;
    CQLNapplication* hostApp = nullptr;
    // Built for every method, loaded and applied only by ASI and B&S.
    GridCompensation grid;
};
