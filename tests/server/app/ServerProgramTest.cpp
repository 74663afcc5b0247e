// The VexServer program as users run it: the real executable in a temporary working
// directory made from examples/, with the stand-in device libraries, without a display
// (hidden, or shown offscreen) and driven over TCP on a free port of 127.0.0.1. The simulated
// machine follows a motion script given through VEXSIM_SCRIPT.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "common/ProductVersion.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

constexpr int kWaitMs = 60000;  // generous: the machine is shared and may be slow

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_app_program_test");

QString BinDir() {
    return qEnvironmentVariableIsSet("VEX_BIN_DIR") ? qEnvironmentVariable("VEX_BIN_DIR")
                                                    : QCoreApplication::applicationDirPath();
}

// A file of the program folder by its canonical path, as the server names what it loaded.
std::string BinPath(const char* name) {
    return QDir(QDir(BinDir()).canonicalPath()).filePath(QLatin1String(name)).toStdString();
}

QString ExamplesDir() {
    const QString source = qEnvironmentVariableIsSet("VEX_SOURCE_DIR")
                               ? qEnvironmentVariable("VEX_SOURCE_DIR")
                               : QStringLiteral(VEX_TEST_SOURCE_DIR);
    return QDir(source).filePath(QStringLiteral("examples"));
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray SetElement(QByteArray xml, const char* key, const QString& value) {
    const QString k = QString::fromLatin1(key);
    QString text = QString::fromUtf8(xml);
    text.replace(QRegularExpression(QStringLiteral("<%1>[^<]*</%1>").arg(k)),
                 QStringLiteral("<%1>%2</%1>").arg(k, value));
    return text.toUtf8();
}

quint16 FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Approach from +X along the line y 20, z 30; the touch is at x 10 and stays deflected
// for a second. Every point the history can hold lies on that line, so the approach
// vector is +X whatever the poll rhythm.
constexpr char kTouchScript[] =
    "start 40 20 30 0\n"
    "pause 0.5\n"
    "move  20 20 30 0  20\n"
    "touch 10 20 30 0  5 1\n"
    "move  40 20 30 0  20\n"
    "repeat\n";

// Starts at 100 50 20 90 and creeps away slowly, then rests.
constexpr char kCreepScript[] =
    "start 100 50 20 90\n"
    "move  101 51 21 90  0.5\n"
    "pause 100000\n";

struct ServerSetup {
    QString interfaceName = QStringLiteral("SIMULATOR");
    QString window = QStringLiteral("HIDE");
    QStringList arguments;
    QByteArray script = kTouchScript;  // empty: VEXSIM_SCRIPT names a missing file
    bool serverFile = true;            // VEX.XML
    QByteArray serverFileText;         // replaces the example VEX.XML when not empty
    bool cardFile = true;              // VEXENC7480.XML
    bool ownBinary = false;            // a copy of VexServer without its libraries beside it
    bool unreachableDisplay = false;   // DISPLAY names a display nobody serves
    QString libraryFolderKey;          // DeviceLibraryFolder in VEX.XML when not empty
    QString libraryFolderVariable;     // VEX_DEVICE_LIBRARY_DIR when not empty
    QString pollTime = QStringLiteral("50");
};

// The usual set-up with one change.
ServerSetup With(const std::function<void(ServerSetup&)>& change) {
    ServerSetup setup;
    change(setup);
    return setup;
}

// One VexServer process in its own working directory, and one client connection.
class Server {
  public:
    ~Server() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kWaitMs);
        }
    }

    // Prepares the directory and starts the program; with `connect`, also connects to it
    // (on another port when the chosen one was taken meanwhile). False when that fails.
    bool Start(const ServerSetup& setup, bool connect = true) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = FreePort();
            if (!Prepare(setup) || !Launch(setup))
                return false;
            if (!connect)
                return true;
            // The port was free a moment ago; another program may have taken it since.
            QDeadlineTimer deadline(kWaitMs);
            while (!deadline.hasExpired() && process_.state() == QProcess::Running &&
                   !Stderr().contains("Cannot listen")) {
                socket_.connectToHost(QHostAddress::LocalHost, port_);
                if (socket_.waitForConnected(1000))
                    return true;
                socket_.abort();
                QThread::msleep(50);
            }
            if (!Stderr().contains("Cannot listen"))
                return false;
            process_.kill();
            process_.waitForFinished(kWaitMs);
        }
        return false;
    }

    QByteArray ReadLine() {
        QDeadlineTimer deadline(kWaitMs);
        while (!buffer_.contains("\r\n")) {
            if (deadline.hasExpired() || !socket_.waitForReadyRead(deadline.remainingTime()))
                return {};
            buffer_ += socket_.readAll();
        }
        const qsizetype end = buffer_.indexOf("\r\n") + 2;
        const QByteArray line = buffer_.left(end);
        buffer_.remove(0, end);
        return line;
    }
    void Disconnect() {
        socket_.disconnectFromHost();
        buffer_.clear();
    }
    bool Reconnect() {
        socket_.connectToHost(QHostAddress::LocalHost, port_);
        return socket_.waitForConnected(kWaitMs);
    }
    void Signal(int number) { ::kill(pid_t(process_.processId()), number); }
    // The device library's open and close calls (VEXSIM_CALL_LOG), one per line.
    QByteArray CallLog() const {
        return ReadFile(QDir(dir_.path()).filePath(QStringLiteral("calls.log")));
    }
    void Write(const QByteArray& request) {
        socket_.write(request);
        socket_.waitForBytesWritten(kWaitMs);
    }
    // Sends a request and returns the text part of its answer (the line ending in the
    // code); notices arriving meanwhile are counted in hitNotices.
    QByteArray Ask(const QByteArray& request, int code) {
        Write(request);
        const QByteArray tail = " ) " + QByteArray::number(code) + "\r\n";
        for (QByteArray line = ReadLine(); !line.isEmpty(); line = ReadLine()) {
            if (line == "( HIT ) 241\r\n")
                ++hitNotices;
            else if (line.endsWith(tail) && line.startsWith("( "))
                return line.mid(2, line.size() - 2 - tail.size());
        }
        return {};
    }
    std::vector<double> AskNumbers(const QByteArray& request, int code) {
        std::vector<double> values;
        for (const QByteArray& v : Ask(request, code).split(' '))
            values.push_back(v.toDouble());
        return values;
    }

    // Waits for the program to end; its exit code, or -1 when it did not end normally.
    int WaitForExit() {
        if (!process_.waitForFinished(kWaitMs) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }
    QString Stderr() {
        if (process_.state() == QProcess::Running)
            process_.waitForReadyRead(0);  // takes in what the program wrote so far
        stderr_ += process_.readAllStandardError();
        return QString::fromLocal8Bit(stderr_);
    }
    bool SocketClosedByServer() {
        return socket_.state() == QAbstractSocket::UnconnectedState ||
               socket_.waitForDisconnected(kWaitMs);
    }

    int hitNotices = 0;

  private:
    bool Prepare(const ServerSetup& setup) {
        const QDir dir(dir_.path());
        QByteArray vex = ReadFile(QDir(ExamplesDir()).filePath(QStringLiteral("VEX.XML")));
        vex = SetElement(vex, "INTERFACE", setup.interfaceName);
        vex = SetElement(vex, "TCPPortNumber", QString::number(port_));
        vex = SetElement(vex, "WINDOW_HIDE_SHOW", setup.window);
        if (!setup.libraryFolderKey.isEmpty())
            vex.replace("</VEX>", "<DeviceLibraryFolder>" + setup.libraryFolderKey.toUtf8() +
                                      "</DeviceLibraryFolder></VEX>");
        vex = SetElement(vex, "POLL_TIME", setup.pollTime);
        if (!setup.serverFileText.isEmpty())
            vex = setup.serverFileText;
        if (setup.serverFile && !WriteFile(dir.filePath(QStringLiteral("VEX.XML")), vex))
            return false;
        if (setup.cardFile &&
            !QFile::copy(QDir(ExamplesDir()).filePath(QStringLiteral("VEXENC7480.XML")),
                         dir.filePath(QStringLiteral("VEXENC7480.XML"))))
            return false;
        if (!setup.script.isEmpty() &&
            !WriteFile(dir.filePath(QStringLiteral("machine.vexsim")), setup.script))
            return false;
        program_ = QDir(BinDir()).filePath(QStringLiteral("VexServer"));
        if (setup.ownBinary) {
            const QString copy = dir.filePath(QStringLiteral("VexServer"));
            if (!QFile::exists(copy) && !QFile::copy(program_, copy))
                return false;
            program_ = copy;
        }
        return true;
    }

    bool Launch(const ServerSetup& setup) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display: the program must choose a platform that needs none by itself.
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        if (setup.unreachableDisplay)
            env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":65000"));
        env.insert(QStringLiteral("VEXSIM_SCRIPT"),
                   QDir(dir_.path()).filePath(QStringLiteral("machine.vexsim")));
        env.insert(QStringLiteral("VEXSIM_CALL_LOG"),
                   QDir(dir_.path()).filePath(QStringLiteral("calls.log")));
        for (const char* name : {"VEXSIM_TIME_SCALE", "VEXSIM_SCALE", "VEXSIM_TOUCH_LOG"})
            env.remove(QString::fromLatin1(name));
        if (setup.ownBinary) {
            QDir(dir_.path()).mkdir(QStringLiteral("nolibs"));
            env.insert(QStringLiteral("LD_LIBRARY_PATH"),
                       QDir(dir_.path()).filePath(QStringLiteral("nolibs")));
        } else {
            env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        }
        env.remove(QStringLiteral("VEX_DEVICE_LIBRARY_DIR"));
        if (!setup.libraryFolderVariable.isEmpty())
            env.insert(QStringLiteral("VEX_DEVICE_LIBRARY_DIR"), setup.libraryFolderVariable);
        process_.setProcessEnvironment(env);
        process_.setReadChannel(QProcess::StandardError);
        process_.setWorkingDirectory(dir_.path());
        process_.start(program_, setup.arguments);
        return process_.waitForStarted(kWaitMs);
    }

    QTemporaryDir dir_;
    QProcess process_;
    QString program_;
    quint16 port_ = 0;
    QTcpSocket socket_;
    QByteArray buffer_;
    QByteArray stderr_;
};

TEST(VexServerProgram, ServesGreetingPositionsAndHitsAndEndsOnExi) {
    struct Row {
        const char* legend;
        const char* interfaceName;
        const char* window;
    } rows[] = {
        {"simulator library, hidden window", "SIMULATOR", "HIDE"},
        {"card stand-in, window shown offscreen", "ENC7480", "SHOW"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Server server;
        ServerSetup setup;
        setup.interfaceName = QString::fromLatin1(row.interfaceName);
        setup.window = QString::fromLatin1(row.window);
        ASSERT_TRUE(server.Start(setup)) << server.Stderr().toStdString();
        EXPECT_EQ(server.ReadLine(), "( VEXVersion:20 ) 240\r\n");

        // Positions move with the machine; keep asking until a hit is announced.
        QSet<QByteArray> positions;
        QDeadlineTimer deadline(kWaitMs);
        while (server.hitNotices == 0 && !deadline.hasExpired()) {
            const QByteArray position = server.Ask("POS", 235);
            ASSERT_FALSE(position.isEmpty()) << "no answer to POS";
            positions.insert(position);
        }
        ASSERT_GT(server.hitNotices, 0) << "no ( HIT ) 241 within the time-out";
        EXPECT_GE(positions.size(), 2) << "the position never changed";

        const QByteArray hit = server.Ask("HIT", 237);
        EXPECT_TRUE(hit.startsWith("10.000000 20.000000 30.000000 0.000000 ")) << hit.constData();
        const std::vector<double> v = server.AskNumbers("HIT", 237);
        ASSERT_EQ(v.size(), 7u);
        EXPECT_NEAR(std::hypot(v[4], v[5], v[6]), 1.0, 1e-5) << "not a unit vector";
        EXPECT_GT(v[4], 0.99) << "the probe came from +X";

        server.Write("EXI");
        EXPECT_EQ(server.WaitForExit(), 0) << server.Stderr().toStdString();
        EXPECT_TRUE(server.SocketClosedByServer());
    }
}

TEST(VexServerProgram, StartUpFailuresEndWithTheirMessage) {
    QTcpServer taken;  // a port some other program listens on
    ASSERT_TRUE(taken.listen(QHostAddress::Any, 0));
    const auto listeningOn = [](const QString& port) {
        return "<VEX><INTERFACE>SIMULATOR</INTERFACE><WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>"
               "<TCPPortNumber>" +
               port.toUtf8() + "</TCPPortNumber></VEX>";
    };
    const QString inUse = QString::number(taken.serverPort());
    const QByteArray inUseMessage = "VexServer: Cannot listen on TCP port " + inUse.toUtf8() +
                                    ": The bound address is already in use\n";
    struct Row {
        const char* legend;
        ServerSetup setup;
        const char* message;  // the first line of the message box on stderr
    } rows[] = {
        {"no VEX.XML in the working directory", With([](ServerSetup& s) { s.serverFile = false; }),
         "VexServer: VEX.XML error: file not exist or INTERFACE name not found\n"},
        {"VEX.XML not well formed",
         With([](ServerSetup& s) { s.serverFileText = "<VEX><INTERFACE>SIMULATOR</VEX>"; }),
         "VexServer: VEX.XML error: file not exist or INTERFACE name not found\n"},
        {"unknown INTERFACE", With([](ServerSetup& s) { s.interfaceName = "ENC7481"; }),
         "VexServer: Unsupported INTERFACE is set up in VEX.XML\n"},
        {"INTERFACE names are case-sensitive",
         With([](ServerSetup& s) { s.interfaceName = "simulator"; }),
         "VexServer: Unsupported INTERFACE is set up in VEX.XML\n"},
        {"simulator library missing", With([](ServerSetup& s) { s.ownBinary = true; }),
         "VexServer: Card DLL VexSimulator.DLL failed to load: "},
        {"card library missing", With([](ServerSetup& s) {
             s.interfaceName = "ENC7480";
             s.ownBinary = true;
         }),
         "VexServer: Card DLL ENC7480.DLL failed to load: "},
        {"a named folder without the library: no other library is taken",
         With([](ServerSetup& s) { s.libraryFolderKey = "/nonexistent"; }),
         "\n/nonexistent/libVexSimulator.so\n"},
        // Hidden, nobody could reach it, not even to send "EXI".
        {"hidden, port in use",
         With([&](ServerSetup& s) { s.serverFileText = listeningOn(inUse); }),
         inUseMessage.constData()},
        {"hidden, port out of range",
         With([&](ServerSetup& s) { s.serverFileText = listeningOn("-1"); }),
         "VexServer: Cannot listen on TCP port -1: the port is not between 0 and 65535\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Server server;
        ASSERT_TRUE(server.Start(row.setup, false));
        const int exitCode = server.WaitForExit();
        EXPECT_NE(exitCode, 0);
        EXPECT_NE(exitCode, -1) << "it must end by itself, not crash or wait for a click";
        EXPECT_TRUE(server.Stderr().contains(QString::fromLatin1(row.message)))
            << server.Stderr().toStdString();
    }
}

TEST(VexServerProgram, StartUpWarningsLetItRun) {
    struct Row {
        const char* legend;
        ServerSetup setup;
        std::string message;
    } rows[] = {
        {"no card settings file: defaults are used", With([](ServerSetup& s) {
             s.interfaceName = "ENC7480";
             s.cardFile = false;
         }),
         "VexServer: Config file VEXENC7480.XML is not found. Defaults are used\n"},
        {"the device does not initialise", With([](ServerSetup& s) { s.script.clear(); }),
         "VexServer: The device SIMULATOR is not initialized\n"},
        {"POLL_TIME 0 is raised to 10", With([](ServerSetup& s) { s.pollTime = "0"; }),
         "VexServer: POLL_TIME is 0 in VEX.XML, outside 10 to 10000; 10 is used\n"},
        {"a display that cannot be reached: it runs offscreen",
         With([](ServerSetup& s) { s.unreachableDisplay = true; }), "could not connect to display"},
        {"the start-up line names the library found beside the program",
         {},
         "VexServer: version " + std::string(kProductVersion) + ", interface SIMULATOR, library " +
             BinPath("libVexSimulator.so") + ", listening on "},
        {"a copy without libraries: VEX.XML names their folder", With([](ServerSetup& s) {
             s.ownBinary = true;
             s.libraryFolderKey = BinDir();
         }),
         ", library " + BinPath("libVexSimulator.so")},
        {"the environment variable names it, in place of VEX.XML's folder",
         With([](ServerSetup& s) {
             s.interfaceName = "ENC7480";
             s.ownBinary = true;
             s.libraryFolderKey = "/nonexistent";
             s.libraryFolderVariable = BinDir();
         }),
         ", library " + BinPath("libENC7480.so")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Server server;
        ASSERT_TRUE(server.Start(row.setup)) << server.Stderr().toStdString();
        EXPECT_EQ(server.ReadLine(), "( VEXVersion:20 ) 240\r\n");
        server.Write("EXI");
        EXPECT_EQ(server.WaitForExit(), 0);
        EXPECT_TRUE(server.Stderr().contains(QString::fromStdString(row.message)))
            << server.Stderr().toStdString();
    }
}

TEST(VexServerProgram, ResetSwitchZeroesTheCardCounters) {
    struct Row {
        const char* legend;
        QStringList arguments;
        bool reset;
    } rows[] = {
        {"no switch: counts continue from the machine's position", {}, false},
        {"/R zeroes them", {"/R"}, true},
        {"-reset zeroes them", {"-reset"}, true},
        {"/x has no effect", {"/x"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Server server;
        ServerSetup setup;
        setup.interfaceName = QStringLiteral("ENC7480");
        setup.arguments = row.arguments;
        setup.script = kCreepScript;
        ASSERT_TRUE(server.Start(setup)) << server.Stderr().toStdString();
        ASSERT_EQ(server.ReadLine(), "( VEXVersion:20 ) 240\r\n");
        // Until the first poll the answer is zeros; wait until X has moved.
        std::vector<double> p;
        QDeadlineTimer deadline(kWaitMs);
        do {
            p = server.AskNumbers("POS", 235);
            ASSERT_EQ(p.size(), 4u);
        } while (!(p[0] > 0.0) && !deadline.hasExpired());
        if (row.reset) {
            EXPECT_LT(p[0], 2.0);
            EXPECT_LT(p[1], 2.0);
            EXPECT_LT(p[2], 2.0);
            EXPECT_EQ(p[3], 0.0);
        } else {
            EXPECT_GE(p[0], 100.0);
            EXPECT_GE(p[1], 50.0);
            EXPECT_GE(p[2], 20.0);
            EXPECT_EQ(p[3], 90.0);
        }
        server.Write("EXI");
        EXPECT_EQ(server.WaitForExit(), 0);
    }
}

// Also: a signal ends the server through its normal shut-down, which closes the device.
TEST(VexServerProgram, EachClientStartsFromAFreshPositionAndHistory) {
    // The first client sees the probe resting at +X. Then, while nobody is connected,
    // it moves above the origin and touches it straight from above, and stays there.
    constexpr char kScript[] =
        "start 100 0 0 0\n"
        "pause 8\n"
        "move  0 0 20 0  400\n"
        "touch 0 0 0 0  20 60\n"
        "pause 100000\n";
    struct Row {
        const char* legend;
        const char* interfaceName;
        int stopSignal;
        const char* lastCall;  // of the device library, in its call log
    } rows[] = {
        {"card stand-in: vector 5 polls back; SIGINT", "ENC7480", SIGINT, "Enc7480_Close\n"},
        {"simulator library: vector from the entry before the newest; SIGTERM", "SIMULATOR",
         SIGTERM, "Init\nClose\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QElapsedTimer sinceStart;
        sinceStart.start();
        Server server;
        ASSERT_TRUE(server.Start(With([&](ServerSetup& s) {
            s.interfaceName = QString::fromLatin1(row.interfaceName);
            s.script = kScript;
        }))) << server.Stderr().toStdString();
        ASSERT_EQ(server.ReadLine(), "( VEXVersion:20 ) 240\r\n");
        QDeadlineTimer deadline(kWaitMs);
        while (server.AskNumbers("POS", 235).at(0) != 100.0 && !deadline.hasExpired())
            QThread::msleep(50);
        QThread::msleep(500);  // the history fills with the position at +X
        ASSERT_LT(sinceStart.elapsed(), 7000) << "too slow to see the first position in time";
        server.Disconnect();

        QThread::msleep(std::max<qint64>(0, 11000 - sinceStart.elapsed()));  // touched at 9.3 s
        ASSERT_TRUE(server.Reconnect());
        ASSERT_EQ(server.ReadLine(), "( VEXVersion:20 ) 240\r\n");
        EXPECT_EQ(server.Ask("POS", 235).toStdString(), "0.000000 0.000000 0.000000 0.000000")
            << "the first answer is the position of before";
        while (server.hitNotices == 0 && !deadline.hasExpired())
            server.Ask("POS", 235);
        ASSERT_GT(server.hitNotices, 0);
        const std::vector<double> hit = server.AskNumbers("HIT", 237);
        ASSERT_EQ(hit.size(), 7u);
        // Read since the connect: only the touch point itself, which gives (0, 0, 1); a
        // vector built from the last session's positions points back to +X.
        EXPECT_NEAR(hit[4], 0.0, 1e-6) << "the vector leans toward the last session's position";
        EXPECT_NEAR(hit[6], 1.0, 1e-6);
        server.Signal(row.stopSignal);
        EXPECT_EQ(server.WaitForExit(), 0) << "not ended by the signal's default action";
        EXPECT_TRUE(server.CallLog().endsWith(row.lastCall)) << server.CallLog().constData();
    }
}

}  // namespace
