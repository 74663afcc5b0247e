#pragma once
// Sub-commands of tactus-tool, the integrators' diagnostic program.
//
// Each command lives in its own source file and registers itself with a static
// ToolCommand object; main() dispatches on the first argument. Commands run on the
// main thread, print to stdout/stderr and report failure through their exit status.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tool {

using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct CommandInfo {
    std::string usage;  // one line shown by `tactus-tool help`
    CommandFn run;
};

// The registry, keyed by command name (first word on the command line).
std::map<std::string, CommandInfo>& Commands();

// Registers a command at static-initialisation time.
struct ToolCommand {
    ToolCommand(const std::string& name, const std::string& usage, CommandFn run) {
        Commands()[name] = CommandInfo{usage, std::move(run)};
    }
};

}  // namespace tool
