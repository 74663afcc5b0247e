// tactus-tool: command-line diagnostics for integrators (see docs/tactus-tool.md).
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/ProductVersion.h"
#include "common/ProgramVersion.h"
#include "tools/Command.h"

namespace tool {

std::map<std::string, CommandInfo>& Commands() {
    static std::map<std::string, CommandInfo> commands;
    return commands;
}

}  // namespace tool

namespace {

constexpr char kDescription[] =
    "Diagnostics for integrators of a Tactus driver and its position server: talk to a\n"
    "server, record what passes between the driver and its machine and play it back,\n"
    "check reply formats, machine files and compensation data before a machine runs.\n";

constexpr char kEpilogue[] =
    "'tactus-tool COMMAND --help' (or 'tactus-tool help COMMAND') describes a command.\n"
    "\n"
    "Exit status: 0 success; 1 the command failed or found problems; 2 bad arguments or an\n"
    "unknown command; volcomp plot: 3 when the picture cannot be written.\n";

void PrintHelp(FILE* out) {
    std::fprintf(out,
                 "Usage: tactus-tool [--help] [--version] COMMAND [ARGS...]\n%s\n"
                 "Options:\n"
                 "  -h, --help     Show this text and end.\n"
                 "  -v, --version  Show the version and end.\n\n"
                 "Commands:\n",
                 kDescription);
    for (const auto& [name, info] : tool::Commands())
        std::fprintf(out, "  %s\n      %s\n", info.synopsis.c_str(), info.summary.c_str());
    std::fprintf(out, "\n%s", kEpilogue);
}

// The application object a command needs; painting needs a GUI one, off-screen without a
// display.
std::unique_ptr<QCoreApplication> MakeApplication(bool gui, int& argc, char** argv) {
    if (!gui)
        return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp(stderr);
        return tool::kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        PrintHelp(stdout);
        return tool::kExitOk;
    }
    if (first == "--version" || first == "-v") {
        std::fputs(ProgramVersionText("tactus-tool").c_str(), stdout);
        return tool::kExitOk;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    std::string name = first;
    if (name == "help") {
        // "help COMMAND" is "COMMAND --help"; "help" alone lists the commands.
        if (args.empty()) {
            PrintHelp(stdout);
            return tool::kExitOk;
        }
        name = args[0];
        args = {"--help"};
    }
    const auto it = tool::Commands().find(name);
    if (it == tool::Commands().end()) {
        std::fprintf(stderr, "tactus-tool: unknown command '%s'\n\n", name.c_str());
        PrintHelp(stderr);
        return tool::kExitUsage;
    }
    // Qt sees only the program name; each command parses its own arguments.
    int qtArgc = 1;
    char program[] = "tactus-tool";
    char* qtArgv[] = {program, nullptr};
    const auto app =
        MakeApplication(it->second.needsGui && it->second.needsGui(args), qtArgc, qtArgv);
    QCoreApplication::setApplicationName(QStringLiteral("tactus-tool"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProductVersion));
    return it->second.run(args);
}
