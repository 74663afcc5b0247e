// tactus-tool parse: runs received lines through the driver's reply parser, so an
// integrator can try the reply formats of a machine file against captured replies.
//
//   tactus-tool parse --formats 'LIST' [--scales SX,SY,SZ,SW] [--reverse] [--vector-divide]
//
// Reads one message per line from stdin (the line ending stays part of the message,
// as the channel delivers it) and prints one line per message (docs/reply-formats.md).
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "driver/comm/parser/XYZParser.h"
#include "tools/Command.h"
#include "tools/CommandLine.h"

namespace {

constexpr char kUsage[] =
    "parse --formats 'LIST' [--scales SX,SY,SZ,SW] [--reverse] [--vector-divide]";

// Four comma-separated numbers, in the "C" notation whatever the locale.
bool ReadScales(const std::string& text, double (&scales)[4]) {
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int n = 0; n < 4; ++n) {
        auto [next, ec] = std::from_chars(p, end, scales[n]);
        if (ec != std::errc() || (n < 3 ? next == end || *next != ',' : next != end))
            return false;
        p = next + 1;
    }
    return true;
}

// Exception texts end in a line feed; the output has exactly one line per message.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

int Parse(const std::vector<std::string>& args) {
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Parses every line of standard input as one reply with the driver's own reply parser\n"
        "and prints one line per reply: 'hit=H complete=C status=S pos=X,Y,Z,W vec=I,J,K', or\n"
        "'error: TEXT' when the parser rejects it (a value that is not a finite number, say)."));
    const QCommandLineOption formatsOption(
        QStringLiteral("formats"),
        QStringLiteral("The reply format list as the machine file gives it to the parser: "
                       "double-quoted formats separated by commas, hit formats first."),
        QStringLiteral("LIST"));
    const QCommandLineOption scalesOption(
        QStringLiteral("scales"),
        QStringLiteral("The ScaleX, ScaleY, ScaleZ and ScaleW divisors (default 1,1,1,1)."),
        QStringLiteral("SX,SY,SZ,SW"));
    const QCommandLineOption reverseOption(QStringLiteral("reverse"),
                                           QStringLiteral("Reverse the probe vector "
                                                          "(ReverseIJKVector)."));
    const QCommandLineOption divideOption(QStringLiteral("vector-divide"),
                                          QStringLiteral("Divide the vector by the position "
                                                         "(the parser's vector-divide mode)."));
    for (const QCommandLineOption* o :
         {&formatsOption, &scalesOption, &reverseOption, &divideOption})
        options.addOption(*o);
    if (const auto status = tool::ParseArguments(
            options, "parse", kUsage, args,
            QStringLiteral("Exit status: 0 when every line was read (rejected replies included), "
                           "1 when the format\nlist itself is rejected, 2 on bad arguments. "
                           "Formats: docs/reply-formats.md.")))
        return *status;
    if (!options.positionalArguments().isEmpty())
        return tool::UsageError(
            "parse", "unexpected argument '" + options.positionalArguments()[0] + "'", kUsage);
    if (!options.isSet(formatsOption))
        return tool::UsageError("parse", QStringLiteral("--formats is required"), kUsage);
    const std::string formats = options.value(formatsOption).toLocal8Bit().toStdString();
    double scales[4] = {1.0, 1.0, 1.0, 1.0};
    if (options.isSet(scalesOption) &&
        !ReadScales(options.value(scalesOption).toStdString(), scales))
        return tool::UsageError(
            "parse", "bad --scales '" + options.value(scalesOption) + "' (want SX,SY,SZ,SW)",
            kUsage);
    const bool reverse = options.isSet(reverseOption);
    const bool divide = options.isSet(divideOption);

    XYZParser parser;
    try {
        parser.SetReplyFormats(formats);
    } catch (const XYZParserException& e) {
        std::fprintf(stderr, "error: %s\n", OneLine(e.Text()).c_str());
        return 1;
    } catch (const FormatStringParserException& e) {
        std::fprintf(stderr, "error: %s\n", OneLine(e.Text()).c_str());
        return 1;
    }
    parser.SetScales(scales[0], scales[1], scales[2], scales[3]);
    parser.SetReverseVector(reverse);
    parser.SetVectorDivide(divide);

    std::string line;
    while (std::getline(std::cin, line)) {
        if (!std::cin.eof())
            line += '\n';
        try {
            parser.Parse(line);
            const auto pos = parser.GetParsedPosition();
            const auto vec = parser.GetParsedVector();
            std::printf("hit=%d complete=%d status=%d pos=%.6f,%.6f,%.6f,%.6f vec=%.6f,%.6f,%.6f\n",
                        parser.IsHit() ? 1 : 0, parser.IsComplete() ? 1 : 0, parser.GetStatus(),
                        pos[0], pos[1], pos[2], pos[3], vec[0], vec[1], vec[2]);
        } catch (const XYZParserException& e) {
            std::printf("error: %s\n", OneLine(e.Text()).c_str());
        } catch (const FormatStringParserException& e) {
            std::printf("error: %s\n", OneLine(e.Text()).c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}

const tool::ToolCommand kParseCommand("parse", {kUsage,
                                                "Parse reply lines from stdin with the driver's "
                                                "reply parser.",
                                                nullptr, Parse});

}  // namespace
