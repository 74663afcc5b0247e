// Drives the real tactus-tool program: dispatching, usage and unknown commands.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct ToolRun {
    int status;
    std::string out;
};

ToolRun RunTool(const std::string& args) {
    std::string cmd = std::string(std::getenv("VEX_BIN_DIR")) + "/tactus-tool " + args + " 2>&1";
    ToolRun r{0, {}};
    FILE* p = popen(cmd.c_str(), "r");
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    r.status = WEXITSTATUS(pclose(p));
    return r;
}

TEST(TactusTool, HelpListsCommandsAndSucceeds) {
    ToolRun r = RunTool("help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: tactus-tool COMMAND"), std::string::npos);
}

TEST(TactusTool, UnknownCommandAndNoCommandFail) {
    ToolRun unknown = RunTool("no-such-command");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("unknown command 'no-such-command'"), std::string::npos);
    EXPECT_EQ(RunTool("").status, 2);
}

}  // namespace
