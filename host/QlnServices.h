#pragma once
// The services and data the host application exports to its driver plug-ins.
//
// A driver links against this library the way a plug-in imports from its host program. It
// copies qlnTheApp when it is loaded; the objects behind it live for the whole process. All
// services are called on the host's UI thread, never throw, and record what they did in
// QlnRecorder() (HostRecorder.h); how they answer is set in QlnConfig() (HostConfig.h).
// Points are three doubles x, y, z in host length units; texts are wide.

#include <string>

#include "host/CQLNapplication.h"
#include "host/CQLNdebugOutput.h"
#include "host/CQLNinterface.h"
#include "host/CQLNtip_data.h"

// Exported data.
extern CQLNapplication* qlnTheApp;      // the host application object (hostApp)
extern CQLNdebugOutput qlnDebugOutput;  // target of every driver log line
extern void* qlnResourceModule;         // the host's resource module (its string table)

// Message box styles and answers (Win32 values).
inline constexpr unsigned kQlnBoxOk = 0;
inline constexpr unsigned kQlnBoxOkCancel = 1;
inline constexpr unsigned kQlnBoxYesNoCancel = 3;
inline constexpr unsigned kQlnBoxYesNo = 4;
inline constexpr int kQlnAnswerOk = 1;
inline constexpr int kQlnAnswerCancel = 2;
inline constexpr int kQlnAnswerYes = 6;
inline constexpr int kQlnAnswerNo = 7;

// Settings section for a driver or data file name (config prefix + name; empty for null).
std::wstring QlnSectionName(CQLNapplication* app, const wchar_t* name);

// Per-user setting registration: the host remembers that key of section has a per-user copy
// in userSection/userKey.
void QlnRegisterUserSetting(const wchar_t* section, const wchar_t* key, int kind, int userWritable,
                            int userScoped, const wchar_t* userSection, const wchar_t* userKey);

// The host's version text.
std::wstring QlnVersionText();

// A driver finished machine initialisation: the host leaves its start-up state.
void QlnMachineInitComplete(CQLNapplication* app);

// Status line message by resource number or text; the two extras are recorded.
void QlnStatusMessage(CQLNapplication* app, unsigned resourceId, int extra1 = 0, int extra2 = -1);
void QlnStatusMessage(CQLNapplication* app, const wchar_t* text, int extra1 = 0, int extra2 = -1);

// Message box by resource number or text in a style above; returns the answer. Never blocks
// without a display (see HostConfig).
int QlnMessageBox(CQLNhostInterface* iface, unsigned resourceId, unsigned style = kQlnBoxOk,
                  unsigned helpId = 0);
int QlnMessageBox(CQLNhostInterface* iface, const wchar_t* text, unsigned style = kQlnBoxOk,
                  unsigned helpId = 0);

// Position readout: the current point and rotary angle (degrees); the rest is recorded.
void QlnUpdateReadout(const double xyz[3], CQLNapplication* app, double rotaryAngle, int mode,
                      int axes, int refresh, int tipIndex, double probeA, double probeB,
                      double probeC, int flags, double scanValue);

// A manual hit: point, probe vector, probe-head angles (three doubles) and rotary angle.
void QlnManualHit(CQLNapplication* app, const double xyz[3], const double ijk[3],
                  const double headAngles[3], double rotaryAngle, int count, int tipIndex,
                  int flags, int feature, double marker);

// Point preparation before the automatic-hit test: moves xyz (in place) into the request's
// frame (xyz minus frame.origin) when mask is nonzero.
void QlnPreparePoint(CQLNapplication* app, double xyz[3], const CQLNframe& frame, int mask,
                     int flags);

// Previous point handed to the automatic-hit test (by value).
struct QLNpoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Automatic-hit test: nonzero for a hit (never, unless HostConfig sets a rule). ijkOut receives the
// unit direction of travel from previous to current (0, 0, 1 when they coincide); beepInterval may
// be set (HostConfig).
int QlnAutoHitTest(CQLNhostInterface* iface, const double current[3], double ijkOut[3],
                   QLNpoint previous, int* beepInterval);

// Tips: the active tip or null, a tip's offset, a tip's name ("NONE" for null).
CQLNtip_data* QlnActiveTip(CQLNhostInterface* iface);
void QlnTipOffset(const CQLNtip_data* tip, double xyz[3]);
std::wstring QlnTipName(const CQLNtip_data* tip);

// Machine record by number (1..4; null otherwise) and the current machine's record (the
// flags argument is reserved, drivers pass 0).
CQLNmachine* QlnMachineRecord(CQLNhostInterface* iface, int machine);
CQLNmachine* QlnCurrentMachine(CQLNhostInterface* iface, int flags);
// Nonzero when the record's machine carries a rotary table.
int QlnHasRotaryTable(const CQLNmachine* record);

// Option query (63: compensation maps are enciphered) and the fallback permission.
int QlnQueryOption(int option);
int QlnQueryOption();

// Stops a host timer on the application window (recorded only: the stand-in has no timers).
void QlnKillTimer(CQLNapplication* app, unsigned timerId);

// Makes module the current resource module for QlnLoadString (null: the host's own).
void QlnSetResourceModule(void* module);
// Text of a host string resource; empty for an unknown number.
std::wstring QlnLoadString(unsigned resourceId);
