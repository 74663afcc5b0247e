// The server's device classes over the stand-in libraries, polled like the server's poll
// cycle: each 50 ms tick GetHit, GetHitVector after a hit, and GetPosition only in ticks
// without one. Each scripted touch must give exactly one hit at the touch point, with an
// approach vector pointing back along the approach path.
#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <vector>

#include "server/device/VexEnc7480.h"
#include "server/device/VexSimulator.h"
#include "sim/include/vexsim_control.h"
#include "tests/sim/LibraryLoader.h"

namespace vexsim::testing {
namespace {

// Two touches: the first approached diagonally from +X+Z, the second along -X; both
// 1.4 s or more in a straight line at 10 mm/s. All points are whole counts at 50/mm.
constexpr char kTwoTouches[] =
    "start 50 60 70 0\n"
    "touch 40 60 60 0 10\n"
    "move  50 60 70 0 20\n"
    "move  60 60 60 0 20\n"
    "touch 45 60 60 0 10\n"
    "move  60 60 60 0 20\n";

struct ExpectedTouch {
    VexPosition point;
    VexPosition back;  // unit vector from the touch point back along the approach
};

const std::vector<ExpectedTouch> kExpected = {
    {{40, 60, 60, 0}, {M_SQRT1_2, 0, M_SQRT1_2, 0}},
    {{45, 60, 60, 0}, {1, 0, 0, 0}},
};

struct SeenHit {
    VexPosition point;
    VexPosition vector;
};

class DeviceWithStandInTest : public StandInEnvironment {
  protected:
    // The libraries the devices load, opened again for their clock control.
    static LoadedLibrary& Card() {
        static LoadedLibrary library("libENC7480.so");
        return library;
    }
    static LoadedLibrary& Simulator() {
        static LoadedLibrary library("libVexSimulator.so");
        return library;
    }

    // Polls `device` every 50 ms of model time from `from` until `until`, holding the model
    // clock of `lib` at each tick's time.
    std::vector<SeenHit> Poll(VexDevice& device, LoadedLibrary& lib, double from,
                              double until = 8.0) {
        auto* setTime = lib.Get<decltype(::VexSim_SetTime)>("VexSim_SetTime");
        std::vector<SeenHit> hits;
        if (setTime == nullptr) {
            return hits;
        }
        for (double t = from; t < until; t += 0.05) {
            setTime(t);
            VexPosition pos;
            if (device.GetHit(pos)) {
                hits.push_back({pos, device.GetHitVector()});
            } else {
                device.GetPosition(pos);
            }
        }
        return hits;
    }

    void ExpectTheTouches(const std::vector<SeenHit>& hits, double tolerance) {
        ASSERT_EQ(hits.size(), kExpected.size());
        for (size_t i = 0; i < hits.size(); ++i) {
            SCOPED_TRACE("touch " + std::to_string(i + 1));
            const VexPosition& p = hits[i].point;
            const VexPosition& want = kExpected[i].point;
            EXPECT_NEAR(p.x, want.x, tolerance);
            EXPECT_NEAR(p.y, want.y, tolerance);
            EXPECT_NEAR(p.z, want.z, tolerance);
            EXPECT_NEAR(p.w, want.w, tolerance);
            const VexPosition& v = hits[i].vector;
            const VexPosition& back = kExpected[i].back;
            EXPECT_GT(v.x * back.x + v.y * back.y + v.z * back.z, 0.9)
                << "vector " << v.x << " " << v.y << " " << v.z;
        }
    }
};

TEST_F(DeviceWithStandInTest, CardDeviceSeesEachTouchOnceWithItsApproach) {
    UseScript(kTwoTouches);
    for (double phase : {0.0, 0.02, 0.041}) {
        SCOPED_TRACE("first tick at " + std::to_string(phase) + " s");
        VexEnc7480 device;  // default settings: 50 counts/mm, vector depth 5, history 20
        ASSERT_NO_THROW(device.Open(QStringLiteral("ENC7480.DLL")));
        ASSERT_NE(device.Init(false), 0);
        ExpectTheTouches(Poll(device, Card(), phase), 1e-9);
    }
}

TEST_F(DeviceWithStandInTest, CardDeviceWithZeroedCountersReportsRelativePositions) {
    // Init zeroes the counters on the running clock, so the probe waits a minute first.
    UseScript("start 50 60 70 0\npause 60\ntouch 40 60 60 0 10\nmove 50 60 70 0 10\n");
    VexEnc7480 device;
    ASSERT_NO_THROW(device.Open(QStringLiteral("ENC7480.DLL")));
    ASSERT_NE(device.Init(true), 0) << "as started with /R";
    const std::vector<SeenHit> hits = Poll(device, Card(), 60.0, 64.0);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].point.x, -10.0);
    EXPECT_EQ(hits[0].point.y, 0.0);
    EXPECT_EQ(hits[0].point.z, -10.0);
}

TEST_F(DeviceWithStandInTest, SimulatorDeviceSeesEachTouchOnceWithItsApproach) {
    UseScript(kTwoTouches);
    for (double phase : {0.0, 0.02, 0.041}) {
        SCOPED_TRACE("first tick at " + std::to_string(phase) + " s");
        VexSimulator device;
        device.SetHistoryCapacity(5);  // what the server's simulator set-up uses
        ASSERT_NO_THROW(device.Open(QStringLiteral("VexSimulator.DLL")));
        ASSERT_NE(device.Init(false), 0);
        ExpectTheTouches(Poll(device, Simulator(), phase), 1e-9);
    }
}

}  // namespace
}  // namespace vexsim::testing
