// Drives the real tactus-tool program: dispatching, usage and unknown commands.
#include <gtest/gtest.h>

#include "tests/support/RunProgram.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using testsupport::ProgramRun;
using testsupport::RunTool;

TEST(TactusTool, HelpListsCommandsAndSucceeds) {
    ProgramRun r = RunTool("help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: tactus-tool COMMAND"), std::string::npos);
}

TEST(TactusTool, UnknownCommandAndNoCommandFail) {
    ProgramRun unknown = RunTool("no-such-command");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("unknown command 'no-such-command'"), std::string::npos);
    EXPECT_EQ(RunTool("").status, 2);
}

}  // namespace
