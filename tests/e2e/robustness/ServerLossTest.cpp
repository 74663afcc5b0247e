// The whole chain losing its position server: qlnrun --headless loads libTactus.so, which
// starts VexServer with the simulator; after a first hit the server is killed (SIGKILL). The
// driver must log the loss, qlnrun must go on serving commands, and quit must still close
// the driver and end with status 0.
#include <signal.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <sstream>

#include "tests/e2e/QlnrunSession.h"

namespace {

using namespace std::chrono_literals;
// Generous: the machine is shared, and under ThreadSanitizer everything runs slowly.
constexpr auto kWait = 90s;

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

TEST(ServerLossTest, DriverLogsTheLossAndTheHostStaysServed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int port = FreePort();
    ASSERT_NE(port, 0);
    const QString log = dir.filePath("driver.log");
    QString machine = ReadText(qEnvironmentVariable("VEX_SOURCE_DIR") +
                               QStringLiteral("/examples/TACConfigData.xml"));
    const QRegularExpression portElement(QStringLiteral("<CMMPort-IP>[^<]*</CMMPort-IP>"));
    ASSERT_TRUE(machine.contains(portElement));
    machine.replace(portElement, QStringLiteral("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
    ASSERT_TRUE(WriteText(dir.filePath("TACConfigData.xml"), machine));
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
    ASSERT_TRUE(WaitProcessGone(servers[0], 30s));

    EXPECT_TRUE(WaitForText(log, "-Tactus: Connection to server process lost!", kWait))
        << ReadText(log).right(2000).toStdString();
    // qlnrun still reads commands and the driver still answers them.
    session.send("read");
    EXPECT_TRUE(session.waitFor("result( -?[0-9]+\\.[0-9]{6}){3} @[0-9.]+", kWait))
        << diagnostics();
    session.send("quit");
    EXPECT_EQ(session.waitForExit(kWait), 0) << diagnostics();
    EXPECT_TRUE(ReadText(log).contains("-Tactus: driver_close"));
}

}  // namespace
