// libENC7480.so through dlopen, stepped on its held clock: trigger and latch bits, latched
// counts, counter zeroing, and the start-up errors.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <string>

#include "sim/include/enc7480.h"
#include "sim/include/vexsim_control.h"
#include "tests/sim/LibraryLoader.h"

namespace vexsim::testing {
namespace {

constexpr uint32_t kTrigger = 0x000F;
constexpr uint32_t kLatch = 0x0F00;

#define VEXSIM_ENTRY(name) decltype(&::name) name = lib().Get<decltype(::name)>(#name)

class Enc7480LibraryTest : public StandInEnvironment {
  protected:
    static LoadedLibrary& lib() {
        static LoadedLibrary library("libENC7480.so");
        return library;
    }

    void SetUp() override {
        StandInEnvironment::SetUp();
        ASSERT_TRUE(lib().ok()) << lib().error();
    }
    void TearDown() override {
        Enc7480_Close();
        StandInEnvironment::TearDown();
    }

    std::array<int32_t, 4> Latched() {
        return {Enc7480_Get_LatchValue(0), Enc7480_Get_LatchValue(1), Enc7480_Get_LatchValue(2),
                Enc7480_Get_LatchValue(3)};
    }

    VEXSIM_ENTRY(Enc7480_Init);
    VEXSIM_ENTRY(Enc7480_Close);
    VEXSIM_ENTRY(Enc7480_Get_Encoder);
    VEXSIM_ENTRY(Enc7480_Set_Encoder);
    VEXSIM_ENTRY(Enc7480_Get_LatchValue);
    VEXSIM_ENTRY(Enc7480_Read_Latch_Status);
    VEXSIM_ENTRY(Enc7480_Reset_Latch_Flag);
    VEXSIM_ENTRY(VexSim_SetTime);
    VEXSIM_ENTRY(VexSim_TouchCount);
    VEXSIM_ENTRY(VexSim_LastTouchTime);
};

// From (10, 20, 30, 45) straight down 10 mm at 10 mm/s: the touch latches at 1.0 s, the
// probe stays deflected until 1.25 s, then retracts to z 30 by 2.25 s.
constexpr char kDownTouch[] =
    "scale 100 200 50 3600\n"
    "start 10 20 30 45\n"
    "touch 10 20 20 45 10\n"
    "move 10 20 30 45 10\n";

TEST_F(Enc7480LibraryTest, ScriptedTouchLatchesAndReleases) {
    UseScript(kDownTouch);
    ASSERT_EQ(Enc7480_Init(), 1);
    struct Row {
        const char* legend;
        double t;
        bool resetLatch;  // Enc7480_Reset_Latch_Flag(0) before reading the status
        uint32_t status;
        int32_t zCount;
    };
    const Row rows[] = {
        {"approaching: nothing set", 0.5, false, 0, 25 * 50},
        {"touch moment: trigger and latch bits together", 1.0, false, kTrigger | kLatch, 20 * 50},
        {"latch bits stay until reset", 1.1, false, kTrigger | kLatch, 20 * 50},
        {"reset clears bits 8-11 only", 1.1, true, kTrigger, 20 * 50},
        {"still deflected, no new latch", 1.2, false, kTrigger, 20 * 50},
        {"released at the start of the retraction", 1.25, false, 0, 20 * 50},
        {"retracting", 2.0, false, 0, 27 * 50 + 25},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        VexSim_SetTime(row.t);
        if (row.resetLatch) {
            Enc7480_Reset_Latch_Flag(0);
        }
        EXPECT_EQ(Enc7480_Read_Latch_Status(0), row.status);
        EXPECT_EQ(Enc7480_Get_Encoder(2), row.zCount);
        EXPECT_EQ(Enc7480_Read_Latch_Status(1), 0u) << "there is only card 0";
    }
    // The touch point times the scale: 10 mm x 100, 20 mm x 200, 20 mm x 50, 45 deg of 3600.
    EXPECT_EQ(Latched(), (std::array<int32_t, 4>{1000, 4000, 1000, 450}));
    EXPECT_EQ(Enc7480_Get_LatchValue(4), 0) << "no fifth channel";
}

TEST_F(Enc7480LibraryTest, SetEncoderZeroesTheCountersTheLatchFollows) {
    UseScript(kDownTouch);
    ASSERT_EQ(Enc7480_Init(), 1);
    VexSim_SetTime(0.5);  // at (10, 20, 25, 45)
    for (uint16_t c = 0; c < 4; ++c) {
        Enc7480_Set_Encoder(c, 0);
        EXPECT_EQ(Enc7480_Get_Encoder(c), 0) << "channel " << c;
    }
    Enc7480_Set_Encoder(9, 77);  // no such channel: ignored
    VexSim_SetTime(1.0);
    ASSERT_EQ(Enc7480_Read_Latch_Status(0), kTrigger | kLatch);
    EXPECT_EQ(Latched(), (std::array<int32_t, 4>{0, 0, -5 * 50, 0}));
    Enc7480_Set_Encoder(3, -123456);
    EXPECT_EQ(Enc7480_Get_Encoder(3), -123456);
    EXPECT_EQ(Latched()[3], 0) << "a latched count is not changed afterwards";

    ASSERT_EQ(Enc7480_Init(), 1) << "Init starts again from the script's start";
    EXPECT_EQ(Enc7480_Get_Encoder(2), 30 * 50);
}

TEST_F(Enc7480LibraryTest, EnvironmentScaleOverridesTheScript) {
    UseScript(kDownTouch);
    setenv("VEXSIM_SCALE", "10,20, 30 3600", 1);
    ASSERT_EQ(Enc7480_Init(), 1);
    VexSim_SetTime(1.0);
    EXPECT_EQ(Latched(), (std::array<int32_t, 4>{100, 400, 600, 450}));
}

// The server's latch check (hit detection) at every 50 ms tick, over the demo script.
TEST_F(Enc7480LibraryTest, ServerPollingSeesEveryDemoTouchExactlyOnce) {
    for (double phase : {0.0, 0.013, 0.029, 0.047}) {
        SCOPED_TRACE("first tick at " + std::to_string(phase) + " s");
        ASSERT_EQ(Enc7480_Init(), 1);
        bool armed = true;
        uint32_t hits = 0;
        int ticksAfter = -1;
        for (double t = phase; ticksAfter != 0; t += 0.05) {
            VexSim_SetTime(t);
            const uint32_t status = Enc7480_Read_Latch_Status(0);
            if ((status & kTrigger) == 0) {
                armed = true;
                Enc7480_Reset_Latch_Flag(0);
            } else if ((status & kLatch) != 0 && armed) {
                const auto c = Latched();
                const double dx = c[0] / 50.0 - 200, dy = c[1] / 50.0 - 150, dz = c[2] / 50.0 - 50;
                EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), 12.5, 0.03)
                    << "hit on the demo sphere at " << t;
                ++hits;
                armed = false;
                Enc7480_Reset_Latch_Flag(0);
            }
            if (ticksAfter < 0 && VexSim_TouchCount() >= 13) {
                ticksAfter = 10;
            } else if (ticksAfter > 0) {
                --ticksAfter;
            }
        }
        EXPECT_EQ(hits, VexSim_TouchCount());
    }
}

TEST_F(Enc7480LibraryTest, TouchLogHasOneLinePerTouch) {
    UseScript(kDownTouch);
    const std::string log = (dir_ / "touches.log").string();
    setenv("VEXSIM_TOUCH_LOG", log.c_str(), 1);
    ASSERT_EQ(Enc7480_Init(), 1);
    VexSim_SetTime(1.0);
    Enc7480_Read_Latch_Status(0);
    VexSim_SetTime(3.0);
    Enc7480_Read_Latch_Status(0);
    std::ifstream in(log);
    std::string word;
    unsigned long number = 0;
    double when = 0, x = 0, y = 0, z = 0, w = 0;
    ASSERT_TRUE(in >> word >> number >> when >> x >> y >> z >> w);
    EXPECT_EQ(word, "touch");
    EXPECT_EQ(number, 1u);
    EXPECT_NEAR(when, VexSim_LastTouchTime(), 1e-5);
    EXPECT_EQ((std::array<double, 4>{x, y, z, w}), (std::array<double, 4>{10, 20, 20, 45}));
    EXPECT_FALSE(in >> word) << "one touch, one line";
}

TEST_F(Enc7480LibraryTest, InitRefusesBadSettingsAndSaysWhy) {
    struct Row {
        const char* legend;
        const char* script;  // null: VEXSIM_SCRIPT names a missing file
        const char* variable;
        const char* value;
        const char* message;  // expected in the stderr line; "@" stands for the script path
    };
    const Row rows[] = {
        {"malformed script", "start 0 0 0 0\n\nmove 1 2 3 4\n", nullptr, nullptr,
         "@:3: move takes 5 values"},
        {"missing script", nullptr, nullptr, nullptr, "@: cannot read the motion script"},
        {"scale with three values", kDownTouch, "VEXSIM_SCALE", "50 50 50", "VEXSIM_SCALE"},
        {"scale with a zero", kDownTouch, "VEXSIM_SCALE", "50 0 50 360", "nonzero"},
        {"time scale 0", kDownTouch, "VEXSIM_TIME_SCALE", "0", "VEXSIM_TIME_SCALE='0'"},
        {"time scale not a number", kDownTouch, "VEXSIM_TIME_SCALE", "fast", "greater than 0"},
        {"touch log in a missing folder", kDownTouch, "VEXSIM_TOUCH_LOG", "/nonexistent/dir/x",
         "cannot open the touch log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        unsetenv("VEXSIM_SCALE");
        unsetenv("VEXSIM_TIME_SCALE");
        unsetenv("VEXSIM_TOUCH_LOG");
        std::string path = UseScript(row.script != nullptr ? row.script : "");
        if (row.script == nullptr) {
            path = (dir_ / "missing.vexsim").string();
            setenv("VEXSIM_SCRIPT", path.c_str(), 1);
        }
        if (row.variable != nullptr) {
            setenv(row.variable, row.value, 1);
        }
        std::string expected = row.message;
        if (expected.front() == '@') {
            expected = path + expected.substr(1);
        }
        ::testing::internal::CaptureStderr();
        const int ready = Enc7480_Init();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ready, 0);
        EXPECT_NE(err.find(expected), std::string::npos) << err;
        EXPECT_EQ(Enc7480_Read_Latch_Status(0), 0u) << "a card that failed reports nothing";
        EXPECT_EQ(Enc7480_Get_Encoder(0), 0);
    }
}

}  // namespace
}  // namespace vexsim::testing
