// Start-up of libTactus.so through its entry points: the debug log of a full start-up, the
// start-up failures, starting the position server, a repeated start-up, a reply-format list
// the parser rejects, and the small entry points.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <regex>

#include "host/HostConfig.h"
#include "setvault/Setvault.h"
#include "tests/driver/core/driver/DriverFixture.h"

namespace drivertest {
namespace {

using StartupTest = DriverFixture;

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

// The full debug log of a start-up and of its first position, byte for byte (after the
// date line and with the compensation object's address masked).
TEST_F(StartupTest, FullStartUpWritesTheDebugLog) {
    CloseDebugLog();
    const std::string path = WorkFolder() + "/startup.log";
    ResetSettings(path);
    peer->Answer("POS", PositionLine(1.5, -2.0, 3.25, 90.0));

    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitForReadout(1.5, -2.0, 3.25, 90.0));

    const std::string port = std::to_string(peer->Port());
    const std::string expected = Lines({
        "\n",
        "-Tactus: Quillon    version info: QLNRUN stand-in 4.4.0\n",
        "-Tactus: Interface version info: Tactus.dll Nov 24 2009 release version 1.27 for "
        "Quillon v4.4\n",
        "-Tactus: driver_initialize call_back=0,tip=NONE\n",
        "BEGIN listing of INI active (in memory) values for [Tactus]\n",
        "  DebugLog = TRUE\n",
        "  DebugFile = " + path + "\n",
        "  DebugPosReport = 0\n",
        "  DebugCPU = 3\n",
        "  DebugCMM = 3\n",
        "  DebugWindow = FALSE\n",
        "  DebugLogReset = FALSE\n",
        "  DebugTitle = Interface\n",
        "  DebugLogMaxSize = 20\n",
        "  Version = 1.270000\n",
        "  VolCompMethod = 0\n",
        "  ARM2CompMode = FALSE\n",
        "  WCompensMode = 1\n",
        "  UsingOldWcompens32 = FALSE\n",
        "  VolDebug = FALSE\n",
        "  CompensFileName = compens.dat\n",
        "  VolOffset? = {0.000000, 0.000000, 0.000000}\n",
        "END listing of INI active (in memory) values for [Tactus]\n",
        "-Tactus: Connecting to server process via IP=localhost Port=" + port + "\n",
        "-Tactus: Connected to server process: IP=127.0.0.1 Port=" + port + "\n",
        "-Tactus: No initialization sequence!\n",
        "InitializeScaleAxis\n   axis 0, 1, 2 and 0, 2, 4\n",
        "    0.000000, 0.000000, 0.000000\n",
        "\tInitializeVolcomp, nMethod=0 ptrVolcomp=*\n",
        ">Tactus:    Sending: POS\n",
        "-Tactus: Sending MachineInitComplete().\n",
        "<Tactus: Received: ( 1.500000 -2.000000 3.250000 90.000000 ) 235\n",
        "<Tactus: pos (before comp) =1.500000,-2.000000,3.250000\n",
        "<Tactus: pos (after comp)  =1.500000,-2.000000,3.250000\n",
        "<Tactus: W (RT angle)  =90.000000\n",
    });
    std::string actual = ReadFile(path);
    actual = actual.substr(actual.find('\n') + 1);  // the date line
    actual = std::regex_replace(actual, std::regex("ptrVolcomp=[0-9a-f]+"), "ptrVolcomp=*");
    EXPECT_EQ(actual.substr(0, expected.size()), expected);

    // Host side of the same start-up.
    ASSERT_FALSE(Events(HostEventKind::StatusMessage).empty());
    EXPECT_EQ(Events(HostEventKind::StatusMessage).front().id, 5523);
    EXPECT_EQ(Events(HostEventKind::KillTimer).at(0).id, 500003);
    EXPECT_EQ(qlnTheApp->readoutState, 1);
    EXPECT_EQ(QlnMachineRecord(qlnTheApp->hostIface, 1)->hitRequestFlags, 2);
    EXPECT_EQ(qlnTheApp->startupState, 0);
}

TEST_F(StartupTest, FirstStartWritesEveryDefault) {
    ResetSettings();
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(GetRegString(L"USER_Tactus", L"Version", L""), L"1.2700000000");
    EXPECT_EQ(GetRegString(L"USER_Tactus", L"DebugTitle", L""), L"Interface");
    EXPECT_EQ(GetRegString(L"Tactus", L"WCompensMode", L""), L"1");
}

struct FailureCase {
    const char* legend;
    void (*prepare)(MachineFile& machine);
    int resource;         // host message box and status message
    const char* logLine;  // written before the message
};

// A listening socket whose accept queue is full: a connection to it is never made.
int FullBacklogPort() {
    static const int port = [] {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener, 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        for (int i = 0; i < 4; ++i)
            ::connect(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0),
                      reinterpret_cast<sockaddr*>(&address), size);
        return int(ntohs(address.sin_port));
    }();
    return port;
}

// Legend: what is wrong, the host message shown, the log line that says so.
const FailureCase kFailures[] = {
    {"no machine file", [](MachineFile&) {}, 561,
     "-Tactus: Error opening the file, TACConfigData.xml, for reading!\n-Tactus: cannot open "
     "TACConfigData.xml: No such file or directory\n"},
    {"GPIB transport",
     [](MachineFile& m) {
         m.transport = "GPIB";
         m.extraCommInfo = "<GPIB><Controller>0</Controller><Jogbox>1</Jogbox></GPIB>\n";
     },
     5493, "-Tactus: Comm initialization failed!\n"},
    {"nothing listens", [](MachineFile& m) { m.port = FreePort(); }, 5493,
     "-Tactus: Connection to server process FAILED! IP=127.0.0.1 Port="},
    {"server program missing",
     [](MachineFile& m) {
         m.startExe = "no-such-vexserver";
         m.port = FreePort();
     },
     5493, "-Tactus: Could not start server process no-such-vexserver /R: program not found\n"},
    {"the server's accept queue is full", [](MachineFile& m) { m.port = FullBacklogPort(); }, 5493,
     "-Tactus: Connection to server process FAILED! IP=127.0.0.1 Port="},
    {"serial device missing: its path and the reason",
     [](MachineFile& m) {
         ::setenv("TACTUS_COM44", "/nonexistent/ttyUSB9", 1);
         m.transport = "SERIAL";
         m.extraCommInfo = "<SERIAL><Device>COM44</Device></SERIAL>\n";
     },
     5493, "-Tactus: Couldn't open COM44 (/nonexistent/ttyUSB9): No such file or directory\n"},
};

TEST_F(StartupTest, StartUpFailuresReturnOneAndTellTheHost) {
    for (const FailureCase& c : kFailures) {
        SCOPED_TRACE(c.legend);
        MachineFile broken = machine;
        broken.autoResetCounters = "true";
        c.prepare(broken);
        broken.Write();
        if (c.resource == 561)
            RemoveMachineFile();
        QlnRecorder().clear();
        LogMark mark(CurrentLogPath());

        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(driver_initialize(), 1);
        // Bounded, not the minutes of the system's connect time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));

        const auto boxes = Events(HostEventKind::MessageBox);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().id, c.resource);
        EXPECT_EQ(Events(HostEventKind::StatusMessage).back().id, c.resource);
        EXPECT_NE(mark.Text().find(c.logLine), std::string::npos) << mark.Text();
    }
}

TEST_F(StartupTest, TransportMatchingNoChannelStartsWithoutOne) {
    machine.transport = "tcp";
    ASSERT_EQ(Start(), 0);
    ASSERT_FALSE(Events(HostEventKind::StatusMessage).empty());
    EXPECT_EQ(Events(HostEventKind::StatusMessage).back().text,
              L"No connection to the machine: Transport \"tcp\" names none of the CommInfo "
              L"entries (TCP). Positions are not read.");
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::MachineInitComplete).empty(); }));
    Idle(200);
    EXPECT_FALSE(peer->Connected());
    EXPECT_EQ(peer->Count("POS"), 0);
}

// A controller on a serial line (a pseudo-terminal stands in for port COM7): the channel is
// configured from the SERIAL child and its lines end at carriage return.
TEST_F(StartupTest, SerialControllerIsPolled) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    ::setenv("TACTUS_COM7", ::ptsname(master), 1);
    machine.transport = "SERIAL";
    machine.extraCommInfo =
        "<SERIAL><Device>COM7</Device><Baud>9600</Baud><Parity>E</Parity><StopBits>1</StopBits>"
        "<Size>8</Size></SERIAL>\n";

    ASSERT_EQ(Start(), 0);
    const std::string text = LogText();
    EXPECT_NE(text.find("-Tactus: Open New Communication: 7, 9600, E, 8, 1\n"
                        "-Tactus: Set Port Returned: 1\n"
                        "-Tactus: Open Returned: 1\n"),
              std::string::npos)
        << text;

    // Waits for "POS" on the line, then answers it with the position x, y, z, w.
    auto answerPosition = [&](const char* position) {
        std::string received;
        ASSERT_TRUE(WaitUntil([&] {
            char buffer[64];
            pollfd fd{master, POLLIN, 0};
            if (::poll(&fd, 1, 0) > 0) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, static_cast<size_t>(n));
            }
            return received.find("POS") != std::string::npos;
        }));
        const std::string reply = std::string("( ") + position + " ) 235\r";
        ASSERT_EQ(::write(master, reply.data(), reply.size()), ssize_t(reply.size()));
    };
    answerPosition("1.000000 2.000000 3.000000 4.000000");
    EXPECT_TRUE(WaitForReadout(1.0, 2.0, 3.0, 4.0));
    EXPECT_NE(LogText().find("<Tactus: Received: ( 1.000000 2.000000 3.000000 4.000000 ) 235\n<"),
              std::string::npos);

    // The line goes (an adapter unplugged) and comes back under the same name: the port is
    // opened again by itself and the readout goes on.
    ::close(master);
    ASSERT_TRUE(WaitUntil([&] { return StatusSaid(L"Connection to the machine lost (serial"); }));
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    ::tcsetattr(master, TCSANOW, &raw);
    ::setenv("TACTUS_COM7", ::ptsname(master), 1);
    answerPosition("5.000000 6.000000 7.000000 8.000000");
    EXPECT_TRUE(WaitForReadout(5.0, 6.0, 7.0, 8.0));
    EXPECT_TRUE(StatusSaid(L"Connection to the machine is back (serial port COM7"));

    RemoveMachineFile();
    driver_initialize();  // closes the port before the terminal goes away
    ::close(master);
    ::unsetenv("TACTUS_COM7");
}

// --- Position server start ---------------------------------------------------------------

std::vector<std::string> RecordedLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool ProcessGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

struct ServerCase {
    const char* legend;
    const char* autoReset;
    int answer;  // the operator's answer to message 4739 (0: not asked)
    bool reset;  // " /R" on the command line
};

// Legend: AutoResetCounters, the operator's answer, whether the counters are reset.
const ServerCase kServerCases[] = {
    {"automatic reset", "true", 0, true},
    {"operator says yes", "false", kQlnAnswerYes, true},
    {"operator says no", "false", kQlnAnswerNo, false},
};

// The server is started from StartEXE and is slow to listen: start-up waits for it, and the
// next start-up stops it again.
TEST_F(StartupTest, StartsTheServerAndWaitsUntilItListens) {
    const std::string program =
        std::string(std::getenv("VEX_BIN_DIR") ? std::getenv("VEX_BIN_DIR") : ".") +
        "/tactus_fake_vexserver";
    for (const ServerCase& c : kServerCases) {
        SCOPED_TRACE(c.legend);
        const int port = FreePort();
        const std::string record = WorkFolder() + "/server-args.txt";
        std::remove(record.c_str());
        machine.port = port;
        machine.startExe = program + " " + std::to_string(port) + " 800 " + record;
        machine.autoResetCounters = c.autoReset;
        if (c.answer)
            QlnConfig().queuedAnswers.push_back(c.answer);

        ASSERT_EQ(Start(), 0);
        EXPECT_EQ(Events(HostEventKind::MessageBox).size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(Events(HostEventKind::MessageBox)[0].id, 4739);
            EXPECT_EQ(Events(HostEventKind::MessageBox)[0].ints.at(0), 4);
        }
        const std::vector<std::string> args = RecordedLines(record);
        ASSERT_GE(args.size(), 4u);
        EXPECT_EQ(args.back() == "/R", c.reset);
        const std::string text = LogText();
        EXPECT_NE(text.find("-Tactus: ResetCounters/auto " + std::to_string(c.reset) + "(" +
                            std::to_string(c.autoReset[0] == 't') + ")\n"),
                  std::string::npos);
        EXPECT_NE(text.find("-Tactus: Created server process for TestCMM!\n"), std::string::npos);
        EXPECT_TRUE(WaitForReadout(10.0, 20.0, 30.0));

        const pid_t pid = std::stoi(args[0]);
        LogMark mark(CurrentLogPath());
        RemoveMachineFile();
        driver_initialize();  // releases the server it started
        EXPECT_TRUE(ProcessGone(pid));
        EXPECT_NE(mark.Text().find("-Tactus: Killed server process! hResult = 0\n"),
                  std::string::npos);
    }
}

// A server already listens on the port (left over from an earlier session): the one started
// now cannot listen and ends, the driver talks to the old one and says so.
TEST_F(StartupTest, StaleServerOnThePortIsNamed) {
    machine.startExe = std::string(std::getenv("VEX_BIN_DIR") ? std::getenv("VEX_BIN_DIR") : ".") +
                       "/tactus_fake_vexserver " + std::to_string(peer->Port()) + " 0 stale.txt";
    machine.autoResetCounters = "true";
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitUntil([&] {
        return StatusSaid(L"already running on port " + std::to_wstring(peer->Port()) +
                          L"; the one started now ended (exit status 1)");
    }));
    EXPECT_NE(LogText().find("-Tactus: Server process ended: exit status 1\n"), std::string::npos);
}

// --- Repeated start-up -------------------------------------------------------------------

TEST_F(StartupTest, RepeatedStartUpReleasesTheFirstConnection) {
    StartAndSettle();
    ScriptedPeer second;
    machine.port = second.Port();

    ASSERT_EQ(Start(), 0);
    EXPECT_TRUE(WaitUntil([&] { return peer->ClientClosed(); }));
    ASSERT_TRUE(WaitUntil([&] { return second.Count("POS") >= 1; }));
    const int firstCount = peer->Count("POS");
    Idle(300);
    EXPECT_EQ(peer->Count("POS"), firstCount);  // only one poll timer is left
}

// --- Reply-format lists the parser rejects ----------------------------------------------

struct FormatCase {
    const char* legend;
    const char* hitReply;
    const char* parserMessage;
};

// Legend: what is wrong with the list, the parser's message in the log.
const FormatCase kBadFormats[] = {
    {"unterminated string", "\"( %lf %lf %lf",
     "XYZParserException: Format string not terminated\n"},
    {"format without a number", "\"%lf %s\"",
     "FormatStringParserException: bad type in format string"},
};

TEST_F(StartupTest, RejectedReplyFormatsStartWithoutAParser) {
    for (const FormatCase& c : kBadFormats) {
        SCOPED_TRACE(c.legend);
        machine.hitReply = c.hitReply;
        machine.positionReply = "";
        peer->Answer("POS", PositionLine(7.0, 8.0, 9.0, 0.0));

        ASSERT_EQ(Start(), 0);
        ASSERT_TRUE(
            WaitUntil([&] { return LogText().find("Received: ( 7.0") != std::string::npos; }));
        const std::string text = LogText();
        EXPECT_NE(text.find(c.parserMessage), std::string::npos) << text;
        EXPECT_NE(text.find("-Tactus: Reply formats not usable, replies are not interpreted!\n"),
                  std::string::npos);
        EXPECT_EQ(text.find("pos (before comp)"), std::string::npos);
    }
}

// --- Small entry points --------------------------------------------------------------------

TEST_F(StartupTest, AxisPointMapping) {
    struct Case {
        const char* legend;
        int x, y, z;
        std::array<int, 6> expected;
    };
    // Legend: the configured codes; expected machine axes of X, Y, Z, then the codes.
    const Case cases[] = {
        {"defaults", 0, 2, 4, {0, 1, 2, 0, 2, 4}},
        {"X reversed from Y's axis", 3, 0, 4, {1, 0, 2, 3, 0, 4}},
        {"codes -3 and 9 fall back to their own axis, as points do", -3, 2, 9, {0, 1, 2, 0, 2, 4}},
        {"only the bad code falls back", 6, 0, 5, {0, 0, 2, 0, 0, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        machine.axisX = c.x;
        machine.axisY = c.y;
        machine.axisZ = c.z;
        ASSERT_EQ(Start(), 0);
        std::array<int, 6> mapping{};
        GetAxisPointMapping(mapping.data());
        EXPECT_EQ(mapping, c.expected);
    }
}

TEST_F(StartupTest, SmallEntryPoints) {
    EXPECT_STREQ(driver_get_version(),
                 L"Tactus.dll Nov 24 2009 release version 1.27 for Quillon v4.4");
    std::wstring same = L"Tactus", other = L"Other";
    EXPECT_EQ(driver_check_renamed_entry(same, other), 0);
    EXPECT_EQ(driver_check_renamed_entry(other, same), 0);
    EXPECT_EQ(driver_beep(1000, 50), 0);
    EXPECT_EQ(driver_in_manual(), 1);

    EXPECT_EQ(driver_Initialize_WCompens32(L"compens.dat", 1), -1);  // before start-up
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(driver_Initialize_WCompens32(L"compens.dat", 1), -1);  // with NoVolcomp ready

    qlnTheApp->hostIface->learnModeFlag = 1;
    EXPECT_EQ(driver_special_learnmode_option(), 4);
    qlnTheApp->hostIface->learnModeFlag = 0;
    EXPECT_EQ(driver_special_learnmode_option(), 1);
}

}  // namespace
}  // namespace drivertest
