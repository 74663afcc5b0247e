// Analysis of single reply formats: scan format, value count and class, the newline
// escape and the trailing keyword.
#include <gtest/gtest.h>

#include <string>

#include "driver/comm/parser/FormatStringParser.h"

namespace {

TEST(FormatStringParser, ConvertsFormats) {
    struct Case {
        const char* legend;
        const char* format;
        const char* scan;
        int count;
        int valueClass;
        bool newline;
        const char* literal;
    };
    const Case cases[] = {
        {"plain floats", "%lf %lf %lf", "%lf %lf %lf", 3, 3, false, ""},
        {"keyword before and after", "( HIT %lf %lf %lf )", "( HIT %lf %lf %lf %s", 3, 3, false,
         ")"},
        {"status then floats", "%d %lf %lf %lf", "%d %lf %lf %lf", 4, 3, false, ""},
        {"\\n becomes a blank", "X=%lf\\nY=%lf", "X=%lf Y=%lf", 2, 3, true, ""},
        {"unit keyword", "%lf mm", "%lf %s", 1, 3, false, "mm"},
        {"server reply ends in a code", "( %lf %lf %lf %lf ) %3c", "( %lf %lf %lf %lf ) %3c", 5, 1,
         false, ""},
        {"suppressed conversions do not count but set the class", "%*s %lf %lf %*d",
         "%*s %lf %lf %*d", 2, 4, false, ""},
        {"width and size count once", "%10lf %5hd", "%10lf %5hd", 2, 4, false, ""},
        {"unsigned class", "%d %u", "%d %u", 2, 5, false, ""},
        {"hexadecimal class", "%u %x", "%u %x", 2, 6, false, ""},
        {"Windows size prefix", "%I64d %d", "%I64d %d", 2, 4, false, ""},
        {"letters outside the set do not end a conversion", "%Xd %Fg", "%Xd %Fg", 2, 3, false, ""},
        {"\\r and \\t stay escapes", "%lf\\r\\t", "%lf\\r\\t", 1, 3, false, ""},
        {"keyword run broken by an escape is ordinary text", "%lf HIT\\n%lf", "%lf HIT %lf", 2, 3,
         true, ""},
        {"two blanks: the second opens the keyword", "%lf  mm", "%lf %s", 1, 3, false, " mm"},
    };
    for (const Case& c : cases) {
        FormatStringParser p;
        p.Parse(c.format);
        EXPECT_EQ(p.GetScanFormat(), c.scan) << c.legend;
        EXPECT_EQ(p.GetValueCount(), c.count) << c.legend;
        EXPECT_EQ(p.GetValueClass(), c.valueClass) << c.legend;
        EXPECT_EQ(p.HasNewline(), c.newline) << c.legend;
        EXPECT_EQ(p.GetTrailingLiteral(), c.literal) << c.legend;
    }
}

TEST(FormatStringParser, RejectsFormatsWithoutAUsableConversion) {
    struct Case {
        const char* legend;
        const char* format;
        const char* text;
    };
    const Case cases[] = {
        {"empty", "", "FormatStringParserException: format string empty"},
        {"no conversion", "ABCDEFG", "FormatStringParserException: bad type in format string"},
        {"ends in a string", "%lf %s", "FormatStringParserException: bad type in format string"},
        {"skipped word last", "%lf %lf %lf %*s",
         "FormatStringParserException: bad type in format string"},
    };
    for (const Case& c : cases) {
        FormatStringParser p;
        try {
            p.Parse(c.format);
            ADD_FAILURE() << c.legend << ": no exception";
        } catch (const FormatStringParserException& e) {
            EXPECT_EQ(e.Text(), c.text) << c.legend;
            EXPECT_STREQ(e.what(), c.text) << c.legend;
        }
    }
}

TEST(FormatStringParser, EachParseStartsAfresh) {
    FormatStringParser p;
    p.Parse("X=%lf\\nY=%lf HIT");
    p.Parse("%d %d %d");
    EXPECT_EQ(p.GetScanFormat(), "%d %d %d");
    EXPECT_EQ(p.GetValueCount(), 3);
    EXPECT_FALSE(p.HasNewline());
    EXPECT_EQ(p.GetTrailingLiteral(), "");
}

}  // namespace
