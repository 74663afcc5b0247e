#pragma once
// Command-line handling shared by the tactus-tool commands, on top of QCommandLineParser.
//
// Every command (and sub-command) answers --help with its usage, description and options on
// stdout and status 0 before it does anything else; bad arguments give the problem and the
// usage line on stderr and status 2. Main thread, after the application object exists.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

namespace tool {

// The -h/--help option every command offers.
const QCommandLineOption& HelpOption();

// Parses `args` for the command `name` ("watch", "volcomp apply"). `synopsis` is the usage
// after "tactus-tool ". Returns the exit status when the command must end now (help
// shown: 0; bad arguments: 2), nothing when it goes on. `epilogue` follows the options in
// the help text.
std::optional<int> ParseArguments(QCommandLineParser& parser, const std::string& name,
                                  const std::string& synopsis, const std::vector<std::string>& args,
                                  const QString& epilogue = QString());

// The help text of a parser configured for `name`, as --help prints it.
QString HelpText(const QCommandLineParser& parser, const std::string& synopsis,
                 const QString& epilogue = QString());

// Prints "tactus-tool NAME: MESSAGE" and the usage line on stderr; returns kExitUsage.
int UsageError(const std::string& name, const QString& message, const std::string& synopsis);

// A TCP end point given as HOST:PORT ("[::1]:1390" for IPv6), or as a bare PORT when
// `portAlone` names the host to use then. Port 0 only when `allowZero`.
struct Endpoint {
    QString host;
    quint16 port = 0;
    QString Text() const;
};
std::optional<Endpoint> ParseEndpoint(const QString& text, const QString& portAlone = QString(),
                                      bool allowZero = false);

// A positive number of seconds (fractions allowed), or nothing.
std::optional<double> ParseSeconds(const QString& text);

// Prints one line on stdout and flushes it, so a reader of a pipe sees it at once.
void PrintLine(const QByteArray& line);

// SIGINT and SIGTERM set a flag instead of ending the program, so a command can finish its
// work (close connections, flush files) and end with status 0; it polls StopRequested().
void CatchStopSignals();
bool StopRequested();

}  // namespace tool
