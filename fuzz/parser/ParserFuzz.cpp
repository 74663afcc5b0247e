// Fuzz target for the reply parser: a format list and the messages parsed with it.
//
// Input: LIST '\0' MESSAGES. The list is given to SetReplyFormats (and, as command
// lists, to SetInitSequence and SetPositionCommands); MESSAGES is cut into lines that
// keep their line feed, as the channel delivers them, and each is parsed in turn.
// The list text is also analysed as one format and scanned over the messages
// directly, and, when it uses numeric conversions only, compared with the C
// library's sscanf. Only the parser's own exceptions may come out; anything else,
// any memory error and any difference from sscanf is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "driver/comm/parser/FormatScanner.h"
#include "driver/comm/parser/FormatStringParser.h"
#include "driver/comm/parser/XYZParser.h"

namespace {

// Argument of a numeric conversion as the C library stores it.
struct Arg {
    char kind;  // 'i' signed, 'u' unsigned, 'f' floating
    int size;
};

// The numeric arguments of `format` when it uses only conversions whose C result
// can be compared (no text, no sizes outside C), at most 10 of them; else false.
bool NumericArgs(const std::string& format, std::vector<Arg>& args) {
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '\0')
            return false;
        if (format[i] != '%')
            continue;
        if (++i < format.size() && format[i] == '%')
            continue;
        const bool suppress = i < format.size() && format[i] == '*';
        if (suppress)
            ++i;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9')
            ++i;
        std::string size;
        while (i < format.size() && (format[i] == 'h' || format[i] == 'l' || format[i] == 'L'))
            size += format[i++];
        if (i >= format.size() || !(size.empty() || size == "h" || size == "hh" || size == "l" ||
                                    size == "ll" || size == "L"))
            return false;
        const char c = format[i];
        Arg a{};
        if (c == 'd' || c == 'i' || c == 'n' || c == 'o' || c == 'u' || c == 'x') {
            a.kind = (c == 'd' || c == 'i' || c == 'n') ? 'i' : 'u';
            a.size = size == "hh" ? 1 : size == "h" ? 2 : size.empty() ? 4 : 8;
        } else if (c == 'e' || c == 'E' || c == 'f' || c == 'g' || c == 'G') {
            a.kind = 'f';
            a.size = size.empty() || size[0] == 'h' ? 4 : size == "l" ? 8 : 16;
        } else {
            return false;
        }
        if (!suppress)
            args.push_back(a);
    }
    return args.size() <= 10;
}

template <typename T>
T Cell(const unsigned char* cell) {
    T v;
    std::memcpy(&v, cell, sizeof v);
    return v;
}

// For formats the C library reads the same way, the scanner must store what sscanf
// stores and return what it returns.
void CompareWithCLibrary(const std::string& format, const std::string& input) {
    std::vector<Arg> args;
    if (!NumericArgs(format, args))
        return;
    alignas(16) unsigned char cells[10][32];
    std::memset(cells, 0xA5, sizeof cells);
    const int expected =
        std::sscanf(input.c_str(), format.c_str(), cells[0], cells[1], cells[2], cells[3], cells[4],
                    cells[5], cells[6], cells[7], cells[8], cells[9]);
    std::vector<FormatScanner::Value> values;
    if (FormatScanner(format).Scan(input, values) != expected || values.size() > args.size())
        __builtin_trap();
    for (std::size_t k = 0; k < values.size(); ++k) {
        const FormatScanner::Value& v = values[k];
        const unsigned char* cell = cells[k];
        if (args[k].kind == 'f') {
            const long double c = args[k].size == 4   ? Cell<float>(cell)
                                  : args[k].size == 8 ? Cell<double>(cell)
                                                      : Cell<long double>(cell);
            if (!(c == v.real || (std::isnan(c) && std::isnan(v.real))))
                __builtin_trap();
        } else {
            unsigned long long c = 0;
            std::memcpy(&c, cell, args[k].size);
            const unsigned long long mine = v.type == FormatScanner::Value::Type::Signed
                                                ? static_cast<unsigned long long>(v.sint)
                                                : v.uint;
            const int shift = 64 - 8 * args[k].size;
            if ((c << shift) != (mine << shift))
                __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t split = all.find('\0');
    const std::string list(all.substr(0, split));
    const std::string messages(split == std::string_view::npos ? std::string_view()
                                                               : all.substr(split + 1));

    FormatStringParser format;
    try {
        format.Parse(list);
    } catch (const FormatStringParserException&) {
    }
    std::vector<FormatScanner::Value> values;
    FormatScanner(list).Scan(messages, values);
    CompareWithCLibrary(list, messages);

    XYZParser parser;
    parser.SetReverseVector(size & 1);
    parser.SetVectorDivide(size & 2);
    parser.SetScales(1.0, 2.0, 0.5, 1.0);
    try {
        parser.SetInitSequence(list);
        parser.SetPositionCommands(list);
    } catch (const XYZParserException&) {
    }
    try {
        parser.SetReplyFormats(list);
    } catch (const XYZParserException&) {
    } catch (const FormatStringParserException&) {
    }
    (void)parser.IsCommandListEmpty();
    (void)parser.HasMultipleFormats();

    std::size_t start = 0;
    while (start < messages.size()) {
        std::size_t end = messages.find('\n', start);
        end = end == std::string::npos ? messages.size() : end + 1;
        try {
            parser.Parse(messages.substr(start, end - start));
        } catch (const XYZParserException&) {
        } catch (const FormatStringParserException&) {
        }
        const auto pos = parser.GetParsedPosition();
        const auto vec = parser.GetParsedVector();
        volatile double sink = pos[0] + pos[3] + vec[0] + vec[3];
        (void)sink;
        if (parser.GetAccumulatedText().size() > XYZParser::kMaxAccumulatedText)
            __builtin_trap();
        start = end;
    }
    return 0;
}
