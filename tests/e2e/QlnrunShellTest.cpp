// qlnrun as a script sees it, with a stand-in driver (tests/e2e/fake): the event lines, the
// commands, and every way a session ends. The real driver is exercised by the chain tests.
#include <signal.h>

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include "tests/e2e/QlnrunSession.h"

namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 30s;

const std::string kNumber = R"(-?\d+\.\d{6})";
const std::string kPoint = kNumber + ' ' + kNumber + ' ' + kNumber;

QString fakeDriver() {
    return qEnvironmentVariable("VEX_BIN_DIR", QStringLiteral(".")) +
           QStringLiteral("/libFakeTactus.so");
}

class QlnrunShellTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    bool start(const QStringList& extra, const QStringList& environment = {}) {
        QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--driver"),
                              fakeDriver(), QStringLiteral("--dir"), dir_.path()};
        return session_.start(arguments + extra, QlnrunSession::environment(environment),
                              dir_.filePath(QStringLiteral("stderr.txt")));
    }

    std::string stderrText() {
        QFile file(dir_.filePath(QStringLiteral("stderr.txt")));
        file.open(QIODevice::ReadOnly);
        return file.readAll().toStdString();
    }

    QTemporaryDir dir_;
    QlnrunSession session_;
};

TEST_F(QlnrunShellTest, StartsCommandsAndQuits) {
    ASSERT_TRUE(
        start({"--unit", "1", "--tip", "1,2,-3.5", "--hit-delivery", "1", "--answer", "4739=no"}));
    ASSERT_TRUE(session_.waitFor(R"(status 5523 .+)", kWait));
    ASSERT_TRUE(session_.waitFor(R"(message 4739 .+ -> 7)", kWait));
    // The options reached the host objects the driver reads.
    ASSERT_TRUE(session_.waitFor(
        "status 0 fake answer=7 unit=1.000 delivery=1 tip=T1A0B0 1.000,2.000,-3.500", kWait));
    ASSERT_TRUE(session_.waitFor("init-complete", kWait));
    ASSERT_TRUE(session_.waitFor("readout " + kPoint + " 90.000000", kWait));

    struct Step {
        const char* legend;
        std::vector<std::string> commands;
        std::vector<std::string> expected;  // in order
    } steps[] = {
        {"read completes with the position and no vector", {"read"}, {"result " + kPoint}},
        {"a measurement completes with the next hit",
         {"measure", "hit-request"},
         {"result " + kPoint + " 0.000000 0.000000 1.000000"}},
        {"an unrequested hit is recorded as a manual hit",
         {"hit-request"},
         {"hit " + kPoint + " 0.000000 0.000000 1.000000 90.000000"}},
        {"a scan reports positions until it ends",
         {"scan-begin"},
         {"result " + kPoint, "result " + kPoint}},
        {"ending the scan switches the modes", {"scan-end"}, {"mode 2 1", "mode 1 0", "mode 16 0"}},
        {"stop reaches the driver", {"stop"}, {"status 0 fake stopped"}},
        {"a missing entry point and a typo are refused; qlnrun goes on",
         {"manual", "bogus words", "# a comment", "", "readout-state x", "read"},
         {"result " + kPoint}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.legend);
        for (const std::string& command : step.commands)
            session_.send(command);
        for (const std::string& line : step.expected)
            ASSERT_TRUE(session_.waitFor(line, kWait)) << line;
    }

    session_.send("quit");
    EXPECT_EQ(session_.waitForExit(kWait), 0);
    const std::vector<std::string>& lines = session_.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "status 0 fake closed 1");
    std::string previousReadout;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("noise"), std::string::npos) << "driver output on the event stream";
        if (line.rfind("readout ", 0) == 0) {
            EXPECT_NE(line, previousReadout) << "a readout repeated without a change";
            previousReadout = line;
        }
    }
    const std::string errors = stderrText();
    EXPECT_NE(errors.find("driver_manual_hit"), std::string::npos) << errors;
    EXPECT_NE(errors.find("unknown command 'bogus'"), std::string::npos) << errors;
    EXPECT_NE(errors.find("readout-state takes one whole number"), std::string::npos) << errors;
}

// Every way out closes the driver exactly once and exits with status 0.
TEST_F(QlnrunShellTest, EveryEndingClosesTheDriverOnce) {
    struct Ending {
        const char* legend;
        QStringList options;
        std::vector<std::string> commands;
        std::string waitFirst;  // line to see before ending
        int signal;             // 0: none
        bool closeInput;
    } endings[] = {
        {"end of input", {}, {}, "init-complete", 0, true},
        {"the duration runs out (input kept open)", {"--duration", "1.5"}, {}, "", 0, false},
        {"SIGTERM", {}, {}, "init-complete", SIGTERM, false},
        {"SIGINT", {}, {}, "init-complete", SIGINT, false},
        {"SIGTERM while the driver shows a modal dialog",
         {},
         {"setup", "read"},
         "status 0 fake setup open",
         SIGTERM,
         false},
        {"quit while the driver shows a modal dialog",
         {},
         {"setup", "quit"},
         "status 0 fake setup open",
         0,
         false},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.legend);
        QlnrunSession session;
        ASSERT_TRUE(session.start(
            QStringList{"--headless", "--driver", fakeDriver(), "--dir", dir_.path()} +
                ending.options,
            QlnrunSession::environment({}), dir_.filePath(QStringLiteral("stderr.txt"))));
        for (const std::string& command : ending.commands)
            session.send(command);
        if (!ending.waitFirst.empty()) {
            ASSERT_TRUE(session.waitFor(ending.waitFirst, kWait));
        }
        if (ending.signal)
            kill(pid_t(session.pid()), ending.signal);
        if (ending.closeInput)
            session.closeInput();
        EXPECT_EQ(session.waitForExit(kWait), 0);
        int closes = 0;
        for (const std::string& line : session.lines())
            closes += line.rfind("status 0 fake closed", 0) == 0 ? 1 : 0;
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(session.lines().back(), "status 0 fake closed 1");
    }
}

TEST_F(QlnrunShellTest, FailuresGiveTheirExitStatus) {
    struct Failure {
        const char* legend;
        QStringList arguments;
        QStringList environment;
        int exitCode;
        std::string lastLine;  // "" when no event is expected
    } failures[] = {
        {"driver_initialize fails: the driver is still closed",
         {"--headless", "--driver", fakeDriver()},
         {"FAKE_DRIVER_FAIL=1"},
         1,
         "status 0 fake closed 1"},
        {"no driver library", {"--headless", "--driver", "/nonexistent/libNone.so"}, {}, 1, ""},
        {"a bad option value", {"--headless", "--tip", "1,2"}, {}, 2, ""},
        {"an unknown option", {"--headless", "--colour"}, {}, 2, ""},
        {"a folder that does not exist", {"--headless", "--dir", "/nonexistent/dir"}, {}, 2, ""},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.legend);
        QlnrunSession session;
        ASSERT_TRUE(session.start(failure.arguments,
                                  QlnrunSession::environment(failure.environment),
                                  dir_.filePath(QStringLiteral("stderr.txt"))));
        EXPECT_EQ(session.waitForExit(kWait), failure.exitCode);
        if (failure.lastLine.empty())
            EXPECT_TRUE(session.lines().empty());
        else
            EXPECT_EQ(session.lines().back(), failure.lastLine);
        EXPECT_NE(stderrText().find("qlnrun: "), std::string::npos);
    }
}

// A reader that goes away must not kill qlnrun before it has closed the driver.
TEST_F(QlnrunShellTest, VanishedReaderEndsTheSessionNormally) {
    // head leaves after two lines; qlnrun's next readout then meets a broken pipe.
    const QString pipeline = QStringLiteral(
        "\"$0\" --headless --driver \"$1\" --dir \"$2\" | head -n 2 >/dev/null; "
        "echo \"qlnrun exit ${PIPESTATUS[0]}\"");
    ASSERT_TRUE(session_.start(
        QStringLiteral("bash"),
        {"-c", pipeline, QlnrunSession::program(), fakeDriver(), dir_.path()},
        QlnrunSession::environment({}), dir_.filePath(QStringLiteral("stderr.txt"))));
    EXPECT_TRUE(session_.waitFor("qlnrun exit 0", kWait)) << stderrText();
    EXPECT_EQ(session_.waitForExit(kWait), 0);
}

}  // namespace
