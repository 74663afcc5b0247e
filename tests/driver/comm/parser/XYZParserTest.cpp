// XYZParser: reply lists, the cases for each number of values, the hit and complete
// flags, vectors, scales and angles, multi-line replies, and the failure texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "driver/comm/parser/XYZParser.h"

namespace {

// The position server's two reply formats, as the machine file lists them.
const char kServerFormats[] = R"("( %lf %lf %lf %lf %lf %lf %lf ) %3c","( %lf %lf %lf %lf ) %3c")";

struct Expect {
    const char* message;
    bool hit;
    bool complete;
    std::array<double, 4> pos;
    std::array<double, 3> vec;
    int status = 0;
};

struct Scenario {
    const char* legend;
    const char* formats;
    std::vector<Expect> steps;
};

void Check(XYZParser& p, const Expect& e, const char* legend) {
    SCOPED_TRACE(std::string(legend) + ", message '" + e.message + "'");
    p.Parse(e.message);
    EXPECT_EQ(p.IsHit(), e.hit);
    EXPECT_EQ(p.IsComplete(), e.complete);
    EXPECT_EQ(p.GetStatus(), e.status);
    const auto pos = p.GetParsedPosition();
    const auto vec = p.GetParsedVector();
    for (int n = 0; n < 4; ++n) {
        if (std::isnan(e.pos[n]))
            EXPECT_TRUE(std::isnan(pos[n])) << "position " << n;
        else
            EXPECT_NEAR(pos[n], e.pos[n], 1e-12) << "position " << n;
    }
    for (int n = 0; n < 3; ++n)
        EXPECT_NEAR(vec[n], e.vec[n], 1e-12) << "vector " << n;
}

const double kThird = 1.0 / std::sqrt(3.0);
const double kLen = std::sqrt(0.25 + 1 + 1);

TEST(XYZParser, ParsesReplies) {
    const std::vector<Scenario> scenarios = {
        {"server position reply: complete, no hit",
         kServerFormats,
         {{"( 1.000000 2.000000 3.000000 4.000000 ) 235\r\n",
           false,
           true,
           {1, 2, 3, 4},
           {0, 0, 1}}}},
        {"server hit reply: hit with its vector, not complete",
         kServerFormats,
         {{"( 1.0 2.0 3.0 4.0 0.0 0.0 1.0 ) 237\r\n", true, false, {1, 2, 3, 4}, {0, 0, 1}}}},
        {"server codes 621 and 627 are complete, others not",
         kServerFormats,
         {{"( 1 2 3 4 ) 621\r\n", false, true, {1, 2, 3, 4}, {0, 0, 1}},
          {"( 1 2 3 4 ) 627\r\n", false, true, {1, 2, 3, 4}, {0, 0, 1}},
          {"( 1 2 3 4 ) 236\r\n", false, false, {1, 2, 3, 4}, {0, 0, 1}}}},
        {"hit then position: vector points from the new point to the previous one",
         R"("%lf %lf %lf HIT","%lf %lf %lf")",
         {{"10.5 20 30 HIT", true, true, {10.5, 20, 30, 0}, {0, 0, 1}},
          {"11 21 31", false, true, {11, 21, 31, 0}, {-0.5 / kLen, -1 / kLen, -1 / kLen}}}},
        {"a single format may report a hit",
         R"("%lf %lf %lf")",
         {{"1 2 3", true, true, {1, 2, 3, 0}, {0, 0, 1}}}},
        {"the last of several formats never reports a hit by itself",
         R"("%lf %lf %lf HIT","%lf %lf %lf")",
         {{"1 2 3", false, true, {1, 2, 3, 0}, {0, 0, 1}}}},
        {"... except through a status value",
         R"("HIT %lf %lf %lf","%d %lf %lf %lf")",
         {{"1 5 6 7", true, true, {5, 6, 7, 0}, {0, 0, 1}, 1}}},
        {"a word an earlier format read stays in the slot for the later ones",
         R"("%lf %lf %lf HIT","%lf %lf %lf")",
         {{"1 2 3 POS", false, false, {1, 2, 3, 0}, {0, 0, 1}}}},
        {"status 1 is a hit, status 0 a complete position",
         R"("%d %lf %lf %lf")",
         {{"1 5 6 7", true, true, {5, 6, 7, 0}, {0, 0, 1}, 1},
          {"0 5 6 7", false, true, {5, 6, 7, 0}, {0, 0, 1}, 0}}},
        {"integers give X, Y, Z and the vector (0, 0, 1)",
         R"("%d %d %d")",
         {{"4 -5 6", true, true, {4, -5, 6, 0}, {0, 0, 1}}}},
        {"integer status and vector",
         R"("%d %d %d %d %d %d %d")",
         {{"2 1 2 3 0 3 4", true, true, {1, 2, 3, 0}, {0, 0.6, 0.8}, 2}}},
        {"integer mixed with floats stores directly",
         R"("%lf %lf %lf %lf %lf %lf %3c")",
         {{"1 2 3 0 1 0 235", true, true, {1, 2, 3, 0}, {0, 1, 0}}}},
        {"status with floats and a code",
         R"("%d %lf %lf %lf %3c")",
         {{"0 1 2 3 627", true, true, {1, 2, 3, 0}, {0, 0, 1}, 0}}},
        {"X=, Y=, Z= on three lines parse at the third",
         R"("X=%lf\nY=%lf\nZ=%lf")",
         {{"X=1", false, false, {1, 0, 0, 0}, {0, 0, 1}},
          {"Y=2", false, false, {1, 2, 0, 0}, {0, 0, 1}},
          {"Z=3", true, true, {1, 2, 3, 0}, {0, 0, 1}},
          {"X=7", false, false, {7, 0, 0, 0}, {0, 0, 1}}}},
        {"a stray line goes once the lines outnumber the format's, so the next reply parses",
         R"("X=%lf\nY=%lf\nZ=%lf")",
         {{"junk\r\n", false, false, {0, 0, 0, 0}, {0, 0, 1}},
          {"X=1\r\n", false, false, {0, 0, 0, 0}, {0, 0, 1}},
          {"Y=2\r\n", false, false, {0, 0, 0, 0}, {0, 0, 1}},
          {"Z=3\r\n", true, true, {1, 2, 3, 0}, {0, 0, 1}}}},
        {"angles below 0 wrap into [0, 360)",
         kServerFormats,
         {{"( 0 0 0 -90 ) 235", false, true, {0, 0, 0, 270}, {0, 0, 1}},
          {"( 0 0 0 -450 ) 235", false, true, {0, 0, 0, 270}, {0, 0, 1}},
          {"( 0 0 0 725 ) 235", false, true, {0, 0, 0, 725}, {0, 0, 1}}}},
        {"a huge negative angle ends instead of looping",
         kServerFormats,
         {{"( 0 0 0 -1e20 ) 235", false, true, {0, 0, 0, 80}, {0, 0, 1}},
          {"( 0 0 0 -360 ) 235", false, true, {0, 0, 0, 0}, {0, 0, 1}}}},
        {"a vector of length 0 or not a number points along Z",
         R"("%lf %lf %lf %lf %lf %lf")",
         {{"1 2 3 0 0 0", true, true, {1, 2, 3, 0}, {0, 0, 1}},
          {"1 2 3 1.5e308 1.5e308 1.5e308", true, true, {1, 2, 3, 0}, {0, 0, 1}},
          {"1 2 3 1e300 1e300 0", true, true, {1, 2, 3, 0}, {std::sqrt(0.5), std::sqrt(0.5), 0}}}},
        {"a message that fits no format keeps what the last scan stored",
         R"("%lf %lf %lf HIT","%lf %lf %lf")",
         {{"7 8 junk", false, false, {7, 8, 0, 0}, {0, 0, 1}}}},
        {"one-value formats fill X, Y, Z, W, I, J, K and the fourth component in list order",
         R"("%lf %*lf","%*lf %lf","%*lf %*lf %lf","%*lf %*lf %*lf %lf","%*lf %*lf %*lf %*lf %lf",
            "%*lf %*lf %*lf %*lf %*lf %lf","%*lf %*lf %*lf %*lf %*lf %*lf %lf",
            "%*lf %*lf %*lf %*lf %*lf %*lf %*lf %lf")",
         {{"1 2 3 4 0 3 4 -90", false, false, {1, 2, 3, 4}, {0, 0.6, 0.8}}}},
    };
    for (const Scenario& s : scenarios) {
        XYZParser p;
        p.SetReplyFormats(s.formats);
        for (const Expect& e : s.steps)
            Check(p, e, s.legend);
    }
    // The fourth vector component is an angle like W.
    XYZParser p;
    p.SetReplyFormats(scenarios.back().formats);
    p.Parse("1 2 3 4 0 3 4 -90");
    EXPECT_EQ(p.GetParsedVector()[3], 270);
}

TEST(XYZParser, ModesScalesAndUnits) {
    struct Case {
        const char* legend;
        std::array<double, 4> scales;
        double unit;
        bool reverse;
        bool divide;
        const char* formats;
        const char* message;
        std::array<double, 4> pos;
        std::array<double, 3> vec;
    };
    const Case cases[] = {
        {"scales divide X, Y, Z, W",
         {2, 4, 8, 10},
         25.4,
         false,
         false,
         kServerFormats,
         "( 2 4 8 90 ) 235",
         {1, 1, 1, 9},
         {0, 0, 1}},
        {"unit factor 1 turns millimetres into inches",
         {1, 1, 1, 1},
         1.0,
         false,
         false,
         kServerFormats,
         "( 25.4 50.8 -25.4 5 ) 235",
         {1, 2, -1, 5},
         {0, 0, 1}},
        {"reverse negates the vector",
         {1, 1, 1, 1},
         25.4,
         true,
         false,
         kServerFormats,
         "( 1 2 3 4 0 0.6 0.8 ) 237",
         {1, 2, 3, 4},
         {0, -0.6, -0.8}},
        {"vector divide uses the raw X, Y, Z",
         {10, 10, 10, 1},
         25.4,
         false,
         true,
         R"("%lf %lf %lf %lf %lf %lf")",
         "2 4 8 2 4 8",
         {0.2, 0.4, 0.8, 0},
         {kThird, kThird, kThird}},
    };
    for (const Case& c : cases) {
        XYZParser p;
        p.SetReplyFormats(c.formats);
        p.SetScales(c.scales[0], c.scales[1], c.scales[2], c.scales[3]);
        p.SetUnitFactor(c.unit);
        p.SetReverseVector(c.reverse);
        p.SetVectorDivide(c.divide);
        p.Parse(c.message);
        const auto pos = p.GetParsedPosition();
        const auto vec = p.GetParsedVector();
        for (int n = 0; n < 4; ++n)
            EXPECT_NEAR(pos[n], c.pos[n], 1e-12) << c.legend << ", position " << n;
        for (int n = 0; n < 3; ++n)
            EXPECT_NEAR(vec[n], c.vec[n], 1e-12) << c.legend << ", vector " << n;
    }
    XYZParser p;
    p.SetReplyFormats(kServerFormats);
    p.SetScale(2);
    p.Parse("( 2 2 2 2 ) 235");
    EXPECT_EQ(p.GetParsedPosition(), (std::array<double, 4>{1, 1, 1, 2}));
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const XYZParserException& e) {
        return e.Text();
    } catch (const FormatStringParserException& e) {
        return e.Text();
    }
    return "no exception";
}

const char kNotFiniteText[] = "XYZParserException: value not finite (nan, inf or out of range)\n";
TEST(XYZParser, FailureTexts) {
    struct Case {
        const char* legend;
        const char* formats;
        const char* message;  // nullptr: SetReplyFormats fails
        const char* text;
    };
    const Case cases[] = {
        {"empty message", R"("%lf %lf %lf")", "", "XYZParserException: input string empty\n"},
        {"no quoted format", "abcdefgh", "1 2 3", "XYZParserException: format string list empty\n"},
        {"empty format after the first", R"("%lf %lf %lf HIT","")", "1 2 3",
         "XYZParserException: format string empty\n"},
        {"six characters are too short", R"("%lf %lf %lf HIT","%lf%lf")", "1 2 3",
         "XYZParserException: format string too short\n"},
        {"two floats", R"("%lf %lf")", "1 2", "XYZParserException: number of floats parsed bad\n"},
        {"two integers", R"("%d ,  %d")", "1 2",
         "XYZParserException: number of integers parsed bad\n"},
        {"later format without a conversion", R"("%lf %lf %lf HIT","ABCDEFG")", "1 2 3",
         "FormatStringParserException: bad type in format string"},
        {"list text too small", R"("%d")", nullptr,
         "XYZParserException: Format string too small\n"},
        {"escaped quote never closes", "\"abc\\\"", nullptr,
         "XYZParserException: Format string not terminated\n"},
        {"pending backslash", R"("%lf %lf %lf" \)", nullptr,
         "XYZParserException: Format string not terminated\n"},
        {"first format is analysed at once", R"("%lf %s")", nullptr,
         "FormatStringParserException: bad type in format string"},
        {"nine one-value formats", R"("%lf mmm","%lf mmm","%lf mmm","%lf mmm",
            "%lf mmm","%lf mmm","%lf mmm","%lf mmm","%*s %lf")",
         nullptr, "XYZParserException: too many one-value formats (at most 8)\n"},
        {"nan in a position", kServerFormats, "( 1 nan 3 4 ) 235\r\n", kNotFiniteText},
        {"inf in a hit vector", kServerFormats, "( 1 2 3 4 0 inf 1 ) 237\r\n", kNotFiniteText},
        {"1e999 is beyond a double", kServerFormats, "( 1e999 2 3 4 ) 235\r\n", kNotFiniteText},
    };
    for (const Case& c : cases) {
        XYZParser p;
        if (!c.message) {
            EXPECT_EQ(ErrorOf([&] { p.SetReplyFormats(c.formats); }), c.text) << c.legend;
            continue;
        }
        p.SetReplyFormats(c.formats);
        EXPECT_EQ(ErrorOf([&] { p.Parse(c.message); }), c.text) << c.legend;
        EXPECT_FALSE(p.IsHit() || p.IsComplete()) << c.legend;
    }
}

TEST(XYZParser, UnfinishedReplyTextIsBounded) {
    // A failing configuration empties the pending text instead of growing it.
    XYZParser failing;
    failing.SetReplyFormats(R"("X=%lf\nY=%lf\nZ=%lf","%lf %lf")");
    for (int n = 0; n < 3; ++n) {
        EXPECT_NE(ErrorOf([&] { failing.Parse("X=1\r\n"); }), "no exception");
        EXPECT_EQ(failing.GetAccumulatedText(), "");
    }

    // Lines that never complete a multi-line reply stay within one message's worth.
    XYZParser waiting;
    waiting.SetReplyFormats(R"("X=%lf\nY=%lf\nZ=%lf")");
    const std::string line = "X=1 " + std::string(3000, '#') + "\r\n";
    for (int n = 0; n < 20; ++n) {
        waiting.Parse(line);
        EXPECT_LE(waiting.GetAccumulatedText().size(), XYZParser::kMaxAccumulatedText);
    }
    EXPECT_FALSE(waiting.IsComplete());
}

TEST(XYZParser, ValuesOfTheWrongTypeAreConverted) {
    struct Case {
        const char* legend;
        const char* formats;
        const char* message;
        bool hit;
        std::array<double, 3> xyz;
        int status;
    };
    const Case cases[] = {
        {"float conversions into doubles",
         R"("%f %f %f HIT")",
         "0.5 1.25 -2 HIT",
         true,
         {0.5, 1.25, -2},
         0},
        {"floating status is truncated", R"("%lf %lf %lf %lf")", "9.7 1 2 3", true, {1, 2, 3}, 9},
        {"huge floating status is clamped",
         R"("%lf %lf %lf %lf")",
         "1e30 1 2 3",
         true,
         {1, 2, 3},
         2147483647},
        {"character status is its code", R"("%c %lf %lf %lf")", "A 1 2 3", true, {1, 2, 3}, 65},
        {"integer into X of a mixed format",
         R"("%d %d %lf %3c")",
         "1 2 3.5 235",
         true,
         {1, 2, 3.5},
         0},
        {"short integers", R"("%hd %hd %hd")", "70000 -1 2", true, {4464, -1, 2}, 0},
        {"eighth float goes to the slot as bytes",
         R"("%lf %lf %lf %lf %lf %lf %lf %lf")",
         "1 2 3 4 0 0 1 0.0",
         true,
         {1, 2, 3},
         0},
        {"trailing word longer than the slot is cut",
         R"("%lf %lf %lf HIT")",
         nullptr,
         false,
         {1, 2, 3},
         0},
    };
    for (const Case& c : cases) {
        XYZParser p;
        p.SetReplyFormats(c.formats);
        const std::string message =
            c.message ? c.message : "1 2 3 " + std::string(2000, 'H') + "\r\n";
        p.Parse(message);
        EXPECT_EQ(p.IsHit(), c.hit) << c.legend;
        EXPECT_EQ(p.GetStatus(), c.status) << c.legend;
        const auto pos = p.GetParsedPosition();
        for (int n = 0; n < 3; ++n)
            EXPECT_EQ(pos[n], c.xyz[n]) << c.legend << ", coordinate " << n;
    }
}

TEST(XYZParser, ListGrammars) {
    struct Case {
        const char* legend;
        const char* text;
        std::vector<std::string> replies;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        {"separators outside quotes are ignored",
         "\"%lf %lf %lf\" ,\r\n \"POS\"",
         {"%lf %lf %lf", "POS"},
         {"%lf %lf %lf", "POS"}},
        {"escapes stay in reply formats, commands decode them",
         R"("A\nB\r\0\5")",
         {R"(A\nB\r\0\5)"},
         {std::string("A\nB\r\0\5", 6)}},
        {"escaped quote: kept with its backslash, or dropped",
         R"("say \"hi" "x")",
         {R"(say \"hi)", "x"},
         {"say hi", "x"}},
        {"a backslash outside a string starts the next reply format",
         R"(\"%d %d %d")",
         {R"(\%d %d %d)"},
         {"%d %d %d"}},
    };
    for (const Case& c : cases) {
        XYZParser p;
        try {
            p.SetReplyFormats(c.text);
        } catch (const std::exception&) {
            // Formats that cannot be analysed are still listed.
        }
        EXPECT_EQ(p.GetReplyFormats(), c.replies) << c.legend;
        p.SetPositionCommands(c.text);
        EXPECT_EQ(p.GetPositionCommands(), c.commands) << c.legend;
    }
}

TEST(XYZParser, CommandListsAndFormatCount) {
    XYZParser p;
    EXPECT_TRUE(p.IsCommandListEmpty());
    p.SetPositionCommands(std::wstring(L"\"\""));
    EXPECT_TRUE(p.IsCommandListEmpty());
    p.SetPositionCommands(std::wstring(L"\"POS\u00e9\u4e2d\""));
    EXPECT_EQ(p.GetPositionCommands(), std::vector<std::string>{"POS\xe9?"});
    EXPECT_FALSE(p.IsCommandListEmpty());
    p.SetPositionCommands("");
    p.SetInitSequence(std::wstring(L"\"INIT\\r\""));
    EXPECT_EQ(p.GetInitSequence(), std::vector<std::string>{"INIT\r"});
    EXPECT_FALSE(p.IsCommandListEmpty());
    EXPECT_EQ(ErrorOf([&] { p.SetInitSequence("\"open"); }),
              "XYZParserException: Format string not terminated\n");

    struct Case {
        const char* legend;
        const char* formats;
        bool multiple;
    };
    const Case cases[] = {
        {"one format with five values", R"("%lf %lf %lf %lf %lf")", false},
        {"one format with six values", R"("%lf %lf %lf %lf %lf %lf")", true},
        {"two formats", R"("%lf %lf %lf HIT","%lf %lf %lf")", true},
    };
    for (const Case& c : cases) {
        XYZParser q;
        q.SetReplyFormats(std::wstring(c.formats, c.formats + std::strlen(c.formats)));
        EXPECT_EQ(q.HasMultipleFormats(), c.multiple) << c.legend;
    }
}

}  // namespace

namespace {

// Random single-format lists of three or six values, floating or integer, with
// widths, separators and a keyword: the position, hit and complete flags must be
// what the C library's sscanf into the same destinations gives.
TEST(XYZParser, ParsedValuesMatchTheCLibrary) {
    std::mt19937 rng(7001);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    static const char* const kSeparators[] = {" ", ",", " ; ", " Y=", "\t"};
    static const char* const kKeywords[] = {"", "", " HIT", " )", " mm"};
    static const char* const kReals[] = {"1.5", "-2", "+3e2",      "0x10", "-3.", ".5", "7.",
                                         "1e",  "-0", "12345.678", "1e9",  "x",   ""};
    static const char* const kInts[] = {"12",  "-7", "0x1f", "077",         "+5",
                                        "4.5", "ff", "-",    "99999999999", ""};
    for (int n = 0; n < 2000; ++n) {
        const bool floating = pick(0, 1) == 1;
        const int count = pick(0, 1) ? 3 : 6;
        std::string format, message;
        for (int k = 0; k < count; ++k) {
            if (k > 0) {
                const char* sep = kSeparators[pick(0, 4)];
                format += sep;
                message += pick(0, 9) ? sep : " ";
            }
            format += '%';
            if (pick(0, 3) == 0)
                format += std::to_string(pick(1, 6));
            format += floating ? (pick(0, 2) ? "lf" : "le") : std::string(1, "dixuo"[pick(0, 4)]);
            message += floating ? kReals[pick(0, 12)] : kInts[pick(0, 9)];
        }
        const std::string keyword = kKeywords[pick(0, 4)];
        format += keyword;
        if (pick(0, 3))
            message += keyword;
        else if (pick(0, 1))
            message += " HIT";

        FormatStringParser analysed;
        analysed.Parse(format);
        const std::string scan = analysed.GetScanFormat();
        double d[6] = {0, 0, 0, 0, 0, 0};
        int a[6] = {0, 0, 0, 0, 0, 1};
        char slot[256] = {};
        int r = 0;
        if (floating && count == 3)
            r = std::sscanf(message.c_str(), scan.c_str(), &d[0], &d[1], &d[2], slot);
        else if (floating)
            r = std::sscanf(message.c_str(), scan.c_str(), &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                            slot);
        else if (count == 3)
            r = std::sscanf(message.c_str(), scan.c_str(), &a[0], &a[1], &a[2], slot);
        else
            r = std::sscanf(message.c_str(), scan.c_str(), &a[0], &a[1], &a[2], &a[3], &a[4], &a[5],
                            slot);
        const bool word = analysed.GetTrailingLiteral() == slot;

        XYZParser p;
        p.SetReplyFormats('"' + format + '"');
        p.Parse(message);
        const auto pos = p.GetParsedPosition();
        const std::string where = "format '" + format + "' message '" + message + "'";
        for (int k = 0; k < 3; ++k) {
            const double want = floating ? d[k] : a[k];
            if (std::isnan(want))
                EXPECT_TRUE(std::isnan(pos[k])) << where;
            else
                EXPECT_EQ(pos[k], want) << where << ", coordinate " << k;
        }
        EXPECT_EQ(p.IsHit(), r >= 3 && word) << where;
        EXPECT_EQ(p.IsComplete(), r >= 3 && word) << where;
        EXPECT_EQ(p.HasVector(), r >= 6) << where;
        if (::testing::Test::HasFailure())
            break;
    }
}

}  // namespace
