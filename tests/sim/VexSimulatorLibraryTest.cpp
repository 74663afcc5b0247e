// libVexSimulator.so through dlopen: positions along the script, one hit per touch at the
// touch point, and the touch time for latency measurements.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "sim/ModelClock.h"
#include "sim/include/vexsim_control.h"
#include "sim/include/vexsimulator.h"
#include "tests/sim/LibraryLoader.h"

namespace vexsim::testing {
namespace {

#define VEXSIM_ENTRY(name) decltype(&::name) name = lib().Get<decltype(::name)>(#name)

class VexSimulatorLibraryTest : public StandInEnvironment {
  protected:
    static LoadedLibrary& lib() {
        static LoadedLibrary library("libVexSimulator.so");
        return library;
    }

    void SetUp() override {
        StandInEnvironment::SetUp();
        ASSERT_TRUE(lib().ok()) << lib().error();
    }
    void TearDown() override {
        Close();
        StandInEnvironment::TearDown();
    }

    VEXSIM_ENTRY(Init);
    VEXSIM_ENTRY(Close);
    VEXSIM_ENTRY(Position);
    VEXSIM_ENTRY(Hit);
    VEXSIM_ENTRY(VexSim_SetTime);
    VEXSIM_ENTRY(VexSim_TouchCount);
    VEXSIM_ENTRY(VexSim_LastTouchTime);
};

void ExpectPosition(const VexPosition& p, double x, double y, double z, double w) {
    EXPECT_NEAR(p.x, x, 1e-9);
    EXPECT_NEAR(p.y, y, 1e-9);
    EXPECT_NEAR(p.z, z, 1e-9);
    EXPECT_NEAR(p.w, w, 1e-9);
}

// Touch at 1.0 s at (10, 20, 20, 45), deflected until 1.25 s, retracted by 2.25 s.
constexpr char kDownTouch[] =
    "start 10 20 30 45\n"
    "touch 10 20 20 45 10\n"
    "move 10 20 30 45 10\n";

TEST_F(VexSimulatorLibraryTest, OneHitPerTouchAtTheTouchPoint) {
    UseScript(kDownTouch);
    ASSERT_NE(Init() & 0xFF, 0);
    VexPosition p;
    struct Row {
        const char* legend;
        double t;
        unsigned char hit;
        double z;  // of the hit when there is one, else of the position
    };
    const Row rows[] = {
        {"approaching", 0.5, 0, 25},
        {"first poll after the touch reports it", 1.04, 1, 20},
        {"same poll time again: already reported", 1.04, 0, 20},
        {"still deflected: no second hit", 1.2, 0, 20},
        {"retracting", 2.0, 0, 27.5},
        {"long after", 50.0, 0, 30},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        VexSim_SetTime(row.t);
        p = VexPosition{-1, -1, -1, -1};
        ASSERT_EQ(Hit(&p), row.hit);
        if (row.hit == 0) {
            ASSERT_EQ(Position(&p), 1);
        }
        ExpectPosition(p, 10, 20, row.z, 45);
    }
    EXPECT_EQ(VexSim_TouchCount(), 1u);
}

TEST_F(VexSimulatorLibraryTest, TouchNotPolledWhileDeflectedIsNeverReportedLate) {
    UseScript(kDownTouch);
    ASSERT_NE(Init() & 0xFF, 0);
    VexPosition p;
    VexSim_SetTime(1.5);  // the whole deflection passed without a Hit call
    EXPECT_EQ(Hit(&p), 0);
    EXPECT_EQ(VexSim_TouchCount(), 1u);
}

TEST_F(VexSimulatorLibraryTest, NullOrClosedGivesNothingAndLosesNoHit) {
    UseScript(kDownTouch);
    VexPosition p;
    EXPECT_EQ(Position(&p), 0) << "before Init";
    ASSERT_NE(Init() & 0xFF, 0);
    VexSim_SetTime(1.1);
    EXPECT_EQ(Position(nullptr), 0);
    EXPECT_EQ(Hit(nullptr), 0);
    EXPECT_EQ(Hit(&p), 1) << "a null pointer did not use up the hit";
    Close();
    EXPECT_EQ(Position(&p), 0) << "after Close";
    EXPECT_EQ(Hit(&p), 0);
}

// Polled like the server: each 50 ms tick Hit, and Position only in ticks without a hit.
TEST_F(VexSimulatorLibraryTest, ServerPollingGetsEveryDemoTouchOnceOnTheSphere) {
    ASSERT_NE(Init() & 0xFF, 0);  // no VEXSIM_SCRIPT: the built-in demo
    uint32_t hits = 0;
    VexPosition previous{};
    int ticksAfter = -1;
    for (double t = 0.021; ticksAfter != 0; t += 0.05) {
        VexSim_SetTime(t);
        VexPosition p;
        if (Hit(&p) == 1) {
            ++hits;
            const double dx = p.x - 200, dy = p.y - 150, dz = p.z - 50;
            EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), 12.5, 1e-3) << "at " << t;
            // The last position read came along the approach: within 0.5 mm of the hit.
            EXPECT_LE(std::hypot(previous.x - p.x, previous.y - p.y, previous.z - p.z), 0.5 + 1e-9);
        } else {
            ASSERT_EQ(Position(&previous), 1);
        }
        if (ticksAfter < 0 && VexSim_TouchCount() >= 13) {
            ticksAfter = 10;
        } else if (ticksAfter > 0) {
            --ticksAfter;
        }
    }
    EXPECT_EQ(hits, VexSim_TouchCount());
}

TEST_F(VexSimulatorLibraryTest, LastTouchTimeIsTheMonotonicMomentOfTheTouch) {
    UseScript(kDownTouch);
    setenv("VEXSIM_TIME_SCALE", "4", 1);  // the touch at model time 1 s is 0.25 s after Init
    const double before = ModelClock::MonotonicNow();
    ASSERT_NE(Init() & 0xFF, 0);
    const double after = ModelClock::MonotonicNow();
    VexSim_SetTime(0.9);
    EXPECT_EQ(VexSim_LastTouchTime(), -1.0) << "no touch yet";
    VexSim_SetTime(3.0);
    EXPECT_GE(VexSim_LastTouchTime(), before + 0.25);
    EXPECT_LE(VexSim_LastTouchTime(), after + 0.25);
}

TEST_F(VexSimulatorLibraryTest, RunsOnTheRealClock) {
    UseScript(kDownTouch);
    setenv("VEXSIM_TIME_SCALE", "20", 1);
    ASSERT_NE(Init() & 0xFF, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (VexSim_TouchCount() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(VexSim_TouchCount(), 1u);
    VexPosition p;
    ASSERT_EQ(Position(&p), 1);
    EXPECT_GT(p.z, 19.999);
}

TEST_F(VexSimulatorLibraryTest, MalformedScriptMeansNotReady) {
    const std::string path = UseScript("start 0 0 0 0\npause soon\n");
    ::testing::internal::CaptureStderr();
    const int ready = Init();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ready & 0xFF, 0);
    EXPECT_NE(err.find(path + ":2: 'soon' is not a number"), std::string::npos) << err;
    VexPosition p;
    EXPECT_EQ(Position(&p), 0);
}

}  // namespace
}  // namespace vexsim::testing
