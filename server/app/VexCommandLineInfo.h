#pragma once
// VexCommandLineInfo: the server's command-line switches.
//
// A parameter introduced by "/" or "-" is a switch; a switch whose first letter is R or
// r sets the reset flag ("/R", "-reset", "/r"), which zeroes the four card counters at
// start-up. Every other switch and every plain parameter is accepted and ignored, so a
// caller's extra arguments never stop the server. Parsing cannot fail.

#include <QStringList>

class VexCommandLineInfo {
  public:
    // Handles one parameter; `isFlag` when it was introduced by "/" or "-" (the
    // introducer already removed).
    void ParseParam(const QString& parameter, bool isFlag, bool isLast);

    // Parses every argument after the program name.
    void ParseCommandLine(const QStringList& arguments);

    bool reset() const { return reset_; }

  private:
    bool reset_ = false;
};
