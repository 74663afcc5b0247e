// tactus-tool parse, run as a program: reply lines on stdin, one result line each.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace {

using ToolRun = testsupport::ProgramRun;

std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs `tactus-tool parse ARGS` with `input` on stdin; stdout and stderr together.
ToolRun RunParse(const std::vector<std::string>& args, const std::string& input) {
    char path[] = "/tmp/parse_command_testXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary) << input;
    std::string args_text = "parse";
    for (const std::string& a : args)
        args_text += " " + Quote(a);
    ToolRun r = testsupport::RunTool(args_text + " < " + path);
    std::remove(path);
    return r;
}

const std::string kServerFormats =
    R"("( %lf %lf %lf %lf %lf %lf %lf ) %3c","( %lf %lf %lf %lf ) %3c")";

TEST(ParseCommand, PrintsOneLinePerMessage) {
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        std::string input;
        std::string out;
    };
    const Case cases[] = {
        {"server position and hit replies, with their line endings",
         {"--formats", kServerFormats},
         "( 1.000000 2.000000 3.000000 4.000000 ) 235\r\n( 1.0 2.0 3.0 4.0 0.0 0.0 1.0 ) 237\r\n",
         "hit=0 complete=1 status=0 pos=1.000000,2.000000,3.000000,4.000000 "
         "vec=0.000000,0.000000,1.000000\n"
         "hit=1 complete=0 status=0 pos=1.000000,2.000000,3.000000,4.000000 "
         "vec=0.000000,0.000000,1.000000\n"},
        {"scales and reverse; last line without a line ending",
         {"--formats", kServerFormats, "--scales", "2,2,2,1", "--reverse"},
         "( 2 4 6 -90 0 0.6 0.8 ) 237",
         "hit=1 complete=0 status=0 pos=1.000000,2.000000,3.000000,270.000000 "
         "vec=-0.000000,-0.600000,-0.800000\n"},
        {"vector divide",
         {"--vector-divide", "--formats", R"("%lf %lf %lf %lf %lf %lf")"},
         "1 2 4 0 4 4\n",
         "hit=1 complete=1 status=0 pos=1.000000,2.000000,4.000000,0.000000 "
         "vec=0.000000,0.894427,0.447214\n"},
        {"a failing message prints the exception text and the run goes on",
         {"--formats", R"("%d %lf %lf %lf")"},
         "1 5 6 7\n\nnot a reply\n",
         "hit=1 complete=1 status=1 pos=5.000000,6.000000,7.000000,0.000000 "
         "vec=0.000000,0.000000,1.000000\n"
         "hit=0 complete=0 status=0 pos=0.000000,0.000000,0.000000,0.000000 "
         "vec=0.000000,0.000000,1.000000\n"
         "hit=0 complete=0 status=0 pos=0.000000,0.000000,0.000000,0.000000 "
         "vec=0.000000,0.000000,1.000000\n"},
        {"parse errors are reported per line",
         {"--formats", R"("%lf %lf")"},
         "1 2\n3 4\n",
         "error: XYZParserException: number of floats parsed bad\n"
         "error: XYZParserException: number of floats parsed bad\n"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunParse(c.args, c.input);
        EXPECT_EQ(r.status, 0) << c.legend;
        EXPECT_EQ(r.out, c.out) << c.legend;
    }
}

TEST(ParseCommand, RejectsBadArgumentsAndLists) {
    struct Case {
        const char* legend;
        std::vector<std::string> args;
        int status;
        const char* text;
    };
    const Case cases[] = {
        {"no format list", {}, 2, "usage: tactus-tool parse --formats"},
        {"three scales", {"--formats", kServerFormats, "--scales", "1,2,3"}, 2, "bad --scales"},
        {"unknown option", {"--formats", kServerFormats, "--fast"}, 2, "Unknown option 'fast'"},
        {"unterminated list",
         {"--formats", R"("%lf %lf %lf)"},
         1,
         "error: XYZParserException: Format string not terminated"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunParse(c.args, "1 2 3\n");
        EXPECT_EQ(r.status, c.status) << c.legend;
        EXPECT_NE(r.out.find(c.text), std::string::npos) << c.legend << ": " << r.out;
    }
}

}  // namespace
