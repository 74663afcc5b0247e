#include "server/app/CVexServerApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "common/ProductVersion.h"

#include "server/app/CVexServerDlg.h"
#include "server/app/MessageBox.h"
#include "server/app/TerminationSignals.h"
#include "server/app/VexCommandLineInfo.h"
#include "server/app/VexServerStrings.h"
#include "server/config/ConfigReaders.h"
#include "server/config/ServerConfig.h"
#include "server/config/ServerConfigNames.h"
#include "server/device/SharedLibrary.h"
#include "server/device/VexEnc7480.h"
#include "server/device/VexSimulator.h"
#include "server/net/VexFormat.h"
#include "server/net/VexProtocol.h"
#include "server/net/VexServerSocket.h"

namespace names = ServerConfigNames;

namespace {

// Why listening failed, naming the configured bind address when there is one.
QString ListenFailureReason(const VexServerSocket* socket, const QString& address, int port) {
    if (socket == nullptr)
        return QStringLiteral("no socket");
    if (port < 0 || port > 65535)
        return QStringLiteral("the port is not between 0 and 65535");
    QString reason = socket->errorString();
    // A valid port that was never tried: the address named no address at all (a host
    // name that did not resolve).
    if (socket->serverError() == QAbstractSocket::UnknownSocketError && port >= 0 &&
        port <= 65535 && !address.isEmpty())
        reason = QStringLiteral("the address was not found");
    return address.isEmpty() ? reason : QStringLiteral("%1: %2").arg(address, reason);
}

// What to load for the device library: the file in the folder the user named (the
// environment variable first, then VEX.XML), or the bare name for the library search. A
// folder is never combined with the search, so the library taken is the one asked for.
QString LibraryToLoad(const QString& libraryName, const QString& folderInFile) {
    QString folder = qEnvironmentVariable(names::kDeviceLibraryFolderVariable);
    if (folder.isEmpty())
        folder = folderInFile;
    if (folder.isEmpty())
        return libraryName;
    return QDir(folder).filePath(SharedLibrary::PlatformFileName(libraryName));
}

}  // namespace

CVexServerApp::CVexServerApp() = default;

CVexServerApp::~CVexServerApp() {
    // The window is gone by now; the listening socket's destruction must not reach it.
    dlg_ = nullptr;
}

bool CVexServerApp::CreateDevice(const QString& interfaceName, QString* libraryName) {
    if (interfaceName == QLatin1String(names::kInterfaceEnc7480)) {
        *libraryName = QString::fromLatin1(names::kEnc7480Library);
        auto card = std::make_unique<VexEnc7480>();
        QStringList problems;
        if (!ReadEnc7480Config(QString::fromLatin1(names::kEnc7480File), *card, &problems)) {
            Warn(QString::asprintf(names::kConfigNotFound, names::kEnc7480File));
        }
        for (const QString& problem : problems)
            Warn(problem);
        SetDevice(std::move(card));
        return true;
    }
    if (interfaceName == QLatin1String(names::kInterfaceSimulator)) {
        *libraryName = QString::fromLatin1(names::kSimulatorLibrary);
        auto simulator = std::make_unique<VexSimulator>();
        ReadSimulatorConfig(QString::fromLatin1(names::kSimulatorFile), *simulator);
        SetDevice(std::move(simulator));
        return true;
    }
    return false;
}

void CVexServerApp::Warn(const QString& text) {
    // A hidden server has nobody to click a box away, and a box would hold start-up
    // before the server listens: the warning goes to stderr and the log instead.
    if (hidden_) {
        std::fprintf(stderr, "VexServer: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    } else {
        ShowMessageBox(text);
    }
    warnings_ << text;
}

int CVexServerApp::InitInstance(const QStringList& arguments) {
    // SIGTERM and SIGINT end the program through the window's Exit, as a service manager
    // and a terminal user expect; installed first, so that a signal during start-up is
    // not lost.
    TerminationSignals stopSignals;

    // Sockets need no initialisation here; Qt's network layer is always available.
    ServerConfig config;
    QStringList configProblems;
    if (!ReadServerConfig(QString::fromLatin1(names::kServerFile), config, &configProblems)) {
        // The reason a file that is there was refused follows on the next line.
        configProblems.prepend(QString::fromLatin1(names::kServerFileError));
        ShowMessageBox(configProblems.join(u'\n'));
        return 1;
    }
    hidden_ = config.windowMode == ServerConfig::kWindowHidden;
    for (const QString& problem : configProblems)
        Warn(problem);

    VexCommandLineInfo commandLine;
    commandLine.ParseCommandLine(arguments);

    QString libraryName;
    if (!CreateDevice(config.interfaceName, &libraryName)) {
        ShowMessageBox(QString::fromLatin1(names::kUnsupportedInterface));
        return 1;
    }

    try {
        Device()->Open(LibraryToLoad(libraryName, config.deviceLibraryFolder));
    } catch (const QString& error) {
        ShowMessageBox(QString::fromLatin1(kCardDllFailed).arg(libraryName, error));
        return 1;
    }

    if (Device()->Init(commandLine.reset()) == 0) {
        Warn(QString::fromLatin1(kDeviceNotInitialized).arg(config.interfaceName));
    }

    // BindAddress absent or empty listens on every interface, as drivers on other PCs
    // expect; an address restricts the server to it (docs/security.md).
    SetIdleClientTime(std::chrono::seconds(config.idleClientTime));
    if (!StartServer(config.bindAddress, config.tcpPort)) {
        const QString listenProblem =
            QString::fromLatin1(kListenFailed)
                .arg(config.tcpPort)
                .arg(ListenFailureReason(ServerSocket(), config.bindAddress, config.tcpPort));
        // Nobody could reach a server that neither listens nor shows a window (not even
        // to send "EXI"): it ends. A window on a display stays open with the reason in
        // its log, where the operator sees it.
        if (hidden_ || !MessageBoxesAreInteractive()) {
            ShowMessageBox(listenProblem);
            return 1;
        }
        std::fprintf(stderr, "VexServer: %s\n", listenProblem.toLocal8Bit().constData());
        warnings_ << listenProblem;
    } else {
        // One line that says what runs: above all which library, so that a stand-in
        // shadowing the real card library is seen at once.
        const QString address = config.bindAddress.isEmpty()
                                    ? QStringLiteral("all interfaces")
                                    : ServerSocket()->serverAddress().toString();
        const QString started = QString::fromLatin1(kStartedLine)
                                    .arg(QString::fromLatin1(kProductVersion), config.interfaceName,
                                         Device()->LibraryPath(), address)
                                    .arg(ServerSocket()->serverPort());
        std::fprintf(stderr, "VexServer: %s\n", started.toLocal8Bit().constData());
        std::fflush(stderr);
    }

    CVexServerDlg dlg(this);
    dlg_ = &dlg;
    dlg.SetServerName(GetServerName());
    dlg.SetWindowMode(config.windowMode);
    dlg.SetPollInterval(config.pollTime);
    for (const QString& warning : warnings_)
        dlg.AppendLog(warning);
    const auto exitOnSignal = [&] {
        std::fprintf(stderr, "VexServer: %s received, shutting down\n",
                     stopSignals.ReceivedName().toLatin1().constData());
        std::fflush(stderr);
        dlg.accept();
    };
    QObject::connect(&stopSignals, &TerminationSignals::received, &dlg, exitOnSignal);
    if (stopSignals.Received())
        QTimer::singleShot(0, &dlg, exitOnSignal);
    dlg.RunModal();
    dlg_ = nullptr;
    return 0;
}

void CVexServerApp::OnServerStopped() {
    if (dlg_ == nullptr)
        return;
    dlg_->SetIndicator(kIndicatorGrey);
    dlg_->SetClientName(QString());
}

void CVexServerApp::OnClientConnected() {
    // The greeting goes out only once the position is this session's own.
    if (dlg_ != nullptr)
        dlg_->StartClientSession();
    Send(vexproto::kCodeVersion, VexFormat(vexproto::kVersionFormat, vexproto::kVersion));
    if (dlg_ == nullptr)
        return;
    dlg_->SetIndicator(kIndicatorGreen);
    dlg_->SetServerName(GetServerName());
    dlg_->SetClientName(GetClientName());
}

void CVexServerApp::OnClientDisconnected() {
    if (dlg_ == nullptr)
        return;
    dlg_->SetIndicator(kIndicatorYellow);
    dlg_->SetClientName(QString());
}

void CVexServerApp::OnServerReset() {
    if (dlg_ == nullptr)
        return;
    dlg_->SetIndicator(kIndicatorRed);
    dlg_->SetClientName(QString());
}

void CVexServerApp::OnMessage(const VexMessage& message) {
    if (ReceivedCount() == 0)
        Stopwatch().Start();
    if (dlg_ != nullptr)
        dlg_->HandleRequest(message.Text());
    SetReceivedCount(ReceivedCount() + 1);
}
