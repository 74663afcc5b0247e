// The whole chain with the real programs: qlnrun --headless loads libTactus.so, which starts
// VexServer through the machine file's StartEXE (the server reading the stand-in simulator
// with a motion script of this test), or talks to a controller on a serial line played by
// this test through a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/ProductVersion.h"
#include "tests/e2e/QlnrunSession.h"
#include "tests/support/RunProgram.h"

namespace {

using namespace std::chrono_literals;
// Generous: the machine is shared, and the server polls only while the driver is connected.
constexpr auto kStartWait = 60s;
constexpr auto kHitWait = 60s;

const std::string kNumber = R"(-?\d+\.\d{6})";

struct Hit {
    double point[3];
    double vector[3];
};

// "hit X Y Z I J K W" (or other `kind`) lines among `lines`.
std::vector<Hit> hitsIn(const std::vector<std::string>& lines, const std::string& kind = "hit ") {
    std::vector<Hit> hits;
    for (const std::string& line : lines) {
        if (line.rfind(kind, 0) != 0)
            continue;
        std::istringstream fields(line.substr(kind.size()));
        Hit hit{};
        fields >> hit.point[0] >> hit.point[1] >> hit.point[2] >> hit.vector[0] >> hit.vector[1] >>
            hit.vector[2];
        hits.push_back(hit);
    }
    return hits;
}

void expectHit(const Hit& hit, const Hit& expected) {
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(hit.point[axis], expected.point[axis], 0.01) << "axis " << axis;
        EXPECT_NEAR(hit.vector[axis], expected.vector[axis], 0.01) << "axis " << axis;
    }
}

class ChainTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

    // The example machine file with these replacements (regular expression -> text).
    bool writeMachineFile(const QString& example,
                          const std::vector<std::pair<QString, QString>>& replacements) {
        QString text = ReadText(qEnvironmentVariable("VEX_SOURCE_DIR") + example);
        for (const auto& [pattern, replacement] : replacements) {
            const QRegularExpression expression(pattern);
            if (!text.contains(expression))
                return false;
            text.replace(expression, replacement);
        }
        return WriteText(path("TACConfigData.xml"), text);
    }

    bool start(const QStringList& environment, const QStringList& options = {},
               const QStringList& answers = {"--answer", "4739=no"}) {
        return session_.start(
            QStringList{"--headless", "--dir", dir_.path()} + answers + options,
            QlnrunSession::environment(QStringList{"SETVAULT_INI=" + path("settings.ini"),
                                                   QlnrunSession::tsanOptions(dir_.path())} +
                                       environment),
            path("qlnrun-stderr.txt"));
    }

    std::string diagnostics() const {
        std::string text = "qlnrun stderr:\n" + ReadText(path("qlnrun-stderr.txt")).toStdString();
        text += "\nevents:\n";
        for (const std::string& line : session_.lines())
            text += line + '\n';
        return text;
    }

    QTemporaryDir dir_;
    QlnrunSession session_;
};

// Three touches, each approached in a straight line for 1 s so that the server's position
// history points back along the approach.
const char kTouchScript[] = R"(scale 50 50 50 360
hold 0.4
start 0 0 60 0
pause 4                  # the driver connects meanwhile
move 100 20 60 0  20     # 5 s of travel: requests are typed meanwhile
move  10 20 40 0  50
touch 10 20 30 0  10     # straight down
move  10 20 40 0  20
move  70 20 40 0  50
move  70 20 30 0  50
touch 60 20 30 0  10     # towards -X
move  70 20 30 0  20
move  30 -20 30 0 50
touch 30 -10 30 0 10     # towards +Y
move  30 -20 30 0 20
)";

const Hit kTouches[] = {
    {{10, 20, 30}, {0, 0, 1}},
    {{60, 20, 30}, {1, 0, 0}},
    {{30, -10, 30}, {0, -1, 0}},
};

TEST_F(ChainTest, ServerStartedByTheDriverDeliversEveryTouchOnce) {
    const int port = FreePort();
    ASSERT_NE(port, 0);
    const QString portText = QString::number(port);
    ASSERT_TRUE(WriteText(path("VEX.XML"),
                          "<?xml version=\"1.0\"?>\n<VEX>\n  <INTERFACE>SIMULATOR</INTERFACE>\n"
                          "  <TCPPortNumber>" +
                              portText +
                              "</TCPPortNumber>\n  <WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>\n"
                              "  <POLL_TIME>50</POLL_TIME>\n</VEX>\n"));
    ASSERT_TRUE(writeMachineFile(
        "/examples/TACConfigData.xml",
        {{"<CMMPort-IP>[^<]*</CMMPort-IP>", "<CMMPort-IP>" + portText + "</CMMPort-IP>"}}));
    ASSERT_TRUE(WriteText(path("touches.vexsim"), QString::fromLatin1(kTouchScript)));

    ASSERT_TRUE(start(
        {"VEXSIM_SCRIPT=" + path("touches.vexsim"), "VEXSIM_TOUCH_LOG=" + path("touches.log")}));
    ASSERT_TRUE(session_.waitFor("init-complete", kStartWait)) << diagnostics();
    session_.noteDescendants();
    const std::vector<qint64> servers = session_.descendantsNamed("VexServer");
    ASSERT_EQ(servers.size(), 1u) << "the driver did not start VexServer\n" << diagnostics();

    // Positions arrive: first the probe resting at its start.
    ASSERT_TRUE(session_.waitFor("readout 0.000000 0.000000 60.000000 0.000000", kStartWait))
        << diagnostics();
    // measure, then manual, typed during the travel: without automatic hits each completes
    // with the next touch; with them the travel completes each, with its direction.
    const auto requestDuringTravel = [&](bool autoHit) {
        ASSERT_TRUE(session_.waitFor(R"(readout ([1-9]|[1-4]\d)\.\d+ .*)", kStartWait))
            << diagnostics();
        const double travel[3] = {0.980581, 0.196116, 0.0};  // along (100, 20, 0)
        for (size_t n = 0; n < 2; ++n) {
            session_.send(n == 0 ? "measure" : "manual");
            const auto line = session_.waitFor("result .*", kHitWait);
            ASSERT_TRUE(line) << diagnostics();
            const Hit result = hitsIn({*line}, "result ").at(0);
            for (int axis = 0; autoHit && axis < 3; ++axis)
                EXPECT_NEAR(result.vector[axis], travel[axis], 0.01) << *line;
            if (!autoHit)
                expectHit(result, kTouches[n]);
        }
    };
    requestDuringTravel(false);
    ASSERT_TRUE(session_.waitFor("hit .*", kHitWait)) << diagnostics();
    // At rest after the last touch, a position read answers with the resting point.
    ASSERT_TRUE(session_.waitFor("readout 30.000000 -20.000000 30.000000 0.000000", kHitWait))
        << diagnostics();
    session_.send("read");
    EXPECT_TRUE(session_.waitFor("result 30.000000 -20.000000 30.000000", kHitWait))
        << diagnostics();

    session_.send("quit");
    EXPECT_EQ(session_.waitForExit(kStartWait), 0) << diagnostics();
    EXPECT_TRUE(WaitProcessGone(servers[0], 10s)) << "VexServer outlived the driver";
    // The server said what it runs: the build tree's stand-in, found beside the program.
    EXPECT_TRUE(ReadText(path("qlnrun-stderr.txt"))
                    .contains(QStringLiteral("VexServer: version %1, interface SIMULATOR, library "
                                             "%2/libVexSimulator.so, listening on all "
                                             "interfaces port %3\n")
                                  .arg(QLatin1String(kProductVersion),
                                       QDir(qEnvironmentVariable("VEX_BIN_DIR")).canonicalPath(),
                                       portText)))
        << diagnostics();

    // Readouts are printed when they change: the moving probe gives many.
    EXPECT_GT(std::count_if(session_.lines().begin(), session_.lines().end(),
                            [](const std::string& line) { return line.rfind("readout ", 0) == 0; }),
              20);
    // The touches that completed a request are not recorded again as manual hits.
    std::vector<Hit> hits = hitsIn(session_.lines());
    ASSERT_EQ(hits.size(), 1u) << diagnostics();
    expectHit(hits[0], kTouches[2]);
    EXPECT_EQ(ReadText(path("touches.log")).count(u'\n'), qsizetype(std::size(kTouches)))
        << "the simulator made a different number of touches";

    // Again with the host's automatic hits on: every touch becomes a manual hit.
    const size_t seen = session_.lines().size();
    ASSERT_TRUE(start({"VEXSIM_SCRIPT=" + path("touches.vexsim")}, {"--auto-hit", "1"}));
    requestDuringTravel(true);
    ASSERT_TRUE(session_.waitFor("readout 30.000000 -20.000000 30.000000 0.000000", kHitWait))
        << diagnostics();
    session_.send("quit");
    EXPECT_EQ(session_.waitForExit(kStartWait), 0) << diagnostics();
    hits = hitsIn({session_.lines().begin() + long(seen), session_.lines().end()});
    ASSERT_EQ(hits.size(), std::size(kTouches)) << diagnostics();
    for (size_t touch = 0; touch < hits.size(); ++touch)
        expectHit(hits[touch], kTouches[touch]);
}

// Headless and without --answer nobody can be asked whether to zero the machine, so the card
// keeps its counters: resting away from zero, it reads its position.
TEST_F(ChainTest, HeadlessStartKeepsTheCardCounters) {
    const QString port = QString::number(FreePort());
    // Hidden like the other sessions: a shown window paints through Qt's thread pool, whose
    // own locking ThreadSanitizer cannot see in an uninstrumented Qt.
    ASSERT_TRUE(WriteText(path("VEX.XML"), "<VEX><INTERFACE>ENC7480</INTERFACE><TCPPortNumber>" +
                                               port +
                                               "</TCPPortNumber><WINDOW_HIDE_SHOW>HIDE"
                                               "</WINDOW_HIDE_SHOW></VEX>"));
    ASSERT_TRUE(writeMachineFile("/examples/TACConfigData.xml",
                                 {{"<CMMPort-IP>[^<]*", "<CMMPort-IP>" + port}}));
    ASSERT_TRUE(WriteText(path("rest.vexsim"), "start 100 50 20 90\npause 1000\n"));
    ASSERT_TRUE(start({"VEXSIM_SCRIPT=" + path("rest.vexsim")}, {}, {}));
    EXPECT_TRUE(session_.waitFor("message 4739 .* -> 7", kStartWait)) << diagnostics();
    EXPECT_TRUE(session_.waitFor("readout 100.000000 50.000000 20.000000 90.000000", kStartWait))
        << diagnostics();
    session_.send("quit");
    EXPECT_EQ(session_.waitForExit(kStartWait), 0) << diagnostics();
}

// A controller on a serial line that speaks a format of its own: "P X.. Y.. Z.." answers a
// position request ("POS"), "T X.. Y.. Z.. I.. J.. K.." reports a touch by itself. Lines end
// with a carriage return. It moves X by 0.5 mm per request.
class SerialController {
  public:
    bool open() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return false;
        slavePath_ = ptsname(master_);
        // Held open so the line stays up (and raw) whatever the driver does with it.
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        if (slave_ < 0 || tcgetattr(slave_, &raw) != 0)
            return false;
        cfmakeraw(&raw);
        if (tcsetattr(slave_, TCSANOW, &raw) != 0)
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    ~SerialController() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    const std::string& slavePath() const { return slavePath_; }
    void touch(const std::string& line) {
        std::lock_guard guard(lock_);
        touches_.push_back(line);
    }

  private:
    void send(const std::string& line) {
        const std::string text = line + '\r';
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(master_, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += size_t(n);
        }
    }
    void run() {
        std::string input;
        while (!stop_) {
            {
                std::lock_guard guard(lock_);
                while (!touches_.empty()) {
                    send(touches_.front());
                    touches_.pop_front();
                }
            }
            pollfd readable{master_, POLLIN, 0};
            if (poll(&readable, 1, 20) <= 0 || !(readable.revents & POLLIN))
                continue;
            char buffer[256];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            input.append(buffer, size_t(n));
            for (size_t at = input.find("POS"); at != std::string::npos; at = input.find("POS")) {
                input.erase(0, at + 3);
                char reply[128];
                std::snprintf(reply, sizeof reply, "P X%.3f Y%.3f Z%.3f", 1.0 + 0.5 * requests_,
                              2.0, 3.0);
                send(reply);
                ++requests_;
            }
            if (input.size() > 1024)
                input.erase(0, input.size() - 2);
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::mutex lock_;
    std::deque<std::string> touches_;
};

TEST_F(ChainTest, SerialControllerDeliversPositionsAndEveryTouchOnce) {
    SerialController controller;
    ASSERT_TRUE(controller.open());
    ASSERT_TRUE(writeMachineFile(
        "/examples/serial/TACConfigData.xml",
        {{"<Device>[^<]*</Device>", "<Device>COM7</Device>"},
         {"<RequestInterval>[^<]*</RequestInterval>", "<RequestInterval>50</RequestInterval>"},
         {"<HitReply>\\s*<Reply>[^<]*</Reply>",
          "<HitReply><Reply>\"T X%lf Y%lf Z%lf I%lf J%lf K%lf\"</Reply>"},
         {"<PositionReply>\\s*<Reply>[^<]*</Reply>",
          "<PositionReply><Reply>\"P X%lf Y%lf Z%lf\"</Reply>"}}));
    ASSERT_TRUE(start({"TACTUS_COM7=" + QString::fromStdString(controller.slavePath())}));
    ASSERT_TRUE(session_.waitFor("init-complete", kStartWait)) << diagnostics();

    // Positions arrive as the controller answers the driver's requests.
    ASSERT_TRUE(session_.waitFor("readout 1.500000 2.000000 3.000000 0.000000", kStartWait))
        << diagnostics();
    ASSERT_TRUE(session_.waitFor("readout 3.000000 2.000000 3.000000 0.000000", kStartWait))
        << diagnostics();

    const Hit touches[] = {
        {{5, 6, 7}, {0.6, 0, 0.8}},  // the controller's vector (3, 0, 4) arrives as a unit vector
        {{-1.25, 0, 12.5}, {0, -1, 0}},
    };
    controller.touch("T X5.000 Y6.000 Z7.000 I3.000 J0.000 K4.000");
    ASSERT_TRUE(session_.waitFor("hit .*", kHitWait)) << diagnostics();
    controller.touch("T X-1.250 Y0.000 Z12.500 I0.000 J-2.000 K0.000");
    ASSERT_TRUE(session_.waitFor("hit .*", kHitWait)) << diagnostics();
    // Positions go on after the touches.
    ASSERT_TRUE(session_.waitFor("readout " + kNumber + " 2.000000 3.000000 0.000000", kHitWait));

    session_.send("quit");
    EXPECT_EQ(session_.waitForExit(kStartWait), 0) << diagnostics();
    const std::vector<Hit> hits = hitsIn(session_.lines());
    ASSERT_EQ(hits.size(), std::size(touches)) << diagnostics();
    for (size_t touch = 0; touch < hits.size(); ++touch) {
        SCOPED_TRACE("touch " + std::to_string(touch + 1));
        expectHit(hits[touch], touches[touch]);
    }
}

// --help and --version answer at once with status 0 and start nothing, although the
// folder holds everything a start needs: a program that started instead would run on until
// `timeout` ends it (status 124), or say it started.
TEST_F(ChainTest, ProgramsAnswerHelpAndVersionWithoutStarting) {
    const int port = FreePort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(WriteText(path("VEX.XML"), "<VEX><INTERFACE>SIMULATOR</INTERFACE><TCPPortNumber>" +
                                               QString::number(port) +
                                               "</TCPPortNumber><WINDOW_HIDE_SHOW>HIDE"
                                               "</WINDOW_HIDE_SHOW></VEX>\n"));
    ASSERT_TRUE(writeMachineFile("/examples/TACConfigData.xml", {}));
    const std::string version = std::string(" (") + kProductName + ") " + kProductVersion + "\n";
    struct Row {
        const char* legend;
        std::string arguments;  // after the program
        std::string firstLine;  // what the output starts with
    } rows[] = {
        {"VexServer --help", "VexServer --help", "Usage: VexServer "},
        {"VexServer --version", "VexServer --version", "VexServer" + version},
        {"after the reset switch", "VexServer /R --version", "VexServer" + version},
        {"qlnrun --help", "qlnrun --headless --dir . --help", "Usage: qlnrun "},
        {"qlnrun --version", "qlnrun --version --headless --dir .", "qlnrun" + version},
        {"tactus-tool --help", "tactus-tool --help", "Usage: tactus-tool "},
        {"tactus-ipp --help", "tactus-ipp --dir . --help", "Usage: tactus-ipp "},
        {"tactus-ipp --version", "tactus-ipp --version --dir .", "tactus-ipp" + version},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const testsupport::ProgramRun run = testsupport::RunProgram(
            "cd '" + dir_.path().toStdString() + "' && SETVAULT_INI=settings.ini timeout 60 '" +
            testsupport::BinDir() + "'/" + row.arguments + " </dev/null");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.substr(0, row.firstLine.size()), row.firstLine) << run.out;
        EXPECT_EQ(run.out.find("VexServer: version"), std::string::npos) << "a server started";
    }
}

}  // namespace
