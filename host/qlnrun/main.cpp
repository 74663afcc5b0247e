// qlnrun: the host shell. Sets up the host stand-in, loads a driver plug-in, starts it and
// lets a script (stdin, headless event lines on stdout) or a user (the window) drive it.
// docs/qlnrun.md describes the command line, the commands and the event lines.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "host/CQLNterminalWindow.h"
#include "host/QlnServices.h"
#include "host/qlnrun/DriverLibrary.h"
#include "host/qlnrun/EventFormatter.h"
#include "host/qlnrun/EventStream.h"
#include "host/qlnrun/HostShell.h"
#include "host/qlnrun/LineReader.h"
#include "host/qlnrun/QlnrunOptions.h"
#include "host/qlnrun/ShellWindow.h"
#include "host/qlnrun/SignalWatcher.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitDriverFailed = 1;

void complain(const QString& text) {
    std::fprintf(stderr, "qlnrun: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Platforms that show nothing on a screen.
bool platformIsHeadless() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return platform.startsWith("offscreen") || platform.startsWith("minimal");
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QlnrunOptions options;
    QString error;
    switch (ParseQlnrunOptions(arguments, options, error)) {
        case QlnrunParse::Help:
        case QlnrunParse::Version:
            std::fputs(error.toLocal8Bit().constData(), stdout);
            return 0;
        case QlnrunParse::Error:
            complain(error + QStringLiteral(" (qlnrun --help lists the options)"));
            return kExitUsage;
        case QlnrunParse::Run:
            break;
    }
    const bool headless = options.headless || !hasDisplay() || platformIsHeadless();

    // Names given on the command line are relative to where qlnrun was started.
    const QString driverPath =
        options.driverPath.isEmpty() ? QString() : QFileInfo(options.driverPath).absoluteFilePath();
    if (!options.directory.isEmpty() && !QDir::setCurrent(options.directory)) {
        complain(QStringLiteral("cannot change to the folder %1").arg(options.directory));
        return kExitUsage;
    }

    EventStream events;
    if (headless)
        events.Open();

    // Headless: the offscreen platform, so no window of the driver's appears anywhere.
    std::vector<char*> qtArguments(argv, argv + 1);
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    if (headless) {
        qtArguments.push_back(platformOption);
        qtArguments.push_back(platformName);
    }
    int qtArgc = int(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication app(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("qlnrun"));
    // The driver's terminal window may be the last one open; closing it ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString driverFile = driverPath.isEmpty() ? DriverLibrary::DefaultFile() : driverPath;
    HostShell shell(options);
    shell.configureHost();
    if (!shell.loadDriver(driverFile)) {
        complain(shell.errorText());
        return kExitDriverFailed;
    }

    SignalWatcher signalWatcher;
    LineReader input(STDIN_FILENO);
    std::unique_ptr<ShellWindow> window;
    EventFormatter formatter;

    QObject::connect(&shell, &HostShell::finishedWith, &app, [&](int exitCode) {
        input.setEnabled(false);
        QCoreApplication::exit(exitCode);
    });
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &shell,
                     [&](int) { shell.finish(0); });

    if (headless) {
        QObject::connect(&shell, &HostShell::hostEvent, &app, [&](const HostEvent& event) {
            // The driver reports on this thread, so this is the moment the host got the event.
            const auto received = std::chrono::steady_clock::now();
            auto line = formatter.lineFor(event);
            if (!line)
                return;
            if (options.timestamps)
                *line += TimestampSuffix(received);
            if (!events.WriteLine(*line))
                shell.finish(0);  // nobody reads the events any more
        });
    } else {
        window = std::make_unique<ShellWindow>(QFileInfo(driverFile).fileName());
        QObject::connect(&shell, &HostShell::hostEvent, window.get(), &ShellWindow::showHostEvent);
        QObject::connect(&shell, &HostShell::busyChanged, window.get(), &ShellWindow::setBusy);
        QObject::connect(window.get(), &ShellWindow::closeRequested, &shell,
                         [&] { shell.finish(0); });
        QObject::connect(window.get(), &ShellWindow::commandRequested, &shell, &HostShell::submit);
        QObject::connect(&shell, &HostShell::commandRefused, window.get(), &ShellWindow::showError);
        window->show();
    }

    // Commands on stdin. Queued: a command whose driver call runs a dialog must not hold up
    // reading the commands behind it (a quit, say).
    QObject::connect(
        &input, &LineReader::lineRead, &shell,
        [&](const QByteArray& line) {
            ShellCommand command;
            std::string problem;
            if (ParseShellCommand(line.toStdString(), command, problem))
                shell.submit(command);
            else
                complain(QString::fromStdString(problem));
        },
        Qt::QueuedConnection);
    QObject::connect(&shell, &HostShell::commandRefused, &shell, complain);
    QObject::connect(&input, &LineReader::tooLong, &shell,
                     [] { complain(QStringLiteral("command line too long; ignored")); });
    QObject::connect(&input, &LineReader::ended, &shell, [&] {
        // A script that ends its input ends the session, unless a duration was given or a
        // user works with the window.
        if (headless && !options.duration)
            shell.finish(0);
    });

    if (options.duration) {
        QTimer::singleShot(std::chrono::milliseconds(qint64(*options.duration * 1000.0)), &shell,
                           [&] { shell.finish(0); });
    }
    QTimer::singleShot(0, &shell, [&] {
        if (shell.initialize()) {
            input.setEnabled(!shell.finished());
        } else {
            complain(QStringLiteral("the driver failed to start (driver_initialize returned 1)"));
            shell.finish(kExitDriverFailed);
        }
    });

    const int status = app.exec();
    window.reset();
    // The driver's terminal window belongs to the host; it must go before the application.
    QlnDestroyTerminalWindow();
    return status;
}
