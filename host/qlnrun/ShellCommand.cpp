#include "host/qlnrun/ShellCommand.h"

#include <array>
#include <charconv>
#include <vector>

namespace {

struct CommandWord {
    const char* word;
    ShellCommandKind kind;
    bool takesNumber;
};

constexpr std::array<CommandWord, 10> kCommands{{
    {"read", ShellCommandKind::Read, false},
    {"measure", ShellCommandKind::Measure, false},
    {"manual", ShellCommandKind::Manual, false},
    {"scan-begin", ShellCommandKind::ScanBegin, false},
    {"scan-end", ShellCommandKind::ScanEnd, false},
    {"stop", ShellCommandKind::Stop, false},
    {"hit-request", ShellCommandKind::HitRequest, false},
    {"readout-state", ShellCommandKind::ReadoutState, true},
    {"setup", ShellCommandKind::Setup, false},
    {"quit", ShellCommandKind::Quit, false},
}};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace

const char* ShellCommandName(ShellCommandKind kind) {
    for (const CommandWord& entry : kCommands) {
        if (entry.kind == kind)
            return entry.word;
    }
    return "";
}

bool ParseShellCommand(std::string_view line, ShellCommand& command, std::string& error) {
    command = ShellCommand{};
    const std::vector<std::string_view> words = splitWords(line);
    if (words.empty() || words[0].front() == '#')
        return true;
    for (const CommandWord& entry : kCommands) {
        if (words[0] != entry.word)
            continue;
        const size_t wanted = entry.takesNumber ? 2 : 1;
        if (words.size() != wanted) {
            error = std::string(entry.word) +
                    (entry.takesNumber ? " takes one whole number" : " takes no arguments");
            return false;
        }
        if (entry.takesNumber) {
            const std::string_view number = words[1];
            int value = 0;
            const auto [end, status] =
                std::from_chars(number.data(), number.data() + number.size(), value);
            if (status != std::errc() || end != number.data() + number.size()) {
                error = std::string(entry.word) + " takes one whole number, not '" +
                        std::string(number) + "'";
                return false;
            }
            command.value = value;
        }
        command.kind = entry.kind;
        return true;
    }
    error = "unknown command '" + std::string(words[0]) + "'";
    return false;
}
