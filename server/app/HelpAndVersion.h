#pragma once
// VexServer's --help and --version: answered on standard output before anything else runs
// (no settings read, no device opened, no socket, no window), with exit status 0.
//
// Only these two exact long options are recognised. Every other word stays with the
// server's own switches (VexCommandLineInfo), so "/R", "-reset", "-h" and "/x" behave as
// they always did. The help text is the source of the VexServer(1) man page.

#include <QString>
#include <QStringList>
#include <optional>

// The exit status when `arguments` (program name first) ask for help or the version and
// the answer has been printed; nothing otherwise.
std::optional<int> AnswerHelpOrVersion(const QStringList& arguments);

QString VexServerHelpText();
