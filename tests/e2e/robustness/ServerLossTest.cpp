// The whole chain losing its position server, and flooded by one. qlnrun --headless loads
// libTactus.so, which starts VexServer with the simulator; after a first hit the server is
// killed (SIGKILL): the driver must say so, start it again and go on, and the server must not
// outlive qlnrun when that is killed too. A server that floods qlnrun with lines must neither
// grow it without bound nor keep it from its commands.
#include <signal.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/QlnrunSession.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
// Generous: the machine is shared, and under ThreadSanitizer everything runs slowly.
constexpr auto kWait = 90s;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // time and memory bounds do not hold
#else
constexpr bool kSanitized = false;
#endif

// The example machine file, talking to `port` and starting `startExe`.
bool WriteMachineFile(const QString& folder, int port, const QString& startExe) {
    QString machine = ReadText(qEnvironmentVariable("VEX_SOURCE_DIR") +
                               QStringLiteral("/examples/TACConfigData.xml"));
    const QRegularExpression portElement(QStringLiteral("<CMMPort-IP>[^<]*</CMMPort-IP>"));
    machine.replace(portElement, QStringLiteral("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
    machine.replace(QRegularExpression(QStringLiteral("<StartEXE>[^<]*</StartEXE>")),
                    "<StartEXE>" + startExe + "</StartEXE>");
    return machine.contains(QStringLiteral("<CMMPort-IP>%1<").arg(port)) &&
           WriteText(QDir(folder).filePath("TACConfigData.xml"), machine);
}

bool WaitForText(const QString& path, const QString& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ReadText(path).contains(text)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// One touch straight down, then the probe rests.
const char kScript[] = R"(scale 50 50 50 360
hold 0.4
start 0 0 20 0
pause 3
move  0 0 10 0 20
touch 0 0 0 0  10
move  0 0 10 0 20
pause 100000
)";

TEST(ServerLossTest, KilledServerIsStartedAgainAndEndsWithTheHost) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int port = FreePort();
    ASSERT_NE(port, 0);
    const QString log = dir.filePath("driver.log");
    ASSERT_TRUE(WriteMachineFile(dir.path(), port, "VexServer"));
    ASSERT_TRUE(WriteText(dir.filePath("VEX.XML"),
                          QStringLiteral("<?xml version=\"1.0\"?>\n<VEX>\n"
                                         "  <INTERFACE>SIMULATOR</INTERFACE>\n"
                                         "  <TCPPortNumber>%1</TCPPortNumber>\n"
                                         "  <WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>\n"
                                         "  <POLL_TIME>50</POLL_TIME>\n</VEX>\n")
                              .arg(port)));
    ASSERT_TRUE(WriteText(dir.filePath("touch.vexsim"), QString::fromLatin1(kScript)));
    ASSERT_TRUE(WriteText(dir.filePath("settings.ini"), "[USER_Tactus]\nDebugLog=TRUE\nDebugFile=" +
                                                            log + "\nVersion=1.2700000000\n"));

    // Under ThreadSanitizer the programs need the suppressions too (no effect otherwise).
    const QString tsanOptions = QlnrunSession::tsanOptions(dir.path());
    ASSERT_FALSE(tsanOptions.isEmpty());

    QlnrunSession session;
    const QString stderrFile = dir.filePath("qlnrun-stderr.txt");
    auto diagnostics = [&] {
        std::string text = "qlnrun stderr:\n" + ReadText(stderrFile).toStdString() + "\nevents:\n";
        for (const std::string& line : session.lines())
            text += line + '\n';
        return text;
    };
    ASSERT_TRUE(session.start(
        {"--headless", "--timestamps", "--dir", dir.path(), "--answer", "4739=no"},
        QlnrunSession::environment({tsanOptions, "SETVAULT_INI=" + dir.filePath("settings.ini"),
                                    "VEXSIM_SCRIPT=" + dir.filePath("touch.vexsim"),
                                    "VEXSIM_TOUCH_LOG=" + dir.filePath("touches.log")}),
        stderrFile));
    ASSERT_TRUE(session.waitFor("init-complete @[0-9.]+", kWait)) << diagnostics();
    const auto hit = session.waitFor("hit( -?[0-9]+\\.[0-9]{6}){7} @[0-9]+\\.[0-9]{6}", kWait);
    ASSERT_TRUE(hit) << diagnostics();

    // The hit's stamp and the touch log's are on one clock: the hit comes after its touch.
    std::istringstream touchLine(ReadText(dir.filePath("touches.log")).toStdString());
    std::string word;
    int number = 0;
    double touchedAt = 0.0;
    ASSERT_TRUE(touchLine >> word >> number >> touchedAt) << "no touch logged";
    const double hitAt = std::stod(hit->substr(hit->rfind('@') + 1));
    EXPECT_GE(hitAt, touchedAt);
    EXPECT_LT(hitAt - touchedAt, 60.0) << "stamps on different clocks?";

    session.noteDescendants();
    const std::vector<qint64> servers = session.descendantsNamed("VexServer");
    ASSERT_EQ(servers.size(), 1u) << diagnostics();
    ASSERT_EQ(kill(pid_t(servers[0]), SIGKILL), 0);
    const auto killedAt = Clock::now();
    ASSERT_TRUE(WaitProcessGone(servers[0], 30s));

    // Said in words, started again (without " /R"), and the readout goes on within 10 s.
    const auto resumeBound =
        kSanitized ? kWait : std::chrono::duration_cast<std::chrono::milliseconds>(10s);
    for (const char* said : {"Connection to the machine lost \\(server at 127\\.0\\.0\\.1 port",
                             "The position server had ended \\(killed by signal 9",
                             "Connection to the machine is back"})
        EXPECT_TRUE(session.waitFor(std::string("status 0 ") + said + ".*", kWait))
            << diagnostics();
    EXPECT_TRUE(session.waitFor("readout .*", kWait)) << diagnostics();
    EXPECT_LT(Clock::now() - killedAt, resumeBound) << diagnostics();
    EXPECT_TRUE(WaitForText(log, "-Tactus: Started server process again for", kWait));
    session.noteDescendants();
    std::vector<qint64> now = session.descendantsNamed("VexServer");
    now.erase(std::remove(now.begin(), now.end(), servers[0]), now.end());
    ASSERT_EQ(now.size(), 1u) << diagnostics();
    // qlnrun still reads commands and the driver answers them.
    session.send("read");
    EXPECT_TRUE(session.waitFor("result( -?[0-9]+\\.[0-9]{6}){3} @[0-9.]+", kWait))
        << diagnostics();

    // A host that is killed takes the server it started with it.
    ASSERT_EQ(kill(pid_t(session.pid()), SIGKILL), 0);
    EXPECT_TRUE(WaitProcessGone(now[0], kSanitized ? kWait : 2s)) << "VexServer outlived qlnrun";
}

TEST(FloodTest, FloodingServerNeitherGrowsNorStallsTheHost) {
    QTemporaryDir dir;
    const int port = FreePort();
    ASSERT_TRUE(WriteMachineFile(dir.path(), port,
                                 QStringLiteral("%1/tactus_fake_vexserver %2 0 %3 flood")
                                     .arg(qEnvironmentVariable("VEX_BIN_DIR"))
                                     .arg(port)
                                     .arg(dir.filePath("server.txt"))));
    ASSERT_TRUE(WriteText(dir.filePath("settings.ini"), "[USER_Tactus]\nVersion=1.2700000000\n"));
    QlnrunSession session;
    ASSERT_TRUE(
        session.start({"--headless", "--dir", dir.path()},
                      QlnrunSession::environment({QlnrunSession::tsanOptions(dir.path()),
                                                  "SETVAULT_INI=" + dir.filePath("settings.ini")}),
                      dir.filePath("qlnrun-stderr.txt")));
    ASSERT_TRUE(session.waitFor("init-complete", kWait));

    // Twenty seconds of flood; the host answers a read now and then meanwhile.
    const auto slow = kSanitized ? 10 : 1;
    const auto floodEnd = Clock::now() + 20s;
    Clock::duration slowestRead{};
    while (Clock::now() < floodEnd - 4s) {
        std::this_thread::sleep_for(4s);
        const auto asked = Clock::now();
        session.send("read");
        EXPECT_TRUE(session.waitFor("result 1\\.500000 2\\.500000 3\\.500000", 30s));
        slowestRead = std::max(slowestRead, Clock::now() - asked);
    }
    EXPECT_LT(slowestRead, 1s * slow);
    std::this_thread::sleep_until(floodEnd);
    const long peakKb = ResidentKb(session.pid(), true);
    // A flood it was: the server's record ends with the bytes it has sent.
    const long long written =
        ReadText(dir.filePath("server.txt")).trimmed().section(' ', -1).toLongLong();
    EXPECT_GT(written, kSanitized ? 1000000 : 100000000) << "bytes the server sent";
    const auto quitAt = Clock::now();
    session.send("quit");
    EXPECT_EQ(session.waitForExit(30s), 0);
    const auto quitTook = Clock::now() - quitAt;
    EXPECT_LT(quitTook, 2s * slow);
    std::printf("flood: %.0f MB sent, peak VmHWM %ld kB, slowest read %.3f s, quit %.3f s\n",
                written / 1e6, peakKb, std::chrono::duration<double>(slowestRead).count(),
                std::chrono::duration<double>(quitTook).count());
    // About 23 MB at rest; without the queue's bounds it grew by gigabytes.
    EXPECT_TRUE(kSanitized || peakKb < 100 * 1024) << peakKb << " kB";
}

}  // namespace
