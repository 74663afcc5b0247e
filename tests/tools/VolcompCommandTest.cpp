// Drives `tactus-tool volcomp` as a program: points through the ASI and CNC methods, the
// failures it reports, the debug log and the plot.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
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
    ToolRun Tool(const std::string& args, const std::string& input = "") {
        std::ofstream(dir_ / "stdin.txt") << input;
        const std::string cmd = std::string(std::getenv("VEX_BIN_DIR")) + "/tactus-tool volcomp " +
                                args + " < " + (dir_ / "stdin.txt").string() + " > " +
                                (dir_ / "stdout.txt").string() + " 2> " +
                                (dir_ / "stderr.txt").string();
        const int raw = std::system(cmd.c_str());
        return {WEXITSTATUS(raw), ReadFile(dir_ / "stdout.txt"), ReadFile(dir_ / "stderr.txt")};
    }

    // A 251-entry table file for arm 1 (axes -500 .. 2000 by 10 mm) whose X axis errs by
    // 1e-4 * x along X and whose Z axis turns 20 micro-radians about Z.
    void WriteTables(const std::string& name) {
        std::ofstream out(dir_ / name, std::ios::binary);
        for (int axis = 0; axis < 3; ++axis) {
            const double head[8] = {0.0,    0.0,    0.0, axis == 0 ? 1.0 : 0.0,
                                    1000.0, -500.0, 0.0, 10.0};
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
        {"missing table file", "--method 16 --file none.dat", "", 1, "did not become ready"},
        {"a line that is not three numbers", "--method 13", "1 2 3\n1 2\n", 2,
         "line 2: expected \"x y z\""},
        {"no method", "", "", 2, "--method is required"},
        {"unknown option", "--method 0 --fast", "", 2, "unknown option '--fast'"},
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
    EXPECT_NE(r.out.find("largest XY correction 0.2"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // Method 0 has no data to take a range from.
    EXPECT_EQ(Tool("plot --method 0 --dir " + Dir() + " --z 0 --out " + png.string()).status, 2);
    EXPECT_EQ(Tool("plot --method 0 --range 0,10,0,10 --z 0 --out " + png.string()).status, 0);
}

}  // namespace
