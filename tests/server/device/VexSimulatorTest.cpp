// The simulator back end against a scripted simulator library.

#include "server/device/VexSimulator.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "tests/server/device/FakeLibrary.h"
#include "tests/server/device/FakeVexSimulator.h"

namespace {

constexpr char kSimulatorLibrary[] = "FakeVexSimulator.DLL";

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(fake_.get(), nullptr) << "libFakeVexSimulator.so not found next to the test";
        sim_->Open(QString::fromLatin1(kSimulatorLibrary));
        sim_->SetHistoryCapacity(5);
    }

    // Scripts the library's next position and reads it through the device.
    bool Poll(FakeVexPosition p) {
        fake_->has_position = 1;
        fake_->position = p;
        VexPosition out;
        return sim_->GetPosition(out);
    }

    VexPosition HitAt(FakeVexPosition p) {
        fake_->has_hit = 1;
        fake_->hit = p;
        VexPosition out;
        EXPECT_TRUE(sim_->GetHit(out));
        fake_->has_hit = 0;
        return out;
    }

    FakeLibrary<FakeVexSimulatorState> fake_{kSimulatorLibrary, "FakeVexSimulator_State"};
    std::optional<VexSimulator> sim_{std::in_place};
};

TEST_F(SimulatorTest, OnlyTheLowByteOfInitCounts) {
    struct Row {
        const char* legend;
        int initResult;
        int expected;
    };
    const std::vector<Row> rows = {
        {"ready", 1, 1},
        {"not ready", 0, 0},
        {"high bits only: not ready", 0x100, 0},
        {"low byte set among high bits: ready", 0x1FF, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        fake_->init_result = row.initResult;
        EXPECT_EQ(sim_->Init(false), row.expected);
        EXPECT_EQ(sim_->IsInitialized(), row.expected != 0);
    }
}

TEST_F(SimulatorTest, ClosesTheLibraryOnlyWhenInitialised) {
    fake_->init_result = 0;
    sim_->Init(false);
    sim_.reset();
    EXPECT_EQ(fake_->close_calls, 0);

    sim_.emplace();
    sim_->Open(QString::fromLatin1(kSimulatorLibrary));
    fake_->init_result = 1;
    sim_->Init(false);
    sim_->Close();
    sim_.reset();
    EXPECT_EQ(fake_->close_calls, 1);
}

TEST_F(SimulatorTest, PollsReachTheLibraryEvenWhenNotInitialised) {
    fake_->init_result = 0;
    sim_->Init(false);
    EXPECT_TRUE(Poll({1, 2, 3, 4}));
    HitAt({1, 2, 3, 4});
}

TEST_F(SimulatorTest, HistoryKeepsChangedPositionsOnly) {
    fake_->has_position = 0;
    VexPosition out;
    EXPECT_FALSE(sim_->GetPosition(out));
    EXPECT_EQ(sim_->History().Size(), 0) << "a refused read is not kept";

    ASSERT_TRUE(Poll({1, 0, 0, 0}));
    ASSERT_TRUE(Poll({1, 0, 0, 0}));
    EXPECT_EQ(sim_->History().Size(), 1) << "a repeated position is kept once";
    ASSERT_TRUE(Poll({1, 0, 0, 0.5}));
    EXPECT_EQ(sim_->History().Size(), 2) << "a change of W alone is a change";
}

TEST_F(SimulatorTest, ApproachVectorUsesTheEntryBeforeTheNewest) {
    struct Row {
        const char* legend;
        std::vector<FakeVexPosition> polled;  // oldest first
        FakeVexPosition hit;
        VexPosition expected;
    };
    const std::vector<Row> rows = {
        {"single entry: that entry", {{0, 0, 5, 7}}, {0, 0, 0, 0}, {0, 0, 1, 7}},
        {"two entries: the older one",
         {{3, 4, 0, 1}, {9, 9, 9, 2}},
         {0, 0, 0, 0},
         {0.6, 0.8, 0, 1}},
        {"no depth: the second newest of many",
         {{50, 0, 0, 1}, {0, 50, 0, 2}, {0, 0, -2, 3}, {1, 1, 1, 4}},
         {0, 0, 0, 0},
         {0, 0, -1, 3}},
        {"entry equal to the hit: (0,0,1)",
         {{2, 2, 2, 8}, {5, 5, 5, 9}},
         {2, 2, 2, 0},
         {0, 0, 1, 8}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        sim_->SetHistoryCapacity(5);
        for (const FakeVexPosition& p : row.polled)
            ASSERT_TRUE(Poll(p));
        HitAt(row.hit);
        const VexPosition v = sim_->GetHitVector();
        EXPECT_DOUBLE_EQ(v.x, row.expected.x);
        EXPECT_DOUBLE_EQ(v.y, row.expected.y);
        EXPECT_DOUBLE_EQ(v.z, row.expected.z);
        EXPECT_DOUBLE_EQ(v.w, row.expected.w);
    }
}

TEST_F(SimulatorTest, ApproachVectorOfAnEmptyHistoryIsAnIndexError) {
    HitAt({1, 1, 1, 1});
    EXPECT_THROW(sim_->GetHitVector(), std::out_of_range);
}

TEST(SimulatorWithoutLibrary, InitFailsAndPollsReportNothing) {
    VexSimulator sim;
    EXPECT_EQ(sim.Init(false), 0);
    VexPosition p;
    EXPECT_FALSE(sim.GetPosition(p));
    EXPECT_FALSE(sim.GetHit(p));
}

}  // namespace
