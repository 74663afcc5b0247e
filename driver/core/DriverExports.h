#pragma once
// The entry points libTactus.so exports to its host, with C linkage so the host finds them
// by name (dlsym). This list is the driver's whole interface; docs/driver.md describes each.
//
// Threads: the host calls every entry point on its UI thread, the thread that also runs the
// Qt event loop the driver's poll timer needs (driver_initialize creates the timer on the
// calling thread). Nothing here is reentrant and nothing throws.
//
// Ownership: the host owns every object it passes (callback objects, tips, arrays, strings).
// A callback object given to a measurement entry point must stay alive until the driver
// reports its result, until another entry point replaces it, or until driver_stop_probe.
//
// Points are three doubles x, y, z in host length units. Failures are reported only where a
// result is declared (driver_initialize returns 1); every other entry point always succeeds.

#include <string>

#include "host/CQLNinterface.h"
#include "host/CQLNtip_data.h"

// The host's application-framework object handed to driver_cmm_setup_dialog; unused.
class CWinApp;

extern "C" {

// --- Lifecycle and small entry points -----------------------------------------------------

// Start-up: settings, debug log, machine file, position server, channel, reply parser,
// compensation, poll timer. 0 on success, 1 when the machine file cannot be read or the
// channel cannot be opened. A repeated call first releases what the previous one set up.
int driver_initialize();
// Shut-down: stops the server process the driver started, the poll timer, the channel, the
// reply parser and the compensation. Acts on its first call in the process only.
void driver_close();
// "Tactus.dll Nov 24 2009 release version 1.27 for Quillon v4.4" (static storage).
const wchar_t* driver_get_version();
// Registers the settings table under the host's section for "Tactus".
void driver_add_entries();
// Compares oldName with "Tactus"; returns 0 whatever the result.
int driver_check_renamed_entry(std::wstring& oldName, std::wstring& newName);
// Run-time re-initialisation of the DEA compensation data: never supported, returns -1.
int driver_Initialize_WCompens32(const wchar_t* fileName, int arm);
// 4 while the host records a learn-mode program, else 1.
int driver_special_learnmode_option();
// The setup dialog; the argument is not used.
void driver_cmm_setup_dialog(CWinApp* app);
// Returns 0; the driver beeps on its own (automatic hits).
int driver_beep(int frequency, int duration);
// No effect.
void driver_calibrate_probe();
void driver_wait_end();
void driver_send_readouts(double* xyz, double value1, double* values);
// mapping[0..2]: machine axis (code / 2) feeding host X, Y, Z; mapping[3..5]: their axis
// codes AxisX, AxisY, AxisZ.
void GetAxisPointMapping(int mapping[6]);
// Delivers pending hits and positions to the host; the arguments are ignored; returns 1.
long HandleCommNotification(unsigned int message, long parameter);

// --- Motion and measurement -----------------------------------------------------------------
// Motion requests send nothing to the machine: they are logged and completed at once through
// callback->reportResult (when a callback is given). Measurement requests complete when the
// machine answers (see docs/driver.md).

void driver_move_absolute(CQLNinterface* callback, const double target[3], CQLNtip_data* tip,
                          double speed);
void driver_move_relative(CQLNinterface* callback, const double offset[3], CQLNtip_data* tip,
                          double speed);
void driver_circular_move(CQLNinterface* callback, const double end[3], const double centre[3],
                          int largeArc, CQLNtip_data* tip, double speed);
void driver_move_ph9(CQLNinterface* callback, CQLNtip_data* tip);
void driver_move_rotab(CQLNinterface* callback, double angle, int direction, CQLNtip_data* tip,
                       double speed);
void driver_change_tool(CQLNinterface* callback, const double point1[3], const double point2[3],
                        const double point3[3], int value, double value1, double value2,
                        CQLNtip_data* tip, double value3);
void driver_begin_dcc_scan(CQLNinterface* callback, CQLNtip_data* tip);
// Completes with the probe-head angles (always zero).
void driver_read_ph9(CQLNinterface* callback);
// Completes with the origin.
void driver_go_manual(CQLNinterface* callback);
// Returns 1: the machine is always manual.
int driver_in_manual();
// Drops the pending request without completing it and stops beeping.
void driver_stop_probe();
// Completed by the next probe hit; nothing is sent.
void driver_measure_point(CQLNinterface* callback, const double target[3], const double approach[3],
                          CQLNtip_data* tip, double speed, double touchSpeed, double prehit,
                          double retract, double check);
// Sends the machine file's TakeHit command; completed by the next probe hit.
void driver_manual_hit(CQLNinterface* callback, const double point1[3], const double point2[3],
                       CQLNtip_data* tip);
// Sends the machine file's GetPosition command. With several reply formats it completes at
// once with the last known position; otherwise with the next reply.
void driver_read_position(CQLNinterface* callback, CQLNtip_data* tip);
// Every position is reported to callback until driver_end_manual_scan or an automatic hit.
void driver_begin_manual_scan(CQLNinterface* callback, const double point1[3],
                              const double point2[3], CQLNtip_data* tip);
void driver_end_manual_scan();

}  // extern "C"

// Names of every entry point above, for hosts that look them up one by one.
inline constexpr const char* kDriverExportNames[] = {
    "driver_initialize",
    "driver_close",
    "driver_get_version",
    "driver_add_entries",
    "driver_check_renamed_entry",
    "driver_Initialize_WCompens32",
    "driver_special_learnmode_option",
    "driver_cmm_setup_dialog",
    "driver_beep",
    "driver_calibrate_probe",
    "driver_wait_end",
    "driver_send_readouts",
    "GetAxisPointMapping",
    "HandleCommNotification",
    "driver_move_absolute",
    "driver_move_relative",
    "driver_circular_move",
    "driver_move_ph9",
    "driver_move_rotab",
    "driver_change_tool",
    "driver_begin_dcc_scan",
    "driver_read_ph9",
    "driver_go_manual",
    "driver_in_manual",
    "driver_stop_probe",
    "driver_measure_point",
    "driver_manual_hit",
    "driver_read_position",
    "driver_begin_manual_scan",
    "driver_end_manual_scan",
};
