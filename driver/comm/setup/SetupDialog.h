#pragma once
// RunSetupDialog: one run of the driver's setup dialog, the body of the exported entry
// point driver_cmm_setup_dialog.
//
// A run logs its call, fills the communication page (from the driver's serial values, then
// from the communication text of the last accepted dialog once the driver is configured),
// runs the sheet (CTab.h) modally and, when it ends with OK, keeps the communication text,
// sets Version to 1.27 and saves the settings. Every run then logs its end, the host's and
// the driver's version texts, and lists the settings. Pages act at Apply already, so what
// was applied before a Cancel stays in effect (but is saved only by a later OK).
//
// Without a display (Qt's offscreen or minimal platform, or when the host turned its
// message boxes off) nobody can answer the sheet: it is then answered at once with its
// default button, OK, and a line saying so goes to stderr, as the host's message boxes do.
// Without a QApplication the sheet is not shown at all (logged, counted as Cancel).
//
// Host UI thread only; nothing throws.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "driver/comm/setup/CDAxis.h"
#include "driver/comm/setup/CommSettingsText.h"

class CQLNapplication;
class CTab;
class QWidget;

struct SetupDialogHooks {
    // The host application object (section names, message boxes, machine record).
    CQLNapplication* hostApp = nullptr;
    // Parent of the sheet: the host's main window, or none.
    QWidget* parent = nullptr;
    // driver_initialize got as far as setting up the machine record.
    bool configured = false;
    // The serial values the driver holds (its machine file's serial line), if any; without
    // them the page starts from CommValues' defaults.
    std::optional<CommValues> serialValues;
    // The TCP address and port of a machine reached over TCP, shown on the communication
    // page instead of letting its serial settings look like the link in use.
    std::optional<std::pair<std::wstring, int>> tcpLink;
    // The driver's version text, for the closing log lines.
    std::wstring driverVersion;
    // The driver's axis codes and axis initialisation.
    DriverAxisHooks axes;
    // Acts on the sheet once it runs modally (tests); a sheet still open when it returns
    // is cancelled. Empty: the operator answers it (or, without a display, OK does).
    std::function<void(CTab&)> drive;
};

// The communication text kept between dialogs ("COM1 19200  N,8,1"); empty until a dialog
// ends with OK. Process-wide; host UI thread.
std::wstring& StoredCommSettings();

// Runs the dialog as described above; returns true when it ended with OK.
bool RunSetupDialog(const SetupDialogHooks& hooks);
