#pragma once
// One command of qlnrun's command stream (stdin, one command per line) or of a window button.
//
//   read | measure | manual | scan-begin | scan-end | stop | hit-request |
//   readout-state N | setup | quit
//
// Words are separated by blanks; leading and trailing white space (also a carriage return
// from a DOS-style script) is ignored. An empty line or one starting with '#' is no command.
// ParseShellCommand is pure; docs/qlnrun.md describes what each command does.

#include <string>
#include <string_view>

enum class ShellCommandKind {
    None,  // empty line or comment
    Read,
    Measure,
    Manual,
    ScanBegin,
    ScanEnd,
    Stop,
    HitRequest,
    ReadoutState,
    Setup,
    Quit,
};

struct ShellCommand {
    ShellCommandKind kind = ShellCommandKind::None;
    int value = 0;  // readout-state: the new state
};

// False with a user-facing `error` for an unknown command or bad arguments.
bool ParseShellCommand(std::string_view line, ShellCommand& command, std::string& error);

// The command's word as typed ("scan-begin"); "" for None.
const char* ShellCommandName(ShellCommandKind kind);
