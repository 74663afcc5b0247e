#include "driver/plugin/SetupDialogExport.h"

#include <variant>

#include "driver/comm/setup/SetupDialog.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"

void RunDriverSetupDialog() {
    TactusDriver& driver = TheDriver();
    driver.RereadHostInterface();
    SetupDialogHooks hooks;
    hooks.hostApp = driver.HostApp();
    hooks.configured = driver.IsConfigured();
    // The communication page starts from the machine file's serial values, if any, and
    // shows a TCP machine's address instead.
    for (const CommInfoChild& child : driver.Config().channels) {
        if (const auto* s = std::get_if<SerialSettings>(&child)) {
            hooks.serialValues = CommValuesFromSerial(
                s->PortNumber(), s->Baud, wchar_t(s->ParityLetter()), s->Size, s->StopBits);
            break;
        }
        if (const auto* t = std::get_if<TcpSettings>(&child)) {
            hooks.tcpLink = {t->ConnectAddress(), t->port};
            break;
        }
    }
    hooks.driverVersion = drivertext::kVersion;
    hooks.axes.codes = [&driver] {
        const AxisMapping& a = driver.Axes();
        return AxisCodes{a.Code(0), a.Code(1), a.Code(2)};
    };
    hooks.axes.setCodes = [&driver](const AxisCodes& c) {
        driver.Axes() = AxisMapping(c[0], c[1], c[2]);
    };
    hooks.axes.initialize = [&driver] { driver.InitializeScaleAxis(); };
    RunSetupDialog(hooks);
}
