#include "tests/server/robustness/ServerProcess.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <filesystem>

#include "tests/server/robustness/RawClient.h"

namespace {

using Clock = std::chrono::steady_clock;

QString BinDir() {
    return qEnvironmentVariableIsSet("VEX_BIN_DIR") ? qEnvironmentVariable("VEX_BIN_DIR")
                                                    : QCoreApplication::applicationDirPath();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The card settings that match the stand-in card's default scale.
constexpr char kCardFile[] =
    "<?xml version=\"1.0\"?>\n<VEXENC7480>\n  <Card number=\"0\">\n"
    "    <X_COUNTS_PER_MM>50</X_COUNTS_PER_MM>\n    <Y_COUNTS_PER_MM>50</Y_COUNTS_PER_MM>\n"
    "    <Z_COUNTS_PER_MM>50</Z_COUNTS_PER_MM>\n"
    "    <W_COUNTS_PER_TURN>360</W_COUNTS_PER_TURN>\n  </Card>\n</VEXENC7480>\n";

}  // namespace

void EnsureQtApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "vex_server_harness";
    static char* argv[] = {name, nullptr};
    // Deliberately never destroyed: it serves the whole process.
    new QCoreApplication(argc, argv);
}

uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

ServerProcess::ServerProcess() {
    EnsureQtApplication();
}

ServerProcess::~ServerProcess() {
    Kill();
}

bool ServerProcess::Prepare(const ServerOptions& options) {
    const QDir dir(dir_.path());
    QByteArray vex = options.serverFileText;
    if (vex.isEmpty()) {
        vex = "<?xml version=\"1.0\"?>\n<VEX>\n";
        vex += "  <INTERFACE>" + options.interfaceName.toUtf8() + "</INTERFACE>\n";
        vex += "  <TCPPortNumber>" + QByteArray::number(port_) + "</TCPPortNumber>\n";
        vex += "  <WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>\n";
        vex += "  <POLL_TIME>" + QByteArray::number(options.pollTime) + "</POLL_TIME>\n";
        for (const auto& [key, value] : options.extraKeys)
            vex += "  <" + key.toUtf8() + ">" + value.toUtf8() + "</" + key.toUtf8() + ">\n";
        vex += "</VEX>\n";
    }
    const QString serverFile = dir.filePath(QStringLiteral("VEX.XML"));
    QFile::remove(serverFile);
    if (options.writeServerFile && !WriteFile(serverFile, vex))
        return false;
    const QByteArray card = options.cardFileText.isEmpty() ? kCardFile : options.cardFileText;
    if (options.writeCardFile && !WriteFile(dir.filePath(QStringLiteral("VEXENC7480.XML")), card))
        return false;
    if (!options.script.isEmpty() &&
        !WriteFile(dir.filePath(QStringLiteral("machine.vexsim")), options.script))
        return false;
    QFile::remove(dir.filePath(QStringLiteral("touches.log")));
    return true;
}

bool ServerProcess::Launch(const ServerOptions& options) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No display: the program chooses its headless platform by itself.
    for (const char* name :
         {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "LD_LIBRARY_PATH", "VEXSIM_SCRIPT",
          "VEXSIM_TIME_SCALE", "VEXSIM_SCALE", "VEXSIM_TOUCH_LOG"})
        env.remove(QString::fromLatin1(name));
    const QDir dir(dir_.path());
    if (!options.script.isEmpty())
        env.insert(QStringLiteral("VEXSIM_SCRIPT"), dir.filePath(QStringLiteral("machine.vexsim")));
    if (options.touchLog)
        env.insert(QStringLiteral("VEXSIM_TOUCH_LOG"), dir.filePath(QStringLiteral("touches.log")));
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(dir_.path());
    process_.setStandardOutputFile(dir.filePath(QStringLiteral("stdout.txt")));
    process_.setStandardErrorFile(dir.filePath(QStringLiteral("stderr.txt")));
    process_.start(QDir(BinDir()).filePath(QStringLiteral("VexServer")), options.arguments);
    return process_.waitForStarted(30000);
}

bool ServerProcess::Start(const ServerOptions& options) {
    Kill();
    port_ = FreeLoopbackPort();
    return port_ != 0 && Prepare(options) && Launch(options);
}

bool ServerProcess::StartAndConnect(const ServerOptions& options, RawClient& client, Millis timeout,
                                    const char* host, int receiveBuffer) {
    const auto deadline = Clock::now() + timeout;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!Start(options))
            return false;
        while (Clock::now() < deadline && IsRunning() &&
               !Stderr().contains(QLatin1String("Cannot listen"))) {
            if (client.Connect(port_, Millis(1000), host, receiveBuffer)) {
                const auto greeting =
                    client.ReadLine(std::chrono::duration_cast<Millis>(deadline - Clock::now()));
                return greeting && *greeting == "( VEXVersion:20 ) 240\r\n";
            }
            QThread::msleep(20);
        }
        // The port was taken between the probe and the program's listen: try another.
        if (!Stderr().contains(QLatin1String("Cannot listen")))
            return false;
    }
    return false;
}

bool ServerProcess::IsRunning() {
    // Lets QProcess notice an ended child without an event loop.
    process_.waitForFinished(0);
    return process_.state() == QProcess::Running;
}

int ServerProcess::WaitForExit(Millis timeout) {
    if (!process_.waitForFinished(int(timeout.count())) ||
        process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

void ServerProcess::Kill() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(30000);
}

QString ServerProcess::Stderr() const {
    return QString::fromLocal8Bit(
        ReadFile(QDir(dir_.path()).filePath(QStringLiteral("stderr.txt"))));
}

int ServerProcess::OpenDescriptors() const {
    std::error_code error;
    const std::filesystem::path fds = "/proc/" + std::to_string(Pid()) + "/fd";
    int count = 0;
    for (std::filesystem::directory_iterator it(fds, error), end; !error && it != end;
         it.increment(error))
        ++count;
    return error ? -1 : count;
}

QList<QByteArray> ServerProcess::TouchLog() const {
    QList<QByteArray> lines =
        ReadFile(QDir(dir_.path()).filePath(QStringLiteral("touches.log"))).split('\n');
    lines.removeAll(QByteArray());
    return lines;
}
