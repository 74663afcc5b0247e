#pragma once
// The position server program that a StartEXE command line names, and where it is found.
//
// Driver start-up runs StartEXE (plus " /R" to reset the counters) as a command line with no
// separate program name, so the first word is the program. Words are separated by white
// space and grouped by double quotes (QProcess::splitCommand). FindStartProgram looks for
// the program the way start-up does and tactus-tool's "config check" reports it:
//   - a word with a '/' is a path: absolute, or relative to the current directory;
//   - a bare name is looked for in the current directory (the host's, where the machine
//     file is), then in the directory of the program that loaded the driver (for
//     tactus-tool its own directory), then on PATH.
// A name ending in ".exe" (any case) that is not found is looked for once more without it,
// so a machine file written for Windows keeps working. Only executable regular files count.
// Pure functions on the file system; any thread.

#include <string>
#include <vector>

struct StartCommand {
    std::wstring program;                 // first word; empty for an empty command line
    std::vector<std::wstring> arguments;  // the other words
};

StartCommand SplitStartCommand(const std::wstring& commandLine);

// Absolute path of the program to run, or empty when it is not found.
std::wstring FindStartProgram(const std::wstring& program, const std::wstring& currentDir,
                              const std::wstring& programDir);
