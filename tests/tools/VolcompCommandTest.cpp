// Drives `tactus-tool volcomp` as a program: points through the ASI and CNC methods, the
// failures it reports, the debug log and the plot.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class VolcompCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/volcomp-tool-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with `input` on stdin; stdout and stderr are kept apart.
    ToolRun Tool(const std::string& args, const std::string& input = "",
                 const std::string& environment = "") {
        std::ofstream(dir_ / "stdin.txt") << input;
        const std::string cmd =
            environment + " " + std::getenv("VEX_BIN_DIR") + "/tactus-tool volcomp " + args +
            " < " + (dir_ / "stdin.txt").string() + " > " + (dir_ / "stdout.txt").string() +
            " 2> " + (dir_ / "stderr.txt").string();
        const int raw = std::system(cmd.c_str());
        return {WEXITSTATUS(raw), ReadFile(dir_ / "stdout.txt"), ReadFile(dir_ / "stderr.txt")};
    }

    // A 251-entry table file (axes -500 .. 2000 by 10 mm, arm 1 unless told otherwise) whose
    // X axis errs by 1e-4 * x along X and whose Z axis turns 20 micro-radians about Z; the Y
    // record may carry a squareness (micro-radians).
    void WriteTables(const std::string& name, double arm = 1.0, double squarenessY = 0.0) {
        fs::create_directories((dir_ / name).parent_path());
        std::ofstream out(dir_ / name, std::ios::binary);
        for (int axis = 0; axis < 3; ++axis) {
            const double head[8] = {
                0.0, 0.0, 0.0, axis == 0 ? arm : 0.0, 1000.0, -500.0, axis == 1 ? squarenessY : 0.0,
                10.0};
            out.write(reinterpret_cast<const char*>(head), sizeof head);
            for (int c = 0; c < 6; ++c)
                for (int k = 0; k < 251; ++k) {
                    const double p = -500.0 + 10.0 * k;
                    const double v = axis == 0 && c == 0   ? 1e-4 * p
                                     : axis == 2 && c == 5 ? 20.0
                                                           : 0.0;
                    out.write(reinterpret_cast<const char*>(&v), sizeof v);
                }
        }
    }

    std::string Dir() const { return dir_.string(); }
    fs::path dir_;
};

std::string Line(double x, double y, double z) {
    char text[128];
    std::snprintf(text, sizeof text, "%.9f %.9f %.9f\n", x, y, z);
    return text;
}

TEST_F(VolcompCommand, AppliesTheMethodToEveryLine) {
    WriteTables("compens.dat");
    WriteTables("machine.dat");
    // X errs by 1e-4 * x; the Z rotation (20 micro-radians) moves X by -0.003 on the
    // 150 mm tip lever, also where X has no table.
    struct Row {
        const char* legend;
        std::string args;
        std::string expected;
    };
    const Row rows[] = {
        {"ASI from the machine", "--method 13",
         Line(100.0 + 0.01 - 0.003, 50.0, 0.0) + Line(-600.003, 0.0, 0.0)},
        {"with an origin: results relative to it", "--method 13 --origin 10,0,0",
         Line(90.0 + 0.009 - 0.003, 50.0, 0.0) + Line(-610.003, 0.0, 0.0)},
        {"CNC reads the --file name", "--method 16 --file machine.dat",
         Line(100.0 + 0.01 - 0.003, 50.0, 0.0) + Line(-600.003, 0.0, 0.0)},
        {"towards the machine", "--method 13 --to-cmm",
         Line(100.0 - 0.01 + 0.003, 50.0, 0.0) + Line(-599.997, 0.0, 0.0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const ToolRun r =
            Tool("apply " + row.args + " --tip 0,150,0 --dir " + Dir(), "100 50 0\n\n-600\t0 0\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.expected);
    }
}

TEST_F(VolcompCommand, FailuresAndTheirStatus) {
    WriteTables("compens.dat");
    struct Row {
        const char* legend;
        std::string args;
        std::string input;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {"unknown method: host message 2252", "--method 15", "", 1, "message box 2252"},
        {"missing table file: the reason without --log", "--method 16 --file none.dat", "", 1,
         "method 16 did not become ready: cannot open " + Dir() + "/none.dat"},
        {"enciphered B&S map required and missing", "--method 14 --enciphered", "", 1,
         "the host requires the enciphered map and cannot open " + Dir() + "/comp.enc"},
        {"the older DEA library asked for", "--method 12 --old-dea-library", "", 1,
         "cannot load libwcompens32.so"},
        {"a line that is not three numbers", "--method 13", "1 2 3\n1 2\n", 2,
         "line 2: expected \"x y z\""},
        {"no method", "", "", 2, "--method is required"},
        {"unknown option", "--method 0 --fast", "", 2, "Unknown option 'fast'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const ToolRun r = Tool("apply " + row.args + " --dir " + Dir(), row.input);
        EXPECT_EQ(r.status, row.status);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
    // What was read before the bad line is still printed.
    EXPECT_EQ(Tool("apply --method 0 --dir " + Dir(), "1 2 3\nx\n").out, Line(1, 2, 3));
}

TEST_F(VolcompCommand, LogFileShowsTheCompensation) {
    WriteTables("compens.dat");
    const ToolRun r = Tool(
        "apply --method 13 --dir " + Dir() + " --log " + (dir_ / "trace.txt").string(), "1 2 3\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string log = ReadFile(dir_ / "trace.txt");
    for (const char* line : {"ASI_Volcomp FileName=:compens.dat:\n", "No. 2 Axis \n",
                             "AsiVolcomp Entering CompensateFromCMM with in=(1.000000 2.000000 "
                             "3.000000 1.000000)\n",
                             " Forward VolComp: ", "\tInitializeVolcomp, nMethod=13 ptrVolcomp="})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(VolcompCommand, PlotWritesAPicture) {
    WriteTables("compens.dat");
    const fs::path png = dir_ / "plot.png";
    const ToolRun r = Tool("plot --method 13 --dir " + Dir() + " --z 0 --out " + png.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("largest XY correction 200 um"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // Method 0 has no data to take a range from.
    EXPECT_EQ(Tool("plot --method 0 --dir " + Dir() + " --z 0 --out " + png.string()).status, 2);
    EXPECT_EQ(Tool("plot --method 0 --range 0,10,0,10 --z 0 --out " + png.string()).status, 0);
}

// check says what loaded and warns of corrections no machine has; the host's answers and the
// DEA library settings given as options reach the method.
TEST_F(VolcompCommand, CheckAndTheDriverSettings) {
    WriteTables("compens.dat");
    WriteTables("arm4/compens.dat", 4.0, 5.0);
    WriteTables("nan/compens.dat", 1.0, std::nan(""));
    // A plain B&S map without errors, and an enciphered one that does not decrypt.
    std::string map = "0\n-500 -500 -500 50 50 50 0 0 0\n";
    for (int i = 0; i < 23 * 50 + 1; ++i)
        map += "0 ";
    std::ofstream(dir_ / "comp.dat") << map << "\n";
    fs::create_directories(dir_ / "bns");
    fs::copy(dir_ / "comp.dat", dir_ / "bns/comp.dat");
    std::ofstream(dir_ / "bns/comp.enc") << "0\n";
    const std::string dea = std::string(std::getenv("VEX_BIN_DIR")) + "/dea-standin";
    struct Row {
        const char* legend;
        std::string args;
        int status;
        std::vector<std::string> out;  // in stdout, stderr or the log file
    };
    const Row rows[] = {
        {"an arm 1 table: 0.2 mm at the end of X",
         "check --method 13 --dir " + Dir(),
         0,
         {"Method 13 (ASI): ready\n", "  251-entry layout, arm 1\n",
          "  X axis: -500 .. 2000 mm, step 10 mm, squareness 0 urad", "200 um at X Y Z 2000 "}},
        {"arm 4 with 5 micro-radians of squareness: metres",
         "check --method 13 --dir " + Dir() + "/arm4",
         1,
         {"  10 m at X Y Z 2000 -500 2000", "warning: a correction of 10 m is implausible",
          "arm 4 adds squareness times a coordinate"}},
        {"a squareness that is not a number: the reader's reason",
         "check --method 13 --dir " + Dir() + "/nan",
         1,
         {"method 13 did not become ready: compens.dat: Y record, squareness is not a finite "
          "number"}},
        {"B&S: plain map",
         "check --method 14 --dir " + Dir(),
         0,
         {"map comp.dat: machine type 0, 50 points per table", "  0 mm at X Y Z"}},
        {"B&S: comp.enc unreadable, the host grants the fallback",
         "check --method 14 --enciphered --fallback --dir " + Dir() + "/bns",
         0,
         {"Method 14 (B&S): ready"}},
        {"B&S: comp.enc unreadable, no fallback",
         "check --method 14 --enciphered --dir " + Dir() + "/bns",
         1,
         {"method 14 did not become ready: " + Dir() + "/bns/comp.enc: "}},
        {"DEA library: the older one, arm 2, mode 3",
         "apply --method 12 --old-dea-library --arm2 --dea-mode 3 --file dea.dat --log " + Dir() +
             "/dea.txt --dir " + Dir(),
         0,
         {"1.001000000 2.002000000 3.003000000\n",
          "InitCompens (older format) results=", "Arm number=2", "WCompensMode=3  results="}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        if (row.args.find("--method 12") != std::string::npos && !fs::exists(dea))
            continue;  // the stand-in DEA library is not built
        fs::remove(dir_ / "dea.txt");
        const ToolRun r = Tool(row.args, "1 2 3\n", "LD_LIBRARY_PATH=" + dea);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        const std::string text = r.out + r.err + ReadFile(dir_ / "dea.txt");
        for (const std::string& part : row.out)
            EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
}

}  // namespace
