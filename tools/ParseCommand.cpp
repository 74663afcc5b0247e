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

namespace {

const char kUsage[] = "parse --formats 'LIST' [--scales SX,SY,SZ,SW] [--reverse] [--vector-divide]";

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
    std::string formats;
    bool haveFormats = false;
    double scales[4] = {1.0, 1.0, 1.0, 1.0};
    bool reverse = false;
    bool divide = false;
    for (std::size_t n = 0; n < args.size(); ++n) {
        const std::string& a = args[n];
        if (a == "--formats" && n + 1 < args.size()) {
            formats = args[++n];
            haveFormats = true;
        } else if (a == "--scales" && n + 1 < args.size()) {
            if (!ReadScales(args[++n], scales)) {
                std::fprintf(stderr, "tactus-tool parse: bad --scales '%s' (want SX,SY,SZ,SW)\n",
                             args[n].c_str());
                return 2;
            }
        } else if (a == "--reverse") {
            reverse = true;
        } else if (a == "--vector-divide") {
            divide = true;
        } else {
            std::fprintf(stderr,
                         "tactus-tool parse: unexpected argument '%s'\nusage: tactus-tool %s\n",
                         a.c_str(), kUsage);
            return 2;
        }
    }
    if (!haveFormats) {
        std::fprintf(stderr, "usage: tactus-tool %s\n", kUsage);
        return 2;
    }

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

const tool::ToolCommand kParseCommand("parse", kUsage, Parse);

}  // namespace
