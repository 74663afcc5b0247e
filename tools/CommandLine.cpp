#include "tools/CommandLine.h"

#include <cmath>
#include <csignal>
#include <cstdio>

#include "common/ProgramHelp.h"
#include "tools/Command.h"

namespace tool {

const QCommandLineOption& HelpOption() {
    static const QCommandLineOption option = ProgramHelpOption();
    return option;
}

QString HelpText(const QCommandLineParser& parser, const std::string& synopsis,
                 const QString& epilogue) {
    QString help =
        ProgramHelpText(parser, "Usage: tactus-tool " + QString::fromStdString(synopsis));
    if (!epilogue.isEmpty())
        help += '\n' + epilogue + (epilogue.endsWith('\n') ? "" : "\n");
    return help;
}

std::optional<int> ParseArguments(QCommandLineParser& parser, const std::string& name,
                                  const std::string& synopsis, const std::vector<std::string>& args,
                                  const QString& epilogue) {
    parser.addOption(HelpOption());
    QStringList list{QStringLiteral("tactus-tool")};
    for (const std::string& arg : args)
        list.append(QString::fromLocal8Bit(arg.c_str()));
    const bool parsed = parser.parse(list);
    // --help wins over every other problem: it is how one finds out what is right.
    if (parser.isSet(HelpOption())) {
        std::fputs(HelpText(parser, synopsis, epilogue).toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    if (!parsed)
        return UsageError(name, parser.errorText(), synopsis);
    return std::nullopt;
}

int UsageError(const std::string& name, const QString& message, const std::string& synopsis) {
    std::fprintf(stderr, "tactus-tool %s: %s\nusage: tactus-tool %s\n", name.c_str(),
                 message.toLocal8Bit().constData(), synopsis.c_str());
    return kExitUsage;
}

QString Endpoint::Text() const {
    const QString shown = host.contains(u':') ? '[' + host + ']' : host;
    return shown + ':' + QString::number(port);
}

std::optional<Endpoint> ParseEndpoint(const QString& text, const QString& portAlone,
                                      bool allowZero) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0 && portAlone.isEmpty())
        return std::nullopt;
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (!ok || port > 65535 || (port == 0 && !allowZero))
        return std::nullopt;
    Endpoint endpoint;
    endpoint.host = colon < 0 ? portAlone : text.left(colon);
    if (endpoint.host.startsWith(u'[') && endpoint.host.endsWith(u']'))
        endpoint.host = endpoint.host.mid(1, endpoint.host.size() - 2);
    if (endpoint.host.isEmpty())
        return std::nullopt;
    endpoint.port = quint16(port);
    return endpoint;
}

std::optional<double> ParseSeconds(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || !std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void RequestStop(int) {
    gStopRequested = 1;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
    return gStopRequested != 0;
}

void PrintLine(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace tool
