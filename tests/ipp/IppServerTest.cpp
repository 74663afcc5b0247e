// tactus-ipp with the real programs: it loads libTactus.so, which starts VexServer with the
// stand-in simulator. A table of request lines and the lines that answer them, run in order
// over one connection; and one whole session on the demo sphere beside qlnrun.
#include <gtest/gtest.h>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <sstream>

#include "tests/e2e/QlnrunSession.h"
#include "tests/support/LineClient.h"
#include "tests/support/QtTestEnvironment.h"

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "ipp_server_test");

namespace {

using namespace std::chrono_literals;
// Generous: the machine is shared.
constexpr auto kStartWait = 60s;

// A machine folder: the example machine file and VEX.XML on a free port, a motion script,
// the driver's settings and a tools file.
struct MachineFolder {
    QTemporaryDir dir;
    int port = FreePort();

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    bool write(const QString& script, const QString& settings = {}) {
        QString machine =
            ReadText(qEnvironmentVariable("VEX_SOURCE_DIR") + "/examples/TACConfigData.xml");
        machine.replace(QRegularExpression("<CMMPort-IP>[^<]*</CMMPort-IP>"),
                        QStringLiteral("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
        return dir.isValid() && port != 0 && WriteText(path("TACConfigData.xml"), machine) &&
               WriteText(path("VEX.XML"),
                         QStringLiteral("<VEX><INTERFACE>SIMULATOR</INTERFACE><TCPPortNumber>%1"
                                        "</TCPPortNumber><WINDOW_HIDE_SHOW>HIDE"
                                        "</WINDOW_HIDE_SHOW></VEX>\n")
                             .arg(port)) &&
               WriteText(path("touches.vexsim"), script) &&
               WriteText(path("settings.ini"), settings) &&
               WriteText(path("IppTools.txt"), "# name offset radius\nT1A0B0 0 0 -50 1.5\n");
    }
    QProcessEnvironment environment() const {
        return QlnrunSession::environment({"SETVAULT_INI=" + path("settings.ini"),
                                           "VEXSIM_SCRIPT=" + path("touches.vexsim"),
                                           "VEXSIM_TOUCH_LOG=" + path("touches.log")});
    }
};

// tactus-ipp in a machine folder and a client of it.
struct IppServer {
    QlnrunSession process;
    LineClient client;
    int port = FreePort();

    bool start(const MachineFolder& folder) {
        if (!process.start(qEnvironmentVariable("VEX_BIN_DIR") + "/tactus-ipp",
                           {"--dir", folder.dir.path(), "--port", QString::number(port), "--answer",
                            "4739=no", "--log", folder.path("session.txt")},
                           folder.environment(), folder.path("ipp-stderr.txt")))
            return false;
        // It listens once the driver has started.
        const auto deadline = std::chrono::steady_clock::now() + kStartWait;
        while (!client.Connect(quint16(port))) {
            client.socket.abort();
            if (std::chrono::steady_clock::now() > deadline || process.waitForExit(200ms))
                return false;
        }
        return true;
    }
    std::string line() {
        const QByteArray got = client.ReadLine();
        return got.left(got.size() - 2).toStdString();
    }
    // Until the driver has the probe's first position (it rests at 10, 20, 30).
    bool waitForPosition() {
        const auto deadline = std::chrono::steady_clock::now() + kStartWait;
        while (std::chrono::steady_clock::now() < deadline) {
            send("00997 StartSession()");
            send("00998 Get(X())");
            send("00999 EndSession()");
            std::string answer;
            for (int i = 0; i < 7; ++i)
                answer += line() + '\n';
            if (answer.find("00998 # X(10.000000)") != std::string::npos)
                return true;
        }
        return false;
    }
    void send(const std::string& text) { client.Write(QByteArray::fromStdString(text + "\r\n")); }
};

// --- The table ------------------------------------------------------------------------------

// Answer lines are written without their tag, which is the request's: "&" comes first and
// "%" last unless the row is Open (the transaction stays pending). A line starting with '@'
// is a whole line (another tag). Rows with `clear` are followed by a ClearAllErrors.
enum Shape { Whole, Open, Literal };
struct Row {
    const char* legend;
    std::string request;  // CR LF is added unless it ends with '\n'
    std::vector<std::string> answers;
    Shape shape = Whole;
    bool clear = false;
};

std::string Error(int severity, const char* number, const char* method, const char* text) {
    return std::string("! Error(") + std::to_string(severity) + ", " + number + ", \"" + method +
           "\", \"" + text + "\")";
}

const char kAborted[] = "Transaction aborted (Use ClearAllErrors To Continue)";

std::vector<Row> Table() {
    const std::string longLine = "00019 Get(" + std::string(70000, 'X') + ")";
    return {
        {"no command before StartSession",
         "00001 Get(X())",
         {Error(3, "0008", "Get", "Protocol error")}},
        {"EndSession without a session does nothing", "00002 EndSession()", {}},
        {"StartSession", "00003 StartSession()", {}},
        {"a second StartSession is a protocol error",
         "00004 StartSession()",
         {Error(3, "0008", "StartSession", "Protocol error")},
         Whole,
         true},
        {"an unreadable tag is answered on E0000",
         "0005 IsHomed()",
         {"@E0000 " + Error(2, "0001", "CommandLine", "Illegal tag")},
         Literal,
         true},
        {"00000 is no tag",
         "00000 IsHomed()",
         {"@E0000 " + Error(2, "0001", "CommandLine", "Illegal tag")},
         Literal,
         true},
        {"a plain command cannot take an event tag",
         "E0006 IsHomed()",
         {Error(2, "0001", "IsHomed", "Illegal tag")},
         Whole,
         true},
        {"a daemon needs an event tag",
         "00007 OnMoveReportE(Time(1), X())",
         {Error(2, "0001", "OnMoveReportE", "Illegal tag")},
         Whole,
         true},
        {"column 6 must be a space",
         "00008IsHomed()",
         {Error(2, "0002", "CommandLine", "No space at pos. 6")},
         Whole,
         true},
        {"a control character",
         "00009 Get(X(),\tY())",
         {Error(3, "0007", "CommandLine", "Illegal character")},
         Whole,
         true},
        {"a byte above 126",
         "00010 Get(X(\xE9))",
         {Error(3, "0007", "CommandLine", "Illegal character")},
         Whole,
         true},
        {"a line feed without its carriage return",
         "00011 IsHomed()\n",
         {Error(3, "0007", "CommandLine", "Illegal character")},
         Whole,
         true},
        {"a syntax error is a protocol error",
         "00012 Get(X(), )",
         {Error(3, "0008", "Get", "Protocol error")},
         Whole,
         true},
        {"a number of 17 digits",
         "00013 GetErrorInfo(12345678901234567)",
         {Error(3, "0008", "GetErrorInfo", "Protocol error")},
         Whole,
         true},
        {"a line over 65536 characters is refused",
         longLine,
         {Error(2, "0000", "CommandLine", "Buffer full")},
         Whole,
         true},
        {"motion is not for this machine",
         "00014 GoTo(X(100))",
         {Error(3, "0501", "GoTo", "Unsupported command")}},
        {"in error, only the error commands run",
         "00015 IsHomed()",
         {Error(2, "0514", "IsHomed", "Use ClearAllErrors to continue")}},
        {"GetErrStatusE runs in error", "E0016 GetErrStatusE()", {"# ErrStatus(1)"}},
        {"GetXtdErrStatus lists the errors",
         "00017 GetXtdErrStatus()",
         {"# IsHomed(1)", "# IsUserEnabled(0)",
          "# Error(3, 0501, \"GoTo\", \"Unsupported command\")",
          "# Error(2, 0514, \"IsHomed\", \"Use ClearAllErrors to continue\")"}},
        {"ClearAllErrors ends the error state", "00018 ClearAllErrors()", {}},
        {"error status cleared", "E0020 GetErrStatusE()", {"# ErrStatus(0)"}},
        {"DME version", "00021 GetDMEVersion()", {"# DMEVersion(\"1.4\")"}},
        {"machine class", "00022 GetMachineClass()", {"# GetMachineClass(CartCMM)"}},
        {"homed while the driver runs", "00023 IsHomed()", {"# IsHomed(1)"}},
        {"arguments to a command without any",
         "00024 Home(1)",
         {Error(3, "0502", "Home", "Incorrect arguments")},
         Whole,
         true},
        {"user enabled", "00025 EnableUser()", {}},
        {"user state", "00026 IsUserEnabled()", {"# IsUserEnabled(1)"}},
        {"Home disables the user", "00027 Home()", {}},
        {"user state after Home", "00028 IsUserEnabled()", {"# IsUserEnabled(0)"}},
        {"position in the order asked",
         "00029 Get(Z(), X(), Tool.A(), Y())",
         {"# Z(30.000000), X(10.000000), Tool.A(0.000000), Y(20.000000)"}},
        {"a vector is no position",
         "00030 Get(IJK())",
         {Error(3, "0508", "Get", "Bad context")},
         Whole,
         true},
        {"no rotary table",
         "00031 Get(R())",
         {Error(3, "0506", "Get", "Argument not supported")},
         Whole,
         true},
        {"unknown property",
         "00032 Get(X(), Foo())",
         {Error(3, "0510", "Get", "Bad property")},
         Whole,
         true},
        {"an item asked twice",
         "00033 Get(X(), X())",
         {Error(3, "0502", "Get", "Incorrect arguments")},
         Whole,
         true},
        {"error text", "00034 GetErrorInfo(509)", {"# ErrorInfo(0509, \"Bad argument\")"}},
        {"no such error",
         "00035 GetErrorInfo(4711)",
         {Error(3, "0509", "GetErrorInfo", "Bad argument")},
         Whole,
         true},
        {"report format with a bad property",
         "00036 OnPtMeasReport(X(), Foo())",
         {Error(3, "0510", "OnPtMeasReport", "Bad property")},
         Whole,
         true},
        {"a negative distance is raised to 0, with a warning",
         "E0037 OnMoveReportE(Dis(-1), X())",
         {Error(1, "0504", "OnMoveReportE", "Argument out of range")}},
        {"one move daemon at a time",
         "E0038 OnMoveReportE(Dis(5), X())",
         {Error(2, "0515", "OnMoveReportE", "Daemon already exists")},
         Whole,
         true},
        {"stopping a daemon that is not there",
         "00039 StopDaemon(E0099)",
         {Error(2, "0513", "StopDaemon", "Daemon does not exist")},
         Whole,
         true},
        {"stopping the daemon", "00040 StopDaemon(E0037)", {}},
        {"no daemon left",
         "00041 StopAllDaemons()",
         {Error(1, "0512", "StopAllDaemons", "No daemons are active")}},
        {"the tools", "00042 EnumTools()", {"# \"RefTool\"", "# \"NoTool\"", "# \"T1A0B0\""}},
        {"an unknown tool",
         "00043 FindTool(\"T9\")",
         {Error(3, "1502", "FindTool", "Tool not found")},
         Whole,
         true},
        {"FoundTool after a failed FindTool",
         "00044 GetProp(FoundTool.Name())",
         {"# FoundTool.Name(\"UnDefTool\")"}},
        {"no properties of UnDefTool",
         "00045 GetProp(FoundTool.PtMeasPar.Speed())",
         {Error(3, "1503", "GetProp", "Tool not defined")},
         Whole,
         true},
        {"the operator changes the stylus", "00046 ChangeTool(\"T1A0B0\")", {}},
        {"the active tool's properties",
         "00047 GetProp(Tool.Name(), Tool.AvrRadius(), Tool.PtMeasPar.Speed.Max())",
         {"# Tool.Name(\"T1A0B0\"), Tool.AvrRadius(1.500000), "
          "Tool.PtMeasPar.Speed.Max(50.000000)"}},
        {"a value above its range is clamped, with a warning",
         "00048 SetProp(Tool.PtMeasPar.Speed(500))",
         {Error(1, "0504", "SetProp", "Argument out of range")}},
        {"the clamped value",
         "00049 GetPropE(Tool.PtMeasPar.Speed())",
         {"# Tool.PtMeasPar.Speed(50.000000)"}},
        {"limits are the tool's own",
         "00050 SetProp(Tool.PtMeasPar.Speed.Max(1))",
         {Error(3, "0509", "SetProp", "Bad argument")},
         Whole,
         true},
        {"no scanning here",
         "00051 GetProp(Tool.ScanPar.Speed())",
         {Error(3, "0506", "GetProp", "Argument not supported")},
         Whole,
         true},
        {"a tool change restores the defaults", "00052 SetTool(\"T1A0B0\")", {}},
        {"the default again",
         "00053 GetProp(Tool.PtMeasPar.Speed())",
         {"# Tool.PtMeasPar.Speed(5.000000)"}},
        {"the stylus is changed by hand, here",
         "00054 GetChangeToolAction(\"RefTool\")",
         {"# ChangeToolAction(MoveMan, X(10.000000), Y(20.000000), Z(30.000000))"}},
        {"no such coordinate system",
         "00055 SetCoordSystem(FooCsy)",
         {Error(3, "0509", "SetCoordSystem", "Bad argument")},
         Whole,
         true},
        {"Theta beyond 180",
         "00056 SetCsyTransformation(PartCsy, 1, 2, 3, 181, 0, 0)",
         {Error(3, "1007", "SetCsyTransformation", "Theta out of range")},
         Whole,
         true},
        {"a part system turned 90 degrees about Z",
         "00057 SetCsyTransformation(PartCsy, 5, 10, 20, 0, 450, -360)",
         {}},
        {"angles come back modulo 360",
         "00058 GetCsyTransformation(PartCsy)",
         {"# GetCsyTransformation(5.000000, 10.000000, 20.000000, 0.000000, 90.000000, "
          "0.000000)"}},
        {"working in the part system", "00059 SetCoordSystem(PartCsy)", {}},
        {"the position in part coordinates",
         "00060 Get(X(), Y(), Z())",
         {"# X(10.000000), Y(-5.000000), Z(10.000000)"}},
        {"a vector without length",
         "00061 PtMeas(X(1), IJK(0, 0, 0))",
         {Error(2, "1010", "PtMeas", "Vector has no norm")},
         Whole,
         true},
        {"IJK alone",
         "00062 PtMeas(IJK(0, 0, 1))",
         {Error(3, "0502", "PtMeas", "Incorrect arguments")},
         Whole,
         true},
        {"PtMeas waits for the operator", "00063 PtMeas(X(1), Y(2), Z(3))", {}, Open},
        {"a plain command waits behind it", "00064 IsHomed()", {}, Open},
        {"the fast queue does not wait", "E0065 GetErrStatusE()", {"# ErrStatus(0)"}},
        {"AbortE ends both",
         "E0066 AbortE()",
         {"@00063 " + Error(2, "0006", "PtMeas", kAborted), "@00063 %",
          "@00064 " + Error(2, "0006", "IsHomed", kAborted), "@00064 %"}},
        {"after AbortE only ClearAllErrors",
         "00067 GetCoordSystem()",
         {Error(2, "0514", "GetCoordSystem", "Use ClearAllErrors to continue")},
         Whole,
         true},
        {"EndSession", "00068 EndSession()", {}},
        {"a new session", "00069 StartSession()", {}},
        {"keeps the coordinate system", "00070 GetCoordSystem()", {"# CoordSystem(PartCsy)"}},
        {"and the tool", "00071 GetProp(Tool.Name())", {"# Tool.Name(\"T1A0B0\")"}},
    };
}

TEST(IppServerTest, RequestsGetTheirAnswers) {
    MachineFolder folder;
    ASSERT_TRUE(folder.write("start 10 20 30 0\npause 100000\n"));
    IppServer server;
    ASSERT_TRUE(server.start(folder)) << ReadText(folder.path("ipp-stderr.txt")).toStdString();
    ASSERT_TRUE(server.waitForPosition());
    // One client at a time: another one is told and sent away.
    LineClient second;
    ASSERT_TRUE(second.Connect(quint16(server.port)));
    EXPECT_EQ(second.ReadLine().toStdString(),
              "E0000 ! Error(3, 0008, \"Connect\", \"Protocol error\")\r\n");

    for (const Row& row : Table()) {
        SCOPED_TRACE(row.legend);
        const std::string tag = row.request.substr(0, 5);
        if (row.request.back() == '\n')
            server.client.Write(QByteArray::fromStdString(row.request));
        else
            server.send(row.request);
        std::vector<std::string> expected;
        if (row.shape != Literal)
            expected.push_back(tag + " &");
        for (const std::string& answer : row.answers)
            expected.push_back(answer[0] == '@' ? answer.substr(1) : tag + ' ' + answer);
        if (row.shape == Whole)
            expected.push_back(tag + " %");
        if (row.clear)
            expected.insert(expected.end(), {"00999 &", "00999 %"});
        if (row.clear)
            server.send("00999 ClearAllErrors()");
        for (const std::string& line : expected)
            ASSERT_EQ(server.line(), line);
    }
    // The next client gets the slot (once the server has seen this one go) and the same
    // running driver.
    server.client.socket.disconnectFromHost();
    std::string answer;
    for (int attempt = 0; attempt < 100 && answer != "00001 &"; ++attempt) {
        server.client.socket.abort();
        QTest::qWait(100);
        ASSERT_TRUE(server.client.Connect(quint16(server.port)));
        server.send("00001 StartSession()");
        answer = server.line();
    }
    ASSERT_EQ(answer, "00001 &");
    EXPECT_EQ(server.line(), "00001 %");
    server.send("00002 Get(X())");
    for (const char* line : {"00002 &", "00002 # X(10.000000)", "00002 %"})
        EXPECT_EQ(server.line(), line);

    // The session log holds both directions.
    const QString log = ReadText(folder.path("session.txt"));
    EXPECT_TRUE(log.startsWith("# vexline-recording 1\n"));
    EXPECT_TRUE(log.contains(" > 00021 GetDMEVersion()\\r\\n\n")) << log.left(2000).toStdString();
    EXPECT_TRUE(log.contains(" < 00021 # DMEVersion(\"1.4\")\\r\\n\n"));
}

// --- A whole session beside qlnrun ------------------------------------------------------------

struct Touch {
    double v[6];  // x y z i j k
};

// "P X(..), Y(..), Z(..), IJK(.., .., ..)" -> the six numbers.
Touch NumbersIn(const std::string& text) {
    Touch touch{};
    static const std::regex number(R"(-?\d+\.\d+)");
    int i = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number);
         it != std::sregex_iterator() && i < 6; ++it)
        touch.v[i++] = std::stod(it->str());
    return touch;
}

// A compensation table of the 51-entry layout (docs/compensation.md): X grows an X error
// of 20 to 25 µm and rotates 200 µrad about X, Y an error of -15 µm. The rotation acts on
// the tip's lever, so the corrected point depends on the active tool.
QByteArray CompensationTable() {
    QByteArray bytes;
    auto put = [&](double value) { bytes.append(reinterpret_cast<const char*>(&value), 8); };
    for (int axis = 0; axis < 3; ++axis) {
        for (double header :
             {0.0, 0.0, 0.0, axis < 2 ? 1.0 : 0.0, 0.0, 100.0, 0.0, axis < 2 ? 10.0 : 0.0})
            put(header);
        for (int component = 0; component < 6; ++component)
            for (int k = 0; k < 51; ++k)
                put(axis == 0 && component == 0   ? 20.0 + 0.1 * k
                    : axis == 0 && component == 3 ? 200.0
                    : axis == 1 && component == 1 ? -15.0
                                                  : 0.0);
    }
    return bytes;
}

TEST(IppServerTest, DemoSphereTouchesArriveLikeInQlnrun) {
    // The demo sphere once, after a pause for the client to connect; then a touch for a
    // PtMeas and one after a PtMeas that AbortE gave up.
    QString script =
        ReadText(qEnvironmentVariable("VEX_SOURCE_DIR") + "/examples/scripts/sphere25.vexsim");
    script.replace(QRegularExpression("\nstart ([^\n]*)\n"), "\nstart \\1\npause 6\n");
    script.replace(QRegularExpression("\nrepeat\\s*$"), "\n");
    const QString top =
        "pause 5\nmove 200 150 72.5 0 50\ntouch 200 150 62.5 0 10\n"
        "move 200 150 100 0 50\n";
    script += top + top + "pause 1000\n";
    const QString settings = "[Tactus]\nVolCompMethod=13\n";
    MachineFolder ippFolder, qlnrunFolder;
    ASSERT_TRUE(ippFolder.write(script, settings) && qlnrunFolder.write(script, settings));
    for (const MachineFolder* folder : {&ippFolder, &qlnrunFolder}) {
        QFile table(folder->path("compens.dat"));
        ASSERT_TRUE(table.open(QIODevice::WriteOnly) && table.write(CompensationTable()) > 0);
    }

    QlnrunSession qlnrun;
    ASSERT_TRUE(qlnrun.start(
        {"--headless", "--dir", qlnrunFolder.dir.path(), "--answer", "4739=no", "--tip", "0,0,-50"},
        qlnrunFolder.environment(), qlnrunFolder.path("stderr.txt")));
    IppServer ipp;
    ASSERT_TRUE(ipp.start(ippFolder)) << ReadText(ippFolder.path("ipp-stderr.txt")).toStdString();
    for (const char* request : {"00001 StartSession()", "00002 ChangeTool(\"T1A0B0\")",
                                "00003 OnPtMeasReport(X(), Y(), Z(), IJK())", "00004 EnableUser()",
                                "E0005 OnMoveReportE(Time(0.2), X(), Y(), Z())"}) {
        ipp.send(request);
        ASSERT_EQ(ipp.line(), std::string(request, 5) + " &");
        ASSERT_EQ(ipp.line(), std::string(request, 5) + " %");
    }

    // The six touches of the sphere, as events, between the reports of the daemon.
    std::vector<Touch> touches;
    std::vector<double> reports;  // arrival times, seconds
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    while (touches.size() < 6) {
        const std::string line = ipp.line();
        ASSERT_FALSE(line.empty()) << "after touch " << touches.size();
        if (line.rfind("E0005 # X(", 0) == 0)
            reports.push_back(seconds());
        else if (line.rfind("E0000 # PtMeas(X(", 0) == 0)
            touches.push_back(NumbersIn(line));
        else
            FAIL() << line;
    }
    ipp.send("00006 StopDaemon(E0005)");
    std::string line;
    while ((line = ipp.line()).rfind("E0005 #", 0) == 0) {
    }
    EXPECT_EQ(line, "00006 &");
    EXPECT_EQ(ipp.line(), "00006 %");
    // At the asked rate: one report each 0.2 s, never more than ten a second.
    ASSERT_GT(reports.size(), 10u);
    const double span = reports.back() - reports.front();
    EXPECT_LE(double(reports.size() - 1), span / 0.2 + 2.0);
    EXPECT_GE(double(reports.size() - 1), span / 0.2 / 2.0);

    // PtMeas takes the next touch.
    ipp.send("00007 PtMeas()");
    EXPECT_EQ(ipp.line(), "00007 &");
    line = ipp.line();
    ASSERT_EQ(line.rfind("00007 # X(", 0), 0u) << line;
    touches.push_back(NumbersIn(line));
    EXPECT_EQ(ipp.line(), "00007 %");
    // AbortE gives up the next PtMeas; the touch after it is an event again.
    for (const char* request : {"00008 PtMeas()", "E0009 AbortE()"})
        ipp.send(request);
    for (const char* expected :
         {"00008 &", "E0009 &",
          "00008 ! Error(2, 0006, \"PtMeas\", \"Transaction aborted (Use ClearAllErrors To "
          "Continue)\")",
          "00008 %", "E0009 %"})
        EXPECT_EQ(ipp.line(), expected);
    for (const char* request : {"00010 ClearAllErrors()", "00011 EnableUser()"}) {
        ipp.send(request);
        EXPECT_EQ(ipp.line(), std::string(request, 5) + " &");
        EXPECT_EQ(ipp.line(), std::string(request, 5) + " %");
    }
    line = ipp.line();
    ASSERT_EQ(line.rfind("E0000 # PtMeas(X(", 0), 0u) << line;
    touches.push_back(NumbersIn(line));

    // qlnrun recorded the same eight touches as host hits.
    std::vector<Touch> hits;
    while (hits.size() < touches.size()) {
        const auto hit = qlnrun.waitFor("hit .*", kStartWait);
        ASSERT_TRUE(hit) << "qlnrun recorded " << hits.size() << " hits";
        hits.push_back(NumbersIn(*hit));
    }
    qlnrun.send("quit");
    EXPECT_EQ(qlnrun.waitForExit(kStartWait), 0);
    for (size_t t = 0; t < touches.size(); ++t) {
        SCOPED_TRACE("touch " + std::to_string(t + 1));
        for (int i = 0; i < 6; ++i)  // the vector's history point may differ by a count
            EXPECT_NEAR(touches[t].v[i], hits[t].v[i], i < 3 ? 1e-6 : 0.01) << "value " << i;
    }
    // Compensated (the tool's lever is in it too: qlnrun had the same tip): not the raw
    // top of the sphere.
    EXPECT_GT(std::fabs(touches[0].v[0] - 200.0), 0.01);
    EXPECT_EQ(ReadText(ippFolder.path("touches.log")).count(u'\n'), 8);
}

}  // namespace
