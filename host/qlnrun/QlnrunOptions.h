#pragma once
// The command line of qlnrun, the host shell that loads a driver plug-in and drives it.
//
//   qlnrun [--driver PATH] [--dir DIR] [--headless] [--duration SECONDS]
//          [--answer ID=yes|no]... [--unit U] [--tip X,Y,Z] [--hit-delivery 0|1]
//          [--timestamps] [--auto-hit DISTANCE] [--help] [--version]
//
// ParseQlnrunOptions is pure (no Qt application needed) and reports the first bad option
// with a text meant for the user; docs/qlnrun.md describes every option. The help text
// (Qt's command-line parser lists the options) is the source of the qlnrun(1) man page.

#include <QString>
#include <QStringList>
#include <array>
#include <map>
#include <optional>

struct QlnrunOptions {
    QString driverPath;                        // empty: libTactus.so beside qlnrun
    QString directory;                         // empty: stay in the current directory
    bool headless = false;                     // print events on stdout instead of showing a window
    std::optional<double> duration;            // seconds until qlnrun ends by itself
    std::map<unsigned, int> answers;           // message box id -> answer code (6 Yes, 7 No)
    std::optional<double> lengthUnit;          // host length-unit value U
    std::optional<std::array<double, 3>> tip;  // offset of the active tip
    std::optional<int> hitDelivery;            // host's hitDeliveryFlag
    bool timestamps = false;                   // end every event line with its monotonic time
    std::optional<double> autoHitDistance;     // host's automatic-hit rule (host units)
};

enum class QlnrunParse { Run, Help, Version, Error };

// Parses arguments (the first entry is the program name). On Error, `error` says which
// option was wrong and why; on Help and Version, `error` holds the text to print.
QlnrunParse ParseQlnrunOptions(const QStringList& arguments, QlnrunOptions& options,
                               QString& error);
