// Simulated machine: where the probe is at a given model time, when it touches, and the
// properties of the demo script the server's hit detection relies on.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/MachineModel.h"
#include "sim/ModelClock.h"
#include "sim/SimSession.h"

namespace vexsim {
namespace {

MachineModel ModelOf(const char* text) {
    const ParseResult parsed = ParseMotionScript(text);
    EXPECT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
    return MachineModel(parsed.script);
}

void ExpectPose(const Pose& actual, const Pose& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.z, expected.z, 1e-9);
    EXPECT_NEAR(actual.w, expected.w, 1e-9);
}

double Distance(const Pose& a, const Pose& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

constexpr char kOnePass[] =
    "start 0 0 0 0\n"
    "move 30 40 0 0 10\n"        // 50 mm in 5 s: [0, 5)
    "pause 1\n"                  // [5, 6)
    "touch 30 40 -10 0 5 0.5\n"  // 10 mm in 2 s, touch at 8, deflected [8, 8.5)
    "move 30 40 -10 90 30\n";    // 90 degrees at 30 deg/s: [8.5, 11.5)

TEST(MachineModelTest, FollowsTheScriptInTime) {
    const MachineModel model = ModelOf(kOnePass);
    struct Row {
        const char* legend;
        double t;
        Pose pose;
        bool deflected;
    };
    const Row rows[] = {
        {"a negative time counts as the start", -1.0, {0, 0, 0, 0}, false},
        {"NaN counts as the start", std::nan(""), {0, 0, 0, 0}, false},
        {"halfway along the first move", 2.5, {15, 20, 0, 0}, false},
        {"end of the move, pausing", 5.0, {30, 40, 0, 0}, false},
        {"still pausing", 5.99, {30, 40, 0, 0}, false},
        {"halfway through the approach", 7.0, {30, 40, -5, 0}, false},
        {"the touch moment: at the surface, deflected", 8.0, {30, 40, -10, 0}, true},
        {"just before the hold ends", 8.499, {30, 40, -10, 0}, true},
        {"hold over: released", 8.5, {30, 40, -10, 0}, false},
        {"rotary move governed by its 90 degrees", 10.0, {30, 40, -10, 45}, false},
        {"after the last step the probe stays put", 100.0, {30, 40, -10, 90}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const MachineModel::Sample s = model.At(row.t);
        ExpectPose(s.pose, row.pose);
        EXPECT_EQ(s.deflected, row.deflected);
    }
    EXPECT_EQ(model.TouchesBy(7.999), 0u);
    EXPECT_EQ(model.TouchesBy(8.0), 1u);
    EXPECT_EQ(model.TouchesBy(1e9), 1u) << "no repeat: one touch ever";
    EXPECT_DOUBLE_EQ(model.TouchNo(0).time, 8.0);
    ExpectPose(model.TouchNo(0).pose, {30, 40, -10, 0});
}

constexpr char kRepeating[] =
    "start 0 0 10 0\n"
    "touch 0 0 0 0 10\n"  // touch at 1, deflected [1, 1.25)
    "move 0 0 5 0 10\n"   // [1.25, 1.75); later passes start here at z 5 and last 1.25 s
    "repeat\n";

TEST(MachineModelTest, RepeatedPassesStartWhereTheFirstEnded) {
    const MachineModel model = ModelOf(kRepeating);
    struct Row {
        const char* legend;
        double t;
        Pose pose;
        bool deflected;
    };
    const Row rows[] = {
        {"first pass, approaching from z 10", 0.5, {0, 0, 5, 0}, false},
        {"second pass begins at z 5", 1.75, {0, 0, 5, 0}, false},
        {"second pass, approaching from z 5", 2.0, {0, 0, 2.5, 0}, false},
        {"second touch", 2.25, {0, 0, 0, 0}, true},
        {"eleventh pass, same phase as the second", 1.75 + 9 * 1.25 + 0.25, {0, 0, 2.5, 0}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const MachineModel::Sample s = model.At(row.t);
        ExpectPose(s.pose, row.pose);
        EXPECT_EQ(s.deflected, row.deflected);
    }
    EXPECT_DOUBLE_EQ(model.TouchNo(1).time, 2.25);
    EXPECT_DOUBLE_EQ(model.TouchNo(10).time, 1.75 + 9 * 1.25 + 0.5);
    // Counting and numbering touches agree at every touch moment, over many passes.
    for (uint64_t k = 0; k < 200; ++k) {
        const double t = model.TouchNo(k).time;
        ASSERT_EQ(model.TouchesBy(t), k + 1) << "touch " << k << " at " << t;
        ASSERT_EQ(model.TouchesBy(t - 1e-6), k) << "touch " << k << " at " << t;
        ASSERT_TRUE(model.At(t).deflected) << "touch " << k;
    }
}

TEST(MachineModelTest, DemoScriptProbesTheSphereAsTheServerNeeds) {
    const ParseResult parsed = ParseMotionScript(kDemoScript);
    ASSERT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
    ASSERT_TRUE(parsed.script.repeat);
    const MachineModel model(parsed.script);
    const Pose centre{200, 150, 50, 0};
    const uint64_t touches = 14;  // more than two passes
    for (uint64_t k = 0; k < touches; ++k) {
        SCOPED_TRACE("touch " + std::to_string(k));
        const MachineModel::Touch touch = model.TouchNo(k);
        EXPECT_NEAR(Distance(touch.pose, centre), 12.5, 1e-3) << "on the 25 mm sphere";
        // Straight approach along the surface normal for at least half a second, so the
        // history point the server uses (about 5 polls of 50 ms back) lies on it.
        const double nx = (touch.pose.x - centre.x) / 12.5;
        const double ny = (touch.pose.y - centre.y) / 12.5;
        const double nz = (touch.pose.z - centre.z) / 12.5;
        for (double back : {0.05, 0.25, 0.5}) {
            const MachineModel::Sample before = model.At(touch.time - back);
            EXPECT_FALSE(before.deflected);
            const double d = Distance(before.pose, touch.pose);
            ASSERT_GT(d, 0.0);
            const double dot =
                ((before.pose.x - touch.pose.x) * nx + (before.pose.y - touch.pose.y) * ny +
                 (before.pose.z - touch.pose.z) * nz) /
                d;
            EXPECT_GT(dot, 0.999) << back << " s before";
        }
        // Deflected for at least three polls of 50 ms, then released.
        EXPECT_TRUE(model.At(touch.time + 0.15).deflected);
        EXPECT_FALSE(model.At(touch.time + 1.0).deflected);
    }
    // Six touches per pass: the seventh is the first touch again, one pass later.
    ExpectPose(model.TouchNo(6).pose, model.TouchNo(0).pose);
    ExpectPose(model.TouchNo(13).pose, model.TouchNo(7).pose);
}

TEST(MachineModelTest, ExampleScriptsParse) {
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VEXSIM_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".vexsim") {
            continue;
        }
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        const ParseResult parsed = ParseMotionScript(text.str());
        EXPECT_FALSE(parsed.error) << parsed.error->line << ": " << parsed.error->message;
        EXPECT_GT(MachineModel(parsed.script).TouchesBy(1e6), 0u) << "touches something";
        ++seen;
    }
    EXPECT_GE(seen, 2);
}

TEST(ModelClockTest, ReleasedClockRunsOnFromWhereItWasHeld) {
    ModelClock clock;
    clock.Restart(4.0);
    clock.SetManual(100.0);
    EXPECT_EQ(clock.Now(), 100.0);
    clock.Release();
    const double now = clock.Now();
    EXPECT_GE(now, 100.0);
    EXPECT_LT(now, 100.0 + 4 * 60.0) << "no jump back to the real elapsed time";
    // The monotonic time of "now" is now, whatever the rate.
    EXPECT_NEAR(clock.MonotonicAt(clock.Now()), ModelClock::MonotonicNow(), 30.0);
}

}  // namespace
}  // namespace vexsim
