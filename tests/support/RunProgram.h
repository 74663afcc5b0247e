#pragma once
// Test support: runs a shell command line and collects what it printed on stdout and
// stderr together, with its exit status. For tests that drive the real programs in
// build/bin (VEX_BIN_DIR names that folder). Blocks until the program ends.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;  // stdout and stderr, interleaved as written
};

// Folder of the built programs (the test's environment sets VEX_BIN_DIR).
inline std::string BinDir() {
    const char* dir = std::getenv("VEX_BIN_DIR");
    return dir ? dir : ".";
}

// Runs `commandLine` through the shell with stderr joined to stdout.
inline ProgramRun RunProgram(const std::string& commandLine) {
    ProgramRun run;
    const std::string cmd = commandLine + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return run;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        run.out.append(buf.data(), n);
    const int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Runs build/bin/tactus-tool with `args` (already quoted as the shell needs).
inline ProgramRun RunTool(const std::string& args) {
    return RunProgram(BinDir() + "/tactus-tool " + args);
}

}  // namespace testsupport
