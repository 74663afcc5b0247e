// Motion script parser: script texts to steps, and malformed scripts to the line at fault.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/MotionScript.h"

namespace vexsim {
namespace {

Step Move(double x, double y, double z, double w, double speed, int line) {
    return Step{StepKind::Move, Pose{x, y, z, w}, speed, 0.0, line};
}
Step Touch(double x, double y, double z, double w, double speed, double hold, int line) {
    return Step{StepKind::Touch, Pose{x, y, z, w}, speed, hold, line};
}
Step Pause(double seconds, int line) {
    return Step{StepKind::Pause, {}, 0.0, seconds, line};
}

struct GoodRow {
    const char* legend;
    const char* text;
    Pose start;
    std::optional<CardScale> scale;
    std::vector<Step> steps;
    bool repeat;
};

TEST(MotionScriptTest, ParsesWellFormedScripts) {
    const GoodRow rows[] = {
        {"empty text: probe stands at the origin", "", {}, std::nullopt, {}, false},
        {"only comments and blank lines", "# a\n\n   # b\r\n\t\n", {}, std::nullopt, {}, false},
        {"every command, comments after values, CRLF line ends",
         "start 1 2 3 4  # here\r\nscale 100 200 50 3600\r\nmove 1 2 13 4 5\r\n"
         "touch 1 2 3 4 10\r\npause 0.5\r\nrepeat\r\n",
         {1, 2, 3, 4},
         CardScale{100, 200, 50, 3600},
         {Move(1, 2, 13, 4, 5, 3), Touch(1, 2, 3, 4, 10, kDefaultHoldSeconds, 4), Pause(0.5, 5)},
         true},
        {"hold applies to the touches after it; a sixth value overrides it for one touch",
         "touch 0 0 -1 0 1\nhold 0.4\ntouch 0 0 -2 0 1\ntouch 0 0 -3 0 1 0.1\n",
         {},
         std::nullopt,
         {Touch(0, 0, -1, 0, 1, kDefaultHoldSeconds, 1), Touch(0, 0, -2, 0, 1, 0.4, 3),
          Touch(0, 0, -3, 0, 1, 0.1, 4)},
         false},
        {"upper-case words, tabs, signs and exponents; scale may follow the steps",
         "MOVE\t+1.5e1 -2 0 0 2E1\nPause 0\nScale -50 50 50 360",
         {},
         CardScale{-50, 50, 50, 360},
         {Move(15, -2, 0, 0, 20, 1), Pause(0, 2)},
         false},
        {"byte order mark before the first line",
         "\xEF\xBB\xBFpause 1\n",
         {},
         std::nullopt,
         {Pause(1, 1)},
         false},
        {"coordinates at the limit",
         "move 1000000 -1000000 0 1000000 1",
         {},
         std::nullopt,
         {Move(1e6, -1e6, 0, 1e6, 1, 1)},
         false},
    };
    for (const GoodRow& row : rows) {
        SCOPED_TRACE(row.legend);
        const ParseResult result = ParseMotionScript(row.text);
        ASSERT_FALSE(result.error) << result.error->line << ": " << result.error->message;
        EXPECT_EQ(result.script.start, row.start);
        EXPECT_EQ(result.script.scale, row.scale);
        EXPECT_EQ(result.script.steps, row.steps);
        EXPECT_EQ(result.script.repeat, row.repeat);
    }
}

struct BadRow {
    const char* legend;
    const char* text;
    int line;
    const char* message;  // part of the message
};

TEST(MotionScriptTest, NamesTheFaultyLine) {
    const BadRow rows[] = {
        {"unknown command, shown as written", "\n\nMOVE 0 0 0 0 1\nfly 1 2 3", 4,
         "unknown command 'fly'"},
        {"too few values", "move 1 2 3 4", 1, "move takes 5 values (x y z w speed), got 4"},
        {"too many values", "touch 1 2 3 4 5 6 7", 1, "got 7 values"},
        {"value with a comma", "pause 1,5", 1, "'1,5' is not a number"},
        {"trailing garbage", "pause 1s", 1, "'1s' is not a number"},
        {"infinity", "move inf 0 0 0 1", 1, "'inf' is not a number"},
        {"not a number", "move nan 0 0 0 1", 1, "'nan' is not a number"},
        {"double sign", "pause +-1", 1, "'+-1' is not a number"},
        {"zero speed", "move 0 0 1 0 0", 1, "speed must be greater than 0"},
        {"negative speed", "touch 0 0 1 0 -5", 1, "speed must be greater than 0"},
        {"zero hold on one touch", "touch 0 0 1 0 5 0", 1, "hold must be greater than 0"},
        {"zero hold line", "hold 0", 1, "hold must be greater than 0"},
        {"negative pause", "pause -1", 1, "pause must not be negative"},
        {"coordinate out of range", "start 0 0 0 1000000.5", 1, "within +-1000000"},
        {"fractional scale", "scale 50 50 50.5 360", 1, "whole, nonzero counts"},
        {"zero scale", "scale 0 50 50 360", 1, "whole, nonzero counts"},
        {"scale beyond 32 bits", "scale 50 50 50 3000000000", 1, "whole, nonzero counts"},
        {"start after a step", "pause 1\nstart 0 0 0 0", 2, "start must come before"},
        {"start twice", "start 0 0 0 0\nstart 1 1 1 1", 2, "start is given twice"},
        {"step after repeat", "pause 1\nrepeat\n# fine\npause 1", 4, "nothing may follow repeat"},
        {"repeat with values", "pause 1\nrepeat 3", 2, "repeat takes no values"},
        {"repeat of steps that take no time", "start 1 1 1 0\nmove 1 1 1 0 5\npause 0\nrepeat", 4,
         "repeat needs steps that take time"},
        {"repeat of nothing", "repeat", 1, "repeat needs steps that take time"},
        {"repeated passes start where the first ends, and there stand still",
         "move 0 0 5 0 5\nrepeat", 2, "repeat needs steps that take time"},
    };
    for (const BadRow& row : rows) {
        SCOPED_TRACE(row.legend);
        const ParseResult result = ParseMotionScript(row.text);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->line, row.line);
        EXPECT_NE(result.error->message.find(row.message), std::string::npos)
            << result.error->message;
    }
}

}  // namespace
}  // namespace vexsim
