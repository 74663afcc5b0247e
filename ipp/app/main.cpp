// tactus-ipp: the I++ DME server of a manually driven CMM. It hosts the Tactus driver the way
// qlnrun does (host stand-in, libTactus.so started in the machine's folder) and serves I++
// DME clients on TCP, one at a time. docs/ipp.md describes the command line and the protocol.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/SessionRecording.h"
#include "host/CQLNterminalWindow.h"
#include "host/qlnrun/DriverLibrary.h"
#include "host/qlnrun/SignalWatcher.h"
#include "ipp/app/DriverHost.h"
#include "ipp/app/IppOptions.h"
#include "ipp/app/IppServer.h"

namespace {

constexpr int kExitDriverFailed = 1;
constexpr int kExitUsage = 2;
constexpr char kDefaultToolsFile[] = "IppTools.txt";

void complain(const QString& text) {
    std::fprintf(stderr, "tactus-ipp: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString absolute(const QString& path) {
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    IppOptions options;
    QString text;
    switch (ParseIppOptions(arguments, options, text)) {
        case IppParse::Help:
        case IppParse::Version:
            std::fputs(text.toLocal8Bit().constData(), stdout);
            return 0;
        case IppParse::Error:
            complain(text + QStringLiteral(" (tactus-ipp --help lists the options)"));
            return kExitUsage;
        case IppParse::Run:
            break;
    }

    // A server shows nothing: the offscreen platform, also for the driver's own windows.
    std::vector<char*> qtArguments(argv, argv + 1);
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    qtArguments.push_back(platformOption);
    qtArguments.push_back(platformName);
    int qtArgc = int(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication app(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("tactus-ipp"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Names given on the command line are relative to where tactus-ipp was started.
    const QString driverFile =
        options.driverPath.isEmpty() ? DriverLibrary::DefaultFile() : absolute(options.driverPath);
    const QString logFile = absolute(options.logFile);
    QString toolsFile = absolute(options.toolsFile);
    if (!options.directory.isEmpty() && !QDir::setCurrent(options.directory)) {
        complain(QStringLiteral("cannot change to the folder %1").arg(options.directory));
        return kExitUsage;
    }
    if (toolsFile.isEmpty() && QFileInfo::exists(QLatin1String(kDefaultToolsFile)))
        toolsFile = QFileInfo(QLatin1String(kDefaultToolsFile)).absoluteFilePath();

    ipp::ServerState state;
    if (!toolsFile.isEmpty()) {
        std::string error;
        if (!state.tools.LoadFile(toolsFile.toStdString(), error)) {
            complain(QString::fromStdString(error));
            return kExitUsage;
        }
    }
    std::unique_ptr<sessionrec::Writer> log;
    if (!logFile.isEmpty()) {
        log = std::make_unique<sessionrec::Writer>();
        if (!log->Open(logFile)) {
            complain(QStringLiteral("cannot write the session log %1: %2")
                         .arg(logFile, log->errorString()));
            return kExitUsage;
        }
    }

    DriverHost host;
    host.configureHost(options.answers);
    if (!host.load(driverFile)) {
        complain(host.errorText());
        return kExitDriverFailed;
    }
    QObject::connect(&host, &DriverHost::status, &app, [](const QString& status) {
        complain(QStringLiteral("driver: %1").arg(status));
    });

    IppServer server(state, host, log.get());
    bool logFailureTold = false;
    QObject::connect(&server, &IppServer::logFailed, &app, [&](const QString& reason) {
        // Said once; the sessions go on without their record.
        if (!logFailureTold)
            complain(QStringLiteral("the session log cannot be written (%1); sessions go on "
                                    "unrecorded")
                         .arg(reason));
        logFailureTold = true;
    });

    SignalWatcher signalWatcher;
    auto shutDown = [&](int exitCode) {
        server.stop();
        host.close();
        QCoreApplication::exit(exitCode);
    };
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &app, [&](int) { shutDown(0); });

    QTimer::singleShot(0, &app, [&] {
        if (!host.initialize()) {
            complain(QStringLiteral("the driver failed to start (driver_initialize returned 1)"));
            shutDown(kExitDriverFailed);
            return;
        }
        if (!server.listen(options.address, options.port)) {
            complain(QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(options.address.toString())
                         .arg(options.port)
                         .arg(server.errorString()));
            shutDown(kExitDriverFailed);
            return;
        }
        complain(QStringLiteral("listening on %1 port %2")
                     .arg(options.address.toString())
                     .arg(server.port()));
    });

    const int status = app.exec();
    server.stop();
    host.close();
    // The driver's terminal window belongs to the host; it must go before the application.
    QlnDestroyTerminalWindow();
    return status;
}
