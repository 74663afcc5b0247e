// tactus-tool: command-line diagnostics for integrators (see docs/tactus-tool.md).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/Command.h"

namespace tool {

std::map<std::string, CommandInfo>& Commands() {
    static std::map<std::string, CommandInfo> commands;
    return commands;
}

}  // namespace tool

namespace {

int Usage(FILE* out) {
    std::fprintf(out, "usage: tactus-tool COMMAND [ARGS...]\n\ncommands:\n");
    for (const auto& [name, info] : tool::Commands()) {
        std::fprintf(out, "  %s\n", info.usage.c_str());
    }
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage(stderr);
    std::string name = argv[1];
    if (name == "help" || name == "--help" || name == "-h")
        return Usage(stdout);
    auto it = tool::Commands().find(name);
    if (it == tool::Commands().end()) {
        std::fprintf(stderr, "tactus-tool: unknown command '%s'\n", name.c_str());
        return Usage(stderr);
    }
    return it->second.run(std::vector<std::string>(argv + 2, argv + argc));
}
