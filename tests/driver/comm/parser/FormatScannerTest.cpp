// The reply scanner against the C library's sscanf: for formats whose conversions
// suit their destinations both must store the same values and return the same count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver/comm/parser/FormatScanner.h"

namespace {

using Value = FormatScanner::Value;

// What sscanf stores through one argument: its type and byte size.
struct ArgType {
    Value::Type type;
    int size;
    bool terminated;  // %s
};

// Argument types of a well-typed format, derived from its conversions.
std::vector<ArgType> ArgTypes(const std::string& format) {
    std::vector<ArgType> out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        ++i;
        if (format[i] == '%')
            continue;
        bool suppress = format[i] == '*';
        if (suppress)
            ++i;
        while (std::isdigit(static_cast<unsigned char>(format[i])))
            ++i;
        std::string size;
        while (std::strchr("hlL", format[i]))
            size += format[i++];
        const char letter = format[i];
        if (suppress)
            continue;
        if (std::strchr("cs", letter)) {
            out.push_back({Value::Type::Text, 0, letter == 's'});
        } else if (std::strchr("eEfgG", letter)) {
            const int bytes = size == "l" ? 8 : (size == "L" || size == "ll") ? 16 : 4;
            out.push_back({Value::Type::Floating, bytes, false});
        } else {
            const int bytes = size == "hh" ? 1 : size == "h" ? 2 : size.empty() ? 4 : 8;
            const bool isSigned = std::strchr("din", letter) != nullptr;
            out.push_back({isSigned ? Value::Type::Signed : Value::Type::Unsigned, bytes, false});
        }
    }
    return out;
}

// Storage for one sscanf argument, pre-filled so that untouched bytes show.
struct alignas(16) Cell {
    unsigned char bytes[512];
};
constexpr unsigned char kFill = 0xA5;
constexpr int kCells = 12;

template <typename T>
T Read(const Cell& c) {
    T v;
    std::memcpy(&v, c.bytes, sizeof v);
    return v;
}

bool SameReal(long double a, long double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

// Runs both scanners; returns an empty string when they agree, else what differs.
std::string Compare(const std::string& format, const std::string& input) {
    std::vector<Cell> cells(kCells);
    for (Cell& c : cells)
        std::memset(c.bytes, kFill, sizeof c.bytes);
    void* p[kCells];
    for (int i = 0; i < kCells; ++i)
        p[i] = cells[i].bytes;
    const int expected = std::sscanf(input.c_str(), format.c_str(), p[0], p[1], p[2], p[3], p[4],
                                     p[5], p[6], p[7], p[8], p[9], p[10], p[11]);
    std::vector<Value> values;
    const int got = FormatScanner(format).Scan(input, values);

    const std::vector<ArgType> types = ArgTypes(format);
    if (got != expected)
        return "returned " + std::to_string(got) + ", sscanf " + std::to_string(expected);
    for (std::size_t k = 0; k < types.size(); ++k) {
        const Cell& cell = cells[k];
        const bool written = cell.bytes[0] != kFill || cell.bytes[1] != kFill;
        if (k >= values.size()) {
            if (written && types[k].type != Value::Type::Text)
                return "value " + std::to_string(k) + " missing";
            if (types[k].type == Value::Type::Text && cell.bytes[0] != kFill)
                return "text " + std::to_string(k) + " missing";
            continue;
        }
        const Value& v = values[k];
        const std::string at = "value " + std::to_string(k) + ": ";
        if (v.type != types[k].type)
            return at + "type";
        switch (v.type) {
            case Value::Type::Text: {
                if (std::memcmp(cell.bytes, v.text.data(), v.text.size()) != 0)
                    return at + "text '" + v.text + "'";
                const unsigned char after = cell.bytes[v.text.size()];
                if (types[k].terminated ? after != 0 : after != kFill)
                    return at + "text length";
                break;
            }
            case Value::Type::Floating: {
                if (v.size != types[k].size &&
                    !(types[k].size == 16 && v.size == sizeof(long double)))
                    return at + "size";
                const long double c = v.size == 4   ? Read<float>(cell)
                                      : v.size == 8 ? Read<double>(cell)
                                                    : Read<long double>(cell);
                if (!SameReal(c, v.real))
                    return at + "real";
                break;
            }
            case Value::Type::Signed:
            case Value::Type::Unsigned: {
                if (v.size != types[k].size)
                    return at + "size";
                long long c = 0;
                switch (v.size) {
                    case 1:
                        c = Read<signed char>(cell);
                        break;
                    case 2:
                        c = Read<short>(cell);
                        break;
                    case 4:
                        c = Read<int>(cell);
                        break;
                    default:
                        c = Read<long long>(cell);
                        break;
                }
                const long long mine =
                    v.type == Value::Type::Signed ? v.sint : static_cast<long long>(v.uint);
                const int shift = 64 - 8 * v.size;
                // Compare the stored bits: unsigned results are zero-extended here.
                if ((static_cast<unsigned long long>(c) << shift) !=
                    (static_cast<unsigned long long>(mine) << shift))
                    return at + "integer " + std::to_string(mine) + " vs " + std::to_string(c);
                break;
            }
        }
    }
    return {};
}

struct Row {
    const char* legend;
    const char* format;
    std::string input;
};

// Corners of C's number reading that a scanner written by hand easily gets wrong.
const Row kCorners[] = {
    {"width cuts a number, the rest is the next field", "%1d%d", "05"},
    {"0x consumed by %x although no digit follows", "%x%c", "0xg"},
    {"%i with a bare 0x prefix reads 0", "%i%c", "0x"},
    {"width counts the 0x prefix", "%2x%d", "0x5"},
    {"octal %i stops at 8", "%i%d", "0128"},
    {"exponent sign without digits is consumed", "%lf%s", "1e+x"},
    {"exponent letter without digits is consumed", "%lf%s", "1ex"},
    {"second exponent sign ends the number", "%lf%s", "1e-+5"},
    {"point after exponent ends the number", "%lf%s", "1e5.3"},
    {"%c with a width longer than the input", "%3c%n", "23"},
    {"hexadecimal float", "%lf%s", "0x1.8p3"},
    {"hexadecimal float, capitals and negative exponent", "%lf", "0X1P-2"},
    {"hexadecimal prefix without digits fails", "%lf%s", "0x"},
    {"hexadecimal prefix and point read as 0", "%lf%s", "0x.p"},
    {"lone point fails", "%lf%s", "."},
    {"lone sign fails", "%lf", "+"},
    {"sign fills the width", "%1lf%s", "-5"},
    {"leading point", "%lf%s", "-.5"},
    {"inf followed by other text", "%lf%s", "infx"},
    {"infinity cut by the width fails", "%7lf%s", "infinity"},
    {"infinity exactly in the width", "%8lf%s", "INFINITY"},
    {"nan stops before the parenthesis", "%lf%s", "nan(12)"},
    {"signed nan", "%lf", "-nan"},
    {"width ends after 0 of 0x", "%2lf%s", "0x5"},
    {"width ends in a hexadecimal float", "%3lf%s", "0x1p3"},
    {"float, double and long double", "%f %lf %Lf", "0.1 0.1 0.1"},
    {"overflow and underflow", "%lf %lf %f", "1e400 1e-400 1e-50"},
    {"%n does not count and does not skip blanks", "%lf%n %n", "1  x"},
    {"%n before an input failure", "%n%d", ""},
    {"suppressed conversion then end of input", "%*d%d", "5"},
    {"empty input", "%d", ""},
    {"blank input", " %lf", "   \t\r\n"},
    {"literal at the end of input", "%d,%d", "5"},
    {"literal mismatch", "%d,%d", "5;6"},
    {"%% skips blanks before the percent sign", "%d%%%d", "5 % 6"},
    {"%s stops at a blank, width limits it", "%3s%s %c", "abcdef gh"},
    {"%c does not skip blanks", "%d%c%c", "1 x"},
    {"width 0 means no width", "%0d%s", "12345"},
    {"%u of a negative number", "%u", "-1"},
    {"int overflow keeps the low bits of the long", "%d %d", "99999999999 99999999999999999999"},
    {"unsigned overflow", "%u %lu", "99999999999999999999 -99999999999999999999"},
    {"short and char sizes", "%hd %hhd %hu %hhx", "70000 300 -1 1ff"},
    {"long long sizes", "%lld %llx %ld", "-9223372036854775808 ffffffffffffffff 12"},
    {"all floating letters", "%le %lE %lg %lG %lf", "1 2e3 -3.5 4E-1 .5"},
    {"position server reply", "( %lf %lf %lf %lf ) %3c",
     "( 1.000000 2.000000 3.000000 4.000000 ) 235\r\n"},
    {"position server hit", "( %lf %lf %lf %lf %lf %lf %lf ) %3c",
     "( 1.0 2.0 3.0 4.0 0.0 0.0 1.0 ) 237\r\n"},
    {"position reply tried with the hit format", "( %lf %lf %lf %lf %lf %lf %lf ) %3c",
     "( 1 2 3 4 ) 235\r\n"},
    {"input ends at a zero byte", "%d %d", std::string("12\0 34", 6)},
};

TEST(FormatScanner, CornersMatchTheCLibrary) {
    for (const Row& row : kCorners)
        EXPECT_EQ(Compare(row.format, row.input), "") << row.legend << ": '" << row.format << "'";
}

// Random formats of floating and integer conversions, literals, widths and blanks,
// with messages that mostly follow them; every one must scan as sscanf scans it.
class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    void Make(std::string& format, std::string& input) {
        format.clear();
        input.clear();
        const int items = Pick(1, 7);
        for (int n = 0; n < items; ++n) {
            Separator(format, input, n == 0);
            Conversion(format, input);
        }
        if (Chance(30))
            Separator(format, input, false);
        if (Chance(10) && !input.empty())
            input.resize(Pick(0, static_cast<int>(input.size()) - 1));
        if (Chance(5))
            input += Pool(kNoise);
    }

  private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(int percent) { return Pick(0, 99) < percent; }
    template <std::size_t N>
    const char* Pool(const char* const (&pool)[N]) {
        return pool[Pick(0, N - 1)];
    }

    void Separator(std::string& format, std::string& input, bool first) {
        static const char* const kLiterals[] = {",", ";", " ) ", "X=", "\t", "( ", ":", "HIT "};
        const int kind = Pick(0, 9);
        if (kind < 2 && !first) {
            return;  // conversions back to back
        } else if (kind < 7) {
            format += ' ';
            input += Pool(kBlanks);
        } else {
            const std::string lit = Pool(kLiterals);
            format += lit;
            input += Chance(90) ? lit : std::string(Pool(kNoise));
        }
        if (Chance(20))
            input += Pool(kBlanks);
    }

    void Conversion(std::string& format, std::string& input) {
        static const char* const kFloating[] = {"lf", "lf", "lf", "le", "lg", "lE",
                                                "lG", "f",  "e",  "g",  "Lf", "Lg"};
        static const char* const kInteger[] = {"d",  "d",  "d",   "i",   "u",  "x",  "o",
                                               "hd", "ld", "lld", "hhd", "hu", "lx", "li"};
        std::string directive = "%";
        if (Chance(10))
            directive += '*';
        const int kind = Pick(0, 99);
        const bool widthAllowed = Chance(30);
        std::string letters;
        if (kind < 45) {
            letters = Pool(kFloating);
            input += RealText();
        } else if (kind < 80) {
            letters = Pool(kInteger);
            input += IntegerText(letters.back());
        } else if (kind < 87) {
            letters = "c";
            input += Word();
        } else if (kind < 94) {
            letters = "s";
            input += Word();
        } else {
            letters = "n";
        }
        if (widthAllowed && letters != "n")
            directive += std::to_string(Pick(1, letters == "c" ? 4 : 12));
        format += directive + letters;
    }

    std::string RealText() {
        static const char* const kSpecial[] = {
            "inf", "-inf",  "INFINITY",  "nan",  "-NaN", ".5",    "5.",    "1e",     "1e+",
            "0x",  "0x1p3", "-0x1.8P-1", "-",    "+",    ".",     "1e400", "1e-400", "0",
            "-0",  "007",   "1.5e-3",    "0x.8", "+2.5", "1e5.3", "3e+x",  "0.1",    "1e-45"};
        if (Chance(25))
            return Pool(kSpecial);
        std::string s;
        if (Chance(30))
            s += Chance(50) ? "-" : "+";
        s += std::to_string(Pick(0, 99999));
        if (Chance(70)) {
            s += '.';
            const int digits = Pick(0, 9);
            for (int i = 0; i < digits; ++i)
                s += static_cast<char>('0' + Pick(0, 9));
        }
        if (Chance(20))
            s += (Chance(50) ? "e" : "E") + std::to_string(Pick(-40, 40));
        return s;
    }

    std::string IntegerText(char letter) {
        static const char* const kSpecial[] = {
            "0x1F", "0X",  "-0x10",       "08",          "077",
            "+",    "-",   "0",           "-0",          "ff",
            "1e3",  "4.5", "99999999999", "-2147483649", "18446744073709551617"};
        if (Chance(25))
            return Pool(kSpecial);
        std::string s;
        if (Chance(25))
            s += Chance(50) ? "-" : "+";
        if (letter == 'x' && Chance(30))
            s += "0x";
        s += std::to_string(Pick(0, 2000000));
        return s;
    }

    std::string Word() {
        static const char* const kWords[] = {"235", "HIT", "mm", "A", "abc", "621", "x1", "OK"};
        return Pool(kWords);
    }

    static constexpr const char* const kBlanks[] = {"", " ", "  ", "\t", "\r\n", " \n "};
    static constexpr const char* const kNoise[] = {"?", "x", "7", "-", ".", " ", "%"};
    std::mt19937 rng_;
};

TEST(FormatScanner, RandomWellTypedFormatsMatchTheCLibrary) {
    Generator generator(20240611);
    std::string format, input;
    int failures = 0;
    for (int n = 0; n < 5000 && failures < 10; ++n) {
        generator.Make(format, input);
        const std::string diff = Compare(format, input);
        if (!diff.empty()) {
            ++failures;
            ADD_FAILURE() << "case " << n << ": format '" << format << "' input '" << input
                          << "': " << diff;
        }
    }
}

// Behaviour that deliberately differs from the C library or has no counterpart there.
TEST(FormatScanner, DirectivesOutsideTheReplyNotation) {
    struct Case {
        const char* legend;
        const char* format;
        const char* input;
        int result;
        int values;
    };
    const Case cases[] = {
        {"printf precision is no input notation and ends the scan", "%d %5.3lf", "1 2.5", 1, 1},
        {"conversion letters reply formats do not use end the scan", "%d %X", "1 ff", 1, 1},
        {"a lone % at the end ends the scan", "%d %", "1 2", 1, 1},
        {"scan sets end the scan", "%d %[0-9]", "1 2", 1, 1},
        {"I64 is a size, not a width", "%I64d %I32d %Id", "123456789012 5 6", 3, 3},
        {"wide conversions read bytes", "%S %C", "abc d", 2, 2},
        {"width that overflows an int means no useful limit", "%99999999999d", "42", 1, 1},
    };
    for (const Case& c : cases) {
        std::vector<Value> values;
        EXPECT_EQ(FormatScanner(c.format).Scan(c.input, values), c.result) << c.legend;
        EXPECT_EQ(static_cast<int>(values.size()), c.values) << c.legend;
    }
    std::vector<Value> values;
    FormatScanner("%I64d %S").Scan("123456789012 abc", values);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].sint, 123456789012LL);
    EXPECT_EQ(values[0].size, 8);
    EXPECT_EQ(values[1].text, "abc");
}

TEST(FormatScanner, ReportsWhereTheTrailingWordLands) {
    EXPECT_EQ(FormatScanner("( HIT %lf %lf %lf %s").LastArgumentIndex(), 3);
    EXPECT_EQ(FormatScanner("%*d %lf %*s").LastArgumentIndex(), -1);
    EXPECT_EQ(FormatScanner("%*d %lf %n").ArgumentCount(), 2);
}

}  // namespace
