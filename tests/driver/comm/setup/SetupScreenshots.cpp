// setup_dialog_screenshots <folder>: renders the three pages of the setup sheet with
// example values into <folder>/setup-comm.png, setup-axes.png and setup-debug.png, without
// a display (Qt's offscreen platform) and without touching any stored settings.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/setup/CTab.h"
#include "driver/core/settings/DriverSettings.h"
#include "host/QlnServices.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    setenv("SETVAULT_INI", qPrintable(scratch.filePath("settings.ini")), 1);
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    driverSettings.DebugLog = true;
    driverSettings.DebugFile = L"debug.txt";
    driverSettings.DebugWindow = true;
    driverSettings.DebugTitle = L"Interface";
    driverSettings.DebugPosReport = 0;
    driverSettings.DebugCMM = 2;
    driverSettings.DebugCPU = 3;
    driverSettings.Version = kSettingsVersion;

    DriverAxisHooks axes;
    axes.codes = [] { return AxisCodes{0, 2, 4}; };
    CTab sheet(axes, TheDebugLog(), qlnTheApp, nullptr);
    int port = 1, baud = 19200, parity = 0, dataBits = 8, stop = 0;
    sheet.Comm().SetCommValues(true, &port, &baud, &parity, &dataBits, &stop);
    sheet.Comm().ShowTcpLink(QStringLiteral("127.0.0.1"), 1390);  // the example machine
    sheet.resize(420, 400);
    sheet.show();

    const char* files[] = {"setup-comm.png", "setup-axes.png", "setup-debug.png"};
    for (int page = 0; page < CTab::kPageCount; ++page) {
        sheet.SetActivePage(page);
        QApplication::processEvents();
        const QString path = out.filePath(QString::fromLatin1(files[page]));
        if (!sheet.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
