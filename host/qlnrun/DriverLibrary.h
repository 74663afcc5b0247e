#pragma once
// DriverLibrary: the driver plug-in loaded with dlopen and the entry points qlnrun calls,
// typed after their declarations in driver/core/DriverExports.h.
//
// Load() opens the library and looks up every entry point; driver_initialize and
// driver_close are required, the others may be missing (their pointer stays null and the
// shell says so when a command needs one). On failure Load() returns false and errorText()
// names the library or entry point after a line break. The library stays loaded for the
// life of the process: a driver leaves timers, windows and threads behind that must not
// outlive their code. Used on the host's UI thread.

#include <QString>

#include "driver/core/DriverExports.h"

class DriverLibrary {
  public:
    // libTactus.so beside the running program (the build tree), else in the product's
    // library folder (an installed program). Needs the application object.
    static QString DefaultFile();

    bool Load(const QString& path);
    const QString& errorText() const { return error_; }

    decltype(&driver_initialize) initialize = nullptr;
    decltype(&driver_close) close = nullptr;
    decltype(&driver_read_position) readPosition = nullptr;
    decltype(&driver_measure_point) measurePoint = nullptr;
    decltype(&driver_manual_hit) manualHit = nullptr;
    decltype(&driver_begin_manual_scan) beginManualScan = nullptr;
    decltype(&driver_end_manual_scan) endManualScan = nullptr;
    decltype(&driver_stop_probe) stopProbe = nullptr;
    decltype(&driver_cmm_setup_dialog) setupDialog = nullptr;

  private:
    QString error_;
};
