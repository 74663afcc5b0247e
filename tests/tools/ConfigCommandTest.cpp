// Drives the real tactus-tool program: `config check` on good and faulty machine files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/HostileXml.h"
#include "tests/support/RunProgram.h"

namespace {

namespace fs = std::filesystem;

using ToolRun = testsupport::ProgramRun;
using testsupport::RunTool;

int CountLines(const std::string& text, const std::string& prefix) {
    int count = 0;
    for (size_t at = 0; (at = text.find("\n" + prefix, at)) != std::string::npos; ++at)
        ++count;
    return count;
}

const std::string kTcp = "<Transport>TCP</Transport>";
const std::string kFifo = "(a FIFO)";
const std::string kTcpChild =
    "<TCP><CMMAddress-IP>LocalHost</CMMAddress-IP><CMMPort-IP>1390</CMMPort-IP></TCP>";
const std::string kReplies =
    "<HitReply><Reply>\"( %lf %lf %lf %lf %lf %lf %lf ) %3c\"</Reply>"
    "</HitReply><PositionReply><Reply>\"( %lf %lf %lf %lf ) %3c\"</Reply>"
    "</PositionReply>";

std::string MachineFile(const std::string& miscData, const std::string& replies = kReplies,
                        const std::string& commInfo = kTcpChild) {
    return "<?xml version=\"1.0\"?>\n<TACConfigData><Misc cmm=\"Test\"><Data>" + miscData +
           "</Data></Misc><InitializationSequence><Data><Command>\"INIT\"</Command></Data>"
           "</InitializationSequence><Commands><GetPosition><Command>POS</Command></GetPosition>"
           "</Commands><Replies>" +
           replies + "</Replies><CommInfo>" + commInfo + "</CommInfo></TACConfigData>\n";
}

class ConfigCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("config-check-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes the machine file (none when empty) and returns the folder argument.
    std::string Folder(const std::string& name, const std::string& content) {
        const fs::path folder = dir_ / name;
        fs::create_directories(folder);
        if (content == kFifo)
            ::mkfifo((folder / "TACConfigData.xml").c_str(), 0600);
        else if (!content.empty())
            std::ofstream(folder / "TACConfigData.xml") << content;
        return folder.string();
    }

    fs::path dir_;
};

TEST_F(ConfigCheckTest, GoodFileListsValuesMarksDefaultsAndFindsTheServer) {
    const std::string folder =
        Folder("good", MachineFile(kTcp + "<StartEXE>FakeServer --quiet</StartEXE>"));
    const fs::path server = fs::path(folder) / "FakeServer";
    std::ofstream(server) << "#!/bin/sh\n";
    fs::permissions(server, fs::perms::owner_exec, fs::perm_options::add);

    // Samples as the server sends them: a position and a hit.
    const ToolRun r = RunTool("config check " + folder +
                              " --sample '( 1.5 2 3 4 ) 235\\r\\n' --sample '( 1 2 3 4 0 0.6 "
                              "0.8 ) 237\\r\\n'");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* line : {"  sample 1 = ( 1.5 2 3 4 ) 235\\r\\n  [position 1.500000 2.000000 "
                             "3.000000 4.000000]\n",
                             "  [hit 1.000000 2.000000 3.000000 4.000000 vector 0.000000 "
                             "0.600000 0.800000]\n",
                             "  RequestInterval = 100 (default)\n", "  Transport = TCP\n",
                             "  ScaleW = 1 (default)\n", "  RotateReply = (empty) (default)\n",
                             "    CMMAddress-IP = LocalHost  [connects to 127.0.0.1]\n",
                             "  AxisY = 2 (default)  [machine axis 1]\n", "No problems found.\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_NE(r.out.find("[program " + server.string() + "]"), std::string::npos) << r.out;
}

TEST_F(ConfigCheckTest, EveryProblemIsReportedAndFailsTheCheck) {
    struct Row {
        const char* legend;
        std::string file;
        std::vector<std::string> problems;  // the problem lines, all of them
        std::string environment = {};       // assignments before the command
        std::string options = {};
    };
    const std::string serial = "<Transport>SERIAL</Transport>";
    const Row rows[] = {
        {"axis code above 5 and two host axes on one machine axis",
         MachineFile(kTcp + "<AxisX>7</AxisX><AxisY>1</AxisY><AxisZ>0</AxisZ>"),
         {"AxisX = 7 is outside 0 to 5", "AxisY and AxisZ both read machine axis 0"}},
        {"GPIB transport",
         MachineFile("<Transport>GPIB</Transport>", kReplies, "<GPIB/>"),
         {"Transport GPIB: the driver opens no GPIB channel"}},
        {"transport in the wrong letter case",
         MachineFile("<Transport>tcp</Transport>"),
         {"Transport 'tcp' is not GPIB, SERIAL or TCP: no channel is opened (did you mean TCP?"}},
        {"transport without its CommInfo child",
         MachineFile(kTcp, kReplies, "<SERIAL><Device>COM1</Device></SERIAL>"),
         {"Transport TCP matches no CommInfo child"}},
        {"hit format ending in a string conversion",
         MachineFile(kTcp, "<HitReply><Reply>\"%lf %s\"</Reply></HitReply>"),
         {"reply format list: FormatStringParserException: bad type in format string"}},
        {"position format with two values",
         MachineFile(kTcp,
                     "<HitReply><Reply>\"%lf %lf %lf HIT\"</Reply></HitReply>"
                     "<PositionReply><Reply>\"%lf %lf\"</Reply></PositionReply>"),
         {"reply format 2: XYZParserException: number of floats parsed bad"}},
        {"format list too short for a parser",
         MachineFile(kTcp, "<HitReply><Reply>\"%lf\"</Reply></HitReply>"),
         {"the reply format list has 5 characters (6 or fewer): no reply parser"}},
        {"position server program missing",
         MachineFile(kTcp + "<StartEXE>NoSuchServer /Q</StartEXE>"),
         {"StartEXE program 'NoSuchServer' not found"}},
        {"serial port without a number and with nine data bits",
         MachineFile("<Transport>SERIAL</Transport>", kReplies,
                     "<SERIAL><Device>/dev/ttyUSB0</Device><Size>9</Size></SERIAL>"),
         {"Device '/dev/ttyUSB0' gives port 0", "the serial port does not take"}},
        {"a baud rate no serial port takes",
         MachineFile(serial, kReplies, "<SERIAL><Device>COM1</Device><Baud>12345</Baud></SERIAL>"),
         {"Baud 12345 is not a rate the serial port can be set to"},
         "TACTUS_COM1=/dev/ptmx"},
        {"the device of COM3 is missing",
         MachineFile(serial, kReplies, "<SERIAL><Device>COM3</Device></SERIAL>"),
         {"COM3 is /nonexistent/ttyS9 for the driver (TACTUS_COM3 in the host's environment "
          "names another device): /nonexistent/ttyS9: No such file or directory"},
         "TACTUS_COM3=/nonexistent/ttyS9"},
        {"the device of COM3 is no serial line",
         MachineFile(serial, kReplies, "<SERIAL><Device>COM3</Device></SERIAL>"),
         {"/dev/null is not a serial device"},
         "TACTUS_COM3=/dev/null"},
        {"Transport and its CommInfo child differ in letter case",
         MachineFile(kTcp, kReplies, "<Tcp><CMMPort-IP>1390</CMMPort-IP></Tcp>"),
         {"Transport TCP matches no CommInfo child: no channel is opened (CommInfo has Tcp, which "
          "differs only in letter case"}},
        {"a scale of 0 and one too small to divide by",
         MachineFile(kTcp + "<ScaleX>0</ScaleX><ScaleZ>-1e-12</ScaleZ>"),
         {"ScaleX = 0: every reply value is divided by it",
          "ScaleZ = -1e-12 is below 1e-09 in magnitude"}},
        {"StartEXE beside tactus-tool but not beside the host program",
         MachineFile(kTcp + "<StartEXE>tactus-tool</StartEXE>"),
         {"StartEXE program 'tactus-tool' not found (looked in "},
         "",
         "--host /bin/sh"},
        {"a sample reply the formats do not understand",
         MachineFile(kTcp),
         {"sample 2 'garbage' is neither a hit nor a complete position"},
         "",
         "--sample '( 1 2 3 4 ) 235\\r\\n' --sample garbage"},
        {"host name instead of an address, no TCP port",
         MachineFile(kTcp, kReplies,
                     "<TCP><CMMAddress-IP>cmm.example</CMMAddress-IP><CMMPort-IP>0</CMMPort-IP>"
                     "</TCP>"),
         {"CMMAddress-IP 'cmm.example' is not an IPv4 address", "CMMPort-IP = 0 is not a TCP"}},
        {"file not well formed",
         "<TACConfigData><Misc></TACConfigData>",
         {"the driver cannot read the file (start-up fails with message 561)"}},
        {"no file", "", {"the driver cannot read the file", "cannot open"}},
        {"one entity expanding to 400 MB",
         testsupport::FlatEntityExpansion("TACConfigData", "Misc"),
         {"its entities may expand to more than 1 MiB of text"}},
        {"100,000 nested elements",
         testsupport::DeepNesting("TACConfigData"),
         {"TACConfigData.xml, line 1, column 207: elements are nested deeper than 64"}},
        {"a FIFO instead of a file", kFifo, {"TACConfigData.xml is not a regular file"}},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const ToolRun r = testsupport::RunProgram(
            row.environment + " " + testsupport::BinDir() + "/tactus-tool config check " +
            Folder(std::to_string(index++), row.file) + " " + row.options);
        EXPECT_EQ(r.status, 1) << r.out;
        for (const std::string& problem : row.problems)
            EXPECT_NE(r.out.find(problem), std::string::npos) << problem << "\n" << r.out;
        const int expectedLines = row.file.empty() ? 1 : static_cast<int>(row.problems.size());
        EXPECT_EQ(CountLines(r.out, "problem: "), expectedLines) << r.out;
    }
    EXPECT_LT(testsupport::PeakChildMegabytes(), 100);
}

TEST_F(ConfigCheckTest, BadArgumentsAreAUsageError) {
    for (const char* args : {"config", "config verify", "config check a b"}) {
        const ToolRun r = RunTool(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find("usage: tactus-tool config check [DIR]"), std::string::npos) << args;
    }
}

// The shipped examples pass once VexServer is built beside the host program (qlnrun, which
// is built beside tactus-tool); COM1 is pointed at a terminal every Linux has.
TEST_F(ConfigCheckTest, ShippedExamplesPass) {
    const std::string bin = std::getenv("VEX_BIN_DIR");
    if (!fs::exists(fs::path(bin) / "VexServer"))
        GTEST_SKIP() << "VexServer is not built";
    const std::string examples = std::string(std::getenv("VEX_SOURCE_DIR")) + "/examples";
    for (const std::string& folder : {examples, examples + "/serial"}) {
        const ToolRun r = testsupport::RunProgram("TACTUS_COM1=/dev/ptmx " + bin +
                                                  "/tactus-tool config check " + folder);
        EXPECT_EQ(r.status, 0) << r.out;
    }
}

}  // namespace
