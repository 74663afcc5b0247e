#pragma once
// Sub-commands of tactus-tool, the integrators' diagnostic program.
//
// Each command lives in its own source file and registers itself with a static
// ToolCommand object; main() answers --help and --version, creates the Qt application
// the command needs and dispatches on the first argument. Commands run on the main thread,
// print to stdout/stderr and report failure through their exit status (ExitStatus below).

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tool {

// Exit statuses every command shares; a command may add its own above kExitUsage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct CommandInfo {
    std::string synopsis;  // "watch HOST:PORT [--duration SECONDS]" (several lines allowed)
    std::string summary;   // what it does, one line, for `tactus-tool --help`
    // Whether these arguments make the command paint (it then gets a QGuiApplication,
    // off-screen without a display); null: never.
    bool (*needsGui)(const std::vector<std::string>& args) = nullptr;
    CommandFn run;
};

// The registry, keyed by command name (first word on the command line).
std::map<std::string, CommandInfo>& Commands();

// Registers a command at static-initialisation time.
struct ToolCommand {
    ToolCommand(const std::string& name, CommandInfo info) { Commands()[name] = std::move(info); }
};

}  // namespace tool
