// Drives the real tactus-tool program: dispatching, usage, unknown commands, --help and
// --version.
#include <gtest/gtest.h>

#include "common/ProductVersion.h"
#include "tests/support/RunProgram.h"

#include <string>

namespace {

using testsupport::ProgramRun;
using testsupport::RunTool;

TEST(TactusTool, UnknownCommandAndNoCommandFail) {
    ProgramRun unknown = RunTool("no-such-command");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("unknown command 'no-such-command'"), std::string::npos);
    EXPECT_EQ(RunTool("").status, 2);
}

// Help and version answer at once with status 0 and start nothing: no connection, no
// listening port, no file read, no point from stdin.
TEST(TactusTool, HelpAndVersionAnswerBeforeAnythingRuns) {
    struct Row {
        const char* legend;
        std::string args;
        std::string begins;  // the first line starts so
    };
    const std::string version =
        std::string("tactus-tool (") + kProductName + ") " + kProductVersion;
    const Row rows[] = {
        {"the program's help", "--help", "Usage: tactus-tool [--help] [--version] COMMAND"},
        {"short form", "-h", "Usage: tactus-tool [--help] [--version] COMMAND"},
        {"the help command", "help", "Usage: tactus-tool [--help] [--version] COMMAND"},
        {"the version", "--version", version},
        {"help on a command", "help volcomp", "Usage: tactus-tool volcomp apply|check|plot"},
        {"watch does not connect", "watch 127.0.0.1:9 --help",
         "Usage: tactus-tool watch HOST:PORT"},
        {"parse reads no line", "parse --help", "Usage: tactus-tool parse --formats"},
        {"config reads no file", "config check /nonexistent --help",
         "Usage: tactus-tool config check [DIR]"},
        {"volcomp apply reads no point", "volcomp apply --help",
         "Usage: tactus-tool volcomp apply --method N"},
        {"volcomp check", "volcomp check --method 13 --help", "Usage: tactus-tool volcomp check"},
        {"volcomp plot", "volcomp plot --help", "Usage: tactus-tool volcomp plot --method N --z Z"},
        {"spy does not listen", "spy 0 127.0.0.1:9 --help", "Usage: tactus-tool spy LISTEN"},
        {"replay reads no recording", "replay /nonexistent --help",
         "Usage: tactus-tool replay FILE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const ProgramRun r = RunTool(row.args + " < /dev/null");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.rfind(row.begins, 0), 0u) << r.out;
        // help2man makes the man page from this text: every help lists its options.
        if (row.args != "--version") {
            EXPECT_NE(r.out.find("-h, --help"), std::string::npos) << r.out;
        }
    }
}

}  // namespace
