// The entry points of libTactus.so: each forwards to the driver core on the host's UI thread
// and keeps every exception inside the library.

#include <exception>

#include "driver/comm/log/LogLine.h"
#include "driver/core/DriverExports.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"
#include "driver/plugin/CompensationExport.h"
#include "driver/plugin/SetupDialogExport.h"
#include "host/QlnServices.h"

#define TACTUS_EXPORT __attribute__((visibility("default")))

namespace {

// Runs `body`; a failure that escapes the core is logged and the entry point returns
// `fallback` instead of unwinding into the host.
template <class Result, class Body>
Result Guarded(const char* entry, Result fallback, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        LogLine(L"-Tactus: %s failed: %s\n", entry, e.what());
    } catch (...) {
        LogLine(L"-Tactus: %s failed\n", entry);
    }
    return fallback;
}

template <class Body>
void Guarded(const char* entry, Body body) {
    Guarded<int>(entry, 0, [&] {
        body();
        return 0;
    });
}

// Library attach: the host application object is exported by the host and valid as soon as
// the library is loaded.
__attribute__((constructor)) void AttachToHost() {
    TheDriver().Attach(qlnTheApp);
}

}  // namespace

extern "C" {

TACTUS_EXPORT int driver_initialize() {
    return Guarded("driver_initialize", 1, [] { return TheDriver().Initialize(); });
}

TACTUS_EXPORT void driver_close() {
    Guarded("driver_close", [] { TheDriver().Close(); });
}

TACTUS_EXPORT const wchar_t* driver_get_version() {
    TheDriver().RereadHostInterface();
    return drivertext::kVersion;
}

TACTUS_EXPORT void driver_add_entries() {
    Guarded("driver_add_entries", [] { TheDriver().AddEntries(); });
}

TACTUS_EXPORT int driver_check_renamed_entry(std::wstring& oldName, std::wstring&) {
    // The comparison decides nothing: the driver keeps its entries under any name.
    [[maybe_unused]] const bool same = oldName == drivertext::kRenamedEntryName;
    return 0;
}

TACTUS_EXPORT int driver_Initialize_WCompens32(const wchar_t* fileName, int arm) {
    return ReinitializeDeaCompensation(fileName, arm);
}

TACTUS_EXPORT int driver_special_learnmode_option() {
    return TheDriver().SpecialLearnModeOption();
}

TACTUS_EXPORT void driver_cmm_setup_dialog(CWinApp*) {
    Guarded("driver_cmm_setup_dialog", [] { RunDriverSetupDialog(); });
}

TACTUS_EXPORT int driver_beep(int, int) {
    return 0;
}

TACTUS_EXPORT void driver_calibrate_probe() {
    TheDriver().RereadHostInterface();
}

TACTUS_EXPORT void driver_wait_end() {
    TheDriver().RereadHostInterface();
}

TACTUS_EXPORT void driver_send_readouts(double*, double, double*) {
    TheDriver().RereadHostInterface();
}

TACTUS_EXPORT void GetAxisPointMapping(int mapping[6]) {
    if (mapping)
        TheDriver().GetAxisPointMapping(mapping);
}

TACTUS_EXPORT long HandleCommNotification(unsigned int, long) {
    return Guarded("HandleCommNotification", 1L, [] { return TheDriver().Notify(); });
}

TACTUS_EXPORT void driver_move_absolute(CQLNinterface* callback, const double target[3],
                                        CQLNtip_data* tip, double speed) {
    Guarded("driver_move_absolute",
            [&] { TheDriver().MoveAbsolute(callback, target, tip, speed); });
}

TACTUS_EXPORT void driver_move_relative(CQLNinterface* callback, const double offset[3],
                                        CQLNtip_data* tip, double speed) {
    Guarded("driver_move_relative",
            [&] { TheDriver().MoveRelative(callback, offset, tip, speed); });
}

TACTUS_EXPORT void driver_circular_move(CQLNinterface* callback, const double end[3],
                                        const double centre[3], int largeArc, CQLNtip_data* tip,
                                        double speed) {
    Guarded("driver_circular_move",
            [&] { TheDriver().CircularMove(callback, end, centre, largeArc, tip, speed); });
}

TACTUS_EXPORT void driver_move_ph9(CQLNinterface* callback, CQLNtip_data* tip) {
    Guarded("driver_move_ph9", [&] { TheDriver().MovePh9(callback, tip); });
}

TACTUS_EXPORT void driver_move_rotab(CQLNinterface* callback, double angle, int direction,
                                     CQLNtip_data* tip, double speed) {
    Guarded("driver_move_rotab",
            [&] { TheDriver().MoveRotab(callback, angle, direction, tip, speed); });
}

TACTUS_EXPORT void driver_change_tool(CQLNinterface* callback, const double[3], const double[3],
                                      const double[3], int, double, double, CQLNtip_data* tip,
                                      double) {
    Guarded("driver_change_tool", [&] { TheDriver().ChangeTool(callback, tip); });
}

TACTUS_EXPORT void driver_begin_dcc_scan(CQLNinterface* callback, CQLNtip_data* tip) {
    Guarded("driver_begin_dcc_scan", [&] { TheDriver().BeginDccScan(callback, tip); });
}

TACTUS_EXPORT void driver_read_ph9(CQLNinterface* callback) {
    Guarded("driver_read_ph9", [&] { TheDriver().ReadPh9(callback); });
}

TACTUS_EXPORT void driver_go_manual(CQLNinterface* callback) {
    Guarded("driver_go_manual", [&] { TheDriver().GoManual(callback); });
}

TACTUS_EXPORT int driver_in_manual() {
    return Guarded("driver_in_manual", 1, [] { return TheDriver().InManual(); });
}

TACTUS_EXPORT void driver_stop_probe() {
    Guarded("driver_stop_probe", [] { TheDriver().StopProbe(); });
}

TACTUS_EXPORT void driver_measure_point(CQLNinterface* callback, const double target[3],
                                        const double approach[3], CQLNtip_data* tip, double speed,
                                        double touchSpeed, double prehit, double retract,
                                        double check) {
    Guarded("driver_measure_point", [&] {
        TheDriver().MeasurePoint(callback, target, approach, tip, speed, touchSpeed, prehit,
                                 retract, check);
    });
}

TACTUS_EXPORT void driver_manual_hit(CQLNinterface* callback, const double[3], const double[3],
                                     CQLNtip_data* tip) {
    Guarded("driver_manual_hit", [&] { TheDriver().ManualHit(callback, tip); });
}

TACTUS_EXPORT void driver_read_position(CQLNinterface* callback, CQLNtip_data* tip) {
    Guarded("driver_read_position", [&] { TheDriver().ReadPosition(callback, tip); });
}

TACTUS_EXPORT void driver_begin_manual_scan(CQLNinterface* callback, const double[3],
                                            const double[3], CQLNtip_data* tip) {
    Guarded("driver_begin_manual_scan", [&] { TheDriver().BeginManualScan(callback, tip); });
}

TACTUS_EXPORT void driver_end_manual_scan() {
    Guarded("driver_end_manual_scan", [] { TheDriver().EndManualScan(); });
}

}  // extern "C"
