#include "driver/comm/setup/SetupDialog.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <cstdio>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/setup/CTab.h"
#include "driver/comm/setup/SetupTexts.h"
#include "driver/core/settings/DriverSettings.h"
#include "driver/core/settings/SettingsStore.h"
#include "host/HostConfig.h"
#include "host/HostMessageBox.h"
#include "host/QlnServices.h"

using namespace setuptext;

namespace {

// A host that opens the dialog before driver_initialize has not loaded the settings yet;
// saving them on OK would then overwrite every stored value with an empty one. A load
// always gives Version at least its stored number or the default, so 0 means "not loaded".
void EnsureSettingsLoaded(CQLNapplication* hostApp) {
    if (driverSettings.Version != 0.0)
        return;
    const std::wstring section = DriverSettingsSection(hostApp);
    registerSettings(driverSettingsTable, section.c_str());
    loadSettings(driverSettingsTable, section.c_str());
}

bool CanAskOperator() {
    return QlnConfig().interactiveMessageBoxes && HostMessageBoxesAreInteractive();
}

// Runs the sheet modally; `drive` (if any) acts on it from inside the modal loop.
bool RunSheet(CTab& sheet, const std::function<void(CTab&)>& drive) {
    if (drive) {
        QPointer<CTab> guard(&sheet);
        QTimer::singleShot(0, &sheet, [guard, &drive] {
            if (guard)
                drive(*guard);
            // Whatever the driver left open would wait for an operator who is not there.
            if (guard && guard->isVisible())
                guard->reject();
        });
    }
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace

std::wstring& StoredCommSettings() {
    static std::wstring text;
    return text;
}

bool RunSetupDialog(const SetupDialogHooks& hooks) {
    LogLine(kLogSetupCall, 0u, kNoTipName);
    EnsureSettingsLoaded(hooks.hostApp);

    CommValues values = hooks.serialValues.value_or(CommValues{});
    // The first dialog after start-up has no text yet and keeps the serial values.
    if (hooks.configured)
        ParseCommSettings(StoredCommSettings(), values);

    bool accepted = false;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        LogLine(kLogNoGui);
    } else {
        CTab sheet(hooks.axes, TheDebugLog(), hooks.hostApp, hooks.parent);
        sheet.Comm().SetCommValues(true, &values.port, &values.baud, &values.parityIndex,
                                   &values.dataBits, &values.stopIndex);
        if (hooks.tcpLink)
            sheet.Comm().ShowTcpLink(QString::fromStdWString(hooks.tcpLink->first),
                                     hooks.tcpLink->second);
        std::function<void(CTab&)> drive = hooks.drive;
        if (!drive && !CanAskOperator()) {
            std::fprintf(stderr, "Tactus setup dialog \"%s\": no display, answered OK\n",
                         sheet.windowTitle().toLocal8Bit().constData());
            std::fflush(stderr);
            drive = [](CTab& s) { s.Ok(); };
        }
        accepted = RunSheet(sheet, drive);
    }

    if (accepted) {
        StoredCommSettings() = FormatCommSettings(values);
        driverSettings.Version = kSettingsVersion;
        saveSettings(driverSettingsTable, DriverSettingsSection(hooks.hostApp).c_str());
    }

    LogLine(kLogSetupExit);
    LogLine(kLogHostVersion, QlnVersionText().c_str());
    LogLine(kLogInterfaceVersion, hooks.driverVersion.c_str());
    listSettings(driverSettingsTable, DriverSettingsSection(hooks.hostApp).c_str());
    return accepted;
}
