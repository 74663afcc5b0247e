// Drives tactus-tool spy and replay with the real chain: qlnrun loads libTactus.so, which
// talks to VexServer through the spy, or to a replay of a recording instead of a machine.
// The recorded sessions of tests/data/sessions replay against their expected event lines;
// VEX_UPDATE_SESSIONS=1 writes the lines of this run as the new expected ones.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <regex>

#include "tests/e2e/QlnrunSession.h"
#include "tests/support/RunProgram.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 60s;  // generous: the machine is shared
// What qlnrun may still print after the recording has played (a lost connection's status).
constexpr auto kSettle = 2s;
// Fast enough for what the server sent after a reply to follow it at once: the dialogue with
// the driver then does not depend on the machine's load.
const QString kSpeed = QStringLiteral("1000");

const QString kSessions = qEnvironmentVariable("VEX_SOURCE_DIR") + "/tests/data/sessions/";

QString Tool() {
    return qEnvironmentVariable("VEX_BIN_DIR") + "/tactus-tool";
}

// The lines of positions and hits, in order.
std::vector<std::string> Points(const std::vector<std::string>& lines) {
    std::vector<std::string> points;
    for (const std::string& line : lines)
        if (line.rfind("readout ", 0) == 0 || line.rfind("hit ", 0) == 0)
            points.push_back(line);
    return points;
}

// Event lines as compared with the expected file: exact, except that the replay's port and
// the test's folder in status and message texts become PORT and DIR, and a status or message
// line repeated at once counts once (a driver may retry a lost connection any number of times).
std::string Normalised(const std::vector<std::string>& lines, int port, const QString& dir) {
    const std::regex portNumber("\\b" + std::to_string(port) + "\\b");
    std::string text, previous;
    for (std::string line : lines) {
        const bool message = line.rfind("status ", 0) == 0 || line.rfind("message ", 0) == 0;
        if (message) {
            line = QString::fromStdString(line).replace(dir, "DIR").toStdString();
            line = std::regex_replace(line, portNumber, "PORT");
            if (line == previous)
                continue;
        }
        previous = line;
        text += line + '\n';
    }
    return text;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    // A folder holding `machineFile` with CMMPort-IP set to `port`.
    QString folder(const QString& name, const QString& machineFile, int port) {
        QDir(dir_.path()).mkpath(name);
        QString text = ReadText(machineFile);
        text.replace(QRegularExpression("<CMMPort-IP>[^<]*</CMMPort-IP>"),
                     QString("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
        EXPECT_TRUE(WriteText(path(name + "/TACConfigData.xml"), text));
        return path(name);
    }

    bool startQlnrun(QlnrunSession& qlnrun, const QString& folder, const QStringList& env) {
        return qlnrun.start({"--headless", "--dir", folder, "--answer", "4739=no"},
                            QlnrunSession::environment(
                                QStringList{"SETVAULT_INI=" + folder + "/settings.ini"} + env),
                            folder + "/qlnrun-stderr.txt");
    }

    // Starts a tactus-tool command; its stdout lines are read like qlnrun's.
    bool startTool(QlnrunSession& tool, const QStringList& args, const QString& name) {
        return tool.start(Tool(), args, QlnrunSession::environment({}), path(name + "-stderr.txt"));
    }

    // The port a spy or replay prints in its "# listening on HOST:PORT" line.
    static int listeningPort(QlnrunSession& tool) {
        const auto line = tool.waitFor("# listening on [^ ]*:[0-9]+.*", kWait);
        if (!line)
            return 0;
        std::smatch m;
        std::regex_search(*line, m, std::regex(":([0-9]+)"));
        return std::stoi(m[1]);
    }

    static std::string lines(const QlnrunSession& s) {
        std::string text;
        for (const std::string& line : s.lines())
            text += line + '\n';
        return text;
    }

    QTemporaryDir dir_;
};

// Two touches approached in straight lines, then the probe rests at (40, 20, 30).
const char kTouchScript[] = R"(scale 50 50 50 360
hold 0.3
start 0 0 40 0
pause 2
move  10 20 35 0  50
touch 10 20 30 0  10
move  10 20 40 0  20
move  40 20 40 0  50
move  40 20 30 0  50
touch 30 20 30 0  10
move  40 20 30 0  20
pause 100000
)";

TEST_F(SessionTest, SpyRecordsAndItsReplayGivesTheSameHitsAndReadouts) {
    // The driver starts VexServer as usual and connects to the spy, which relays to it.
    const int serverPort = FreePort();
    ASSERT_NE(serverPort, 0);
    QlnrunSession spy;
    ASSERT_TRUE(startTool(
        spy, {"spy", "0", QString("127.0.0.1:%1").arg(serverPort), "--record", path("session.rec")},
        "spy"));
    const int spyPort = listeningPort(spy);
    ASSERT_NE(spyPort, 0) << lines(spy);
    const QString live = folder(
        "live", qEnvironmentVariable("VEX_SOURCE_DIR") + "/examples/TACConfigData.xml", spyPort);
    ASSERT_TRUE(WriteText(live + "/VEX.XML",
                          QString("<VEX><INTERFACE>SIMULATOR</INTERFACE><TCPPortNumber>%1"
                                  "</TCPPortNumber><WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW></VEX>")
                              .arg(serverPort)));
    ASSERT_TRUE(WriteText(live + "/touches.vexsim", kTouchScript));
    const std::string rest = "readout 40.000000 20.000000 30.000000 0.000000";
    QlnrunSession qlnrun;
    ASSERT_TRUE(startQlnrun(qlnrun, live, {"VEXSIM_SCRIPT=" + live + "/touches.vexsim"}));
    ASSERT_TRUE(qlnrun.waitFor("hit .*", kWait)) << lines(qlnrun) << lines(spy);
    ASSERT_TRUE(qlnrun.waitFor("hit .*", kWait)) << lines(qlnrun);
    ASSERT_TRUE(qlnrun.waitFor(rest, kWait)) << lines(qlnrun);
    qlnrun.send("quit");
    ASSERT_EQ(qlnrun.waitForExit(kWait), 0);
    ASSERT_TRUE(spy.waitFor("# [0-9.]+ close (server|client)", kWait)) << lines(spy);
    const std::vector<std::string> recorded = Points(qlnrun.lines());

    // The recording, played four times as fast, in place of the server.
    QlnrunSession replay;
    ASSERT_TRUE(startTool(replay, {"replay", path("session.rec"), "--port", "0", "--speed", kSpeed},
                          "replay"));
    const int replayPort = listeningPort(replay);
    ASSERT_NE(replayPort, 0) << lines(replay);
    QlnrunSession again;
    ASSERT_TRUE(
        startQlnrun(again, folder("replayed", kSessions + "vexserver.xml", replayPort), {}));
    ASSERT_TRUE(replay.waitFor("# end of recording", kWait)) << lines(replay);
    ASSERT_TRUE(again.waitFor(rest, kWait)) << lines(again);
    again.send("quit");
    EXPECT_EQ(again.waitForExit(kWait), 0);
    EXPECT_EQ(Points(again.lines()), recorded) << lines(replay);
    EXPECT_EQ(std::count_if(recorded.begin(), recorded.end(),
                            [](const std::string& l) { return l.rfind("hit ", 0) == 0; }),
              2);
}

TEST_F(SessionTest, RecordedSessionsGiveTheirExpectedEvents) {
    struct Session {
        const char* legend;
        const char* name;  // NAME.rec is played; NAME.events holds the expected lines
        const char* machineFile;
        bool serial;
    };
    const Session sessions[] = {
        {"the demo sphere through VexServer: six touches", "sphere", "vexserver.xml", false},
        {"a serial controller that reports two touches", "serial", "serial.xml", true},
        {"VexServer killed after a touch: the connection is lost", "lost-connection",
         "vexserver.xml", false},
    };
    const bool update = !qEnvironmentVariableIsEmpty("VEX_UPDATE_SESSIONS");
    for (const Session& s : sessions) {
        SCOPED_TRACE(s.legend);
        const QString recording = kSessions + s.name + ".rec";
        QlnrunSession replay;
        QStringList args{"replay", recording, "--speed", kSpeed};
        args +=
            s.serial ? QStringList{"--serial", "--link", path("com1")} : QStringList{"--port", "0"};
        ASSERT_TRUE(startTool(replay, args, s.name));
        const int port = s.serial ? 0 : listeningPort(replay);
        ASSERT_TRUE(s.serial ? bool(replay.waitFor("# the controller's serial line is .*", kWait))
                             : port != 0)
            << lines(replay);
        const QString dir = folder(s.name, kSessions + s.machineFile, port);
        QlnrunSession qlnrun;
        ASSERT_TRUE(startQlnrun(
            qlnrun, dir, s.serial ? QStringList{"TACTUS_COM1=" + path("com1")} : QStringList{}));
        ASSERT_TRUE(replay.waitFor("# end of recording", kWait)) << lines(replay) << lines(qlnrun);
        qlnrun.waitFor("(?!)", kSettle);  // matches nothing: reads what comes meanwhile
        qlnrun.send("quit");
        ASSERT_EQ(qlnrun.waitForExit(kWait), 0) << lines(qlnrun);
        if (!s.serial) {
            EXPECT_EQ(replay.waitForExit(kWait), 0) << lines(replay);
        }

        const std::string actual = Normalised(qlnrun.lines(), port, dir_.path());
        const QString expected = kSessions + s.name + ".events";
        if (update) {
            ASSERT_TRUE(WriteText(expected, QString::fromStdString(actual)));
            continue;
        }
        if (ReadText(expected).toStdString() == actual)
            continue;
        ASSERT_TRUE(WriteText(path(QString(s.name) + ".events"), QString::fromStdString(actual)));
        ADD_FAILURE() << "the events differ from " << expected.toStdString() << ":\n"
                      << testsupport::RunProgram("diff -u '" + expected.toStdString() + "' '" +
                                                 path(QString(s.name) + ".events").toStdString() +
                                                 "'")
                             .out
                      << "If the change is intended: VEX_UPDATE_SESSIONS=1 ctest -R "
                         "tools_session_test";
    }
}

}  // namespace
