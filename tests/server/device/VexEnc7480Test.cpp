// The card back end against a scripted card library: initialisation order, counts to
// positions, the hit detector and the approach-vector search.

#include "server/device/VexEnc7480.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/server/device/FakeEnc7480.h"
#include "tests/server/device/FakeLibrary.h"

namespace {

constexpr char kCardLibrary[] = "FakeEnc7480.DLL";

class Enc7480Test : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(fake_.get(), nullptr) << "libFakeEnc7480.so not found next to the test";
        card_->Open(QString::fromLatin1(kCardLibrary));
    }

    // Calls recorded since the last TakeCalls().
    std::string TakeCalls() {
        std::string calls = fake_->calls;
        fake_->calls[0] = '\0';
        return calls;
    }

    void SetCounts(int32_t x, int32_t y, int32_t z, int32_t w) {
        fake_->counts[0] = x;
        fake_->counts[1] = y;
        fake_->counts[2] = z;
        fake_->counts[3] = w;
    }

    void SetLatched(int32_t x, int32_t y, int32_t z, int32_t w) {
        fake_->latched[0] = x;
        fake_->latched[1] = y;
        fake_->latched[2] = z;
        fake_->latched[3] = w;
    }

    // Declared before the card so the library outlives it and the log can be read after
    // the card is gone.
    FakeLibrary<FakeEnc7480State> fake_{kCardLibrary, "FakeEnc7480_State"};
    std::optional<VexEnc7480> card_{std::in_place};
};

void ExpectPosition(const VexPosition& p, double x, double y, double z, double w) {
    EXPECT_DOUBLE_EQ(p.x, x);
    EXPECT_DOUBLE_EQ(p.y, y);
    EXPECT_DOUBLE_EQ(p.z, z);
    EXPECT_DOUBLE_EQ(p.w, w);
}

TEST_F(Enc7480Test, InitialisesTheCardInOrder) {
    Enc7480Settings configured;
    configured.triggerChannel = 2;
    configured.triggerLogic = 1;
    configured.indexPulseEnable = 1;
    configured.indexPulseLevel = 1;
    configured.countMode = 3;
    struct Row {
        const char* legend;
        Enc7480Settings settings;
        bool reset;
        std::string calls;
    };
    const std::vector<Row> rows = {
        {"defaults, counters kept",
         {},
         false,
         "Init;Triger_Chunnel(0,1);Set_Triger_Logic(0);"
         "Set_EZ_Logic(0,0,0);Set_EZ_Logic(1,0,0);Set_EZ_Logic(2,0,0);Set_EZ_Logic(3,0,0);"
         "Reset_Cls_Flag(0);Reset_Latch_Flag(0);"
         "Count_Config(0,0);Count_Config(1,0);Count_Config(2,0);Count_Config(3,0);"},
        {"configured, counters reset (/R) before the count mode is set", configured, true,
         "Init;Triger_Chunnel(0,2);Set_Triger_Logic(1);"
         "Set_EZ_Logic(0,1,1);Set_EZ_Logic(1,1,1);Set_EZ_Logic(2,1,1);Set_EZ_Logic(3,1,1);"
         "Reset_Cls_Flag(0);Reset_Latch_Flag(0);"
         "Set_Encoder(0,0);Set_Encoder(1,0);Set_Encoder(2,0);Set_Encoder(3,0);"
         "Count_Config(0,3);Count_Config(1,3);Count_Config(2,3);Count_Config(3,3);"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        card_->SetSettings(row.settings);
        TakeCalls();
        EXPECT_EQ(card_->Init(row.reset), 1);
        EXPECT_EQ(TakeCalls(), row.calls);
    }
}

TEST_F(Enc7480Test, CardNotReadyIsLeftAloneAndNeverPolled) {
    fake_->init_result = 0;
    EXPECT_EQ(card_->Init(true), 0);
    EXPECT_FALSE(card_->IsInitialized());
    VexPosition p;
    EXPECT_FALSE(card_->GetPosition(p));
    EXPECT_FALSE(card_->GetHit(p));
    EXPECT_EQ(fake_->counter_reads + fake_->status_reads, 0);
    card_.reset();
    // Nothing beyond the failed Init reached the card, not even Close on destruction.
    EXPECT_EQ(TakeCalls(), "Init;");
}

TEST_F(Enc7480Test, DestroyingAnInitialisedCardClosesItOnce) {
    struct Row {
        const char* legend;
        bool closeFirst;
    };
    for (const Row& row : {Row{"closed by the destructor", false},
                           Row{"closed explicitly, not again by the destructor", true}}) {
        SCOPED_TRACE(row.legend);
        card_.emplace();
        card_->Open(QString::fromLatin1(kCardLibrary));
        ASSERT_EQ(card_->Init(false), 1);
        TakeCalls();
        if (row.closeFirst)
            card_->Close();
        EXPECT_FALSE(row.closeFirst && card_->IsInitialized());
        card_.reset();
        EXPECT_EQ(TakeCalls(), "Close;");
    }
}

TEST_F(Enc7480Test, ReopeningAnInitialisedCardClosesItThroughTheOldLibrary) {
    ASSERT_EQ(card_->Init(false), 1);
    TakeCalls();
    card_->Open(QString::fromLatin1(kCardLibrary));
    EXPECT_EQ(TakeCalls(), "Close;");
    EXPECT_FALSE(card_->IsInitialized());
}

TEST_F(Enc7480Test, ConvertsCountsToMillimetresAndDegrees) {
    struct Row {
        const char* legend;
        int32_t perMm[3];
        int32_t perTurn;
        int32_t counts[4];
        VexPosition expected;
    };
    const std::vector<Row> rows = {
        {"default scales", {50, 50, 50}, 360, {100, -25, 0, 90}, {2.0, -0.5, 0.0, 90.0}},
        {"per-axis scales, W as a fraction of a turn",
         {1000, 200, 8},
         4096,
         {1, 3, -4, 1024},
         {0.001, 0.015, -0.5, 90.0}},
        {"zero divisors fall back to 50 per mm and 360 per turn",
         {0, 0, 0},
         0,
         {100, 50, -50, 180},
         {2.0, 1.0, -1.0, 180.0}},
    };
    ASSERT_EQ(card_->Init(false), 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Enc7480Settings s;
        s.xCountsPerMm = row.perMm[0];
        s.yCountsPerMm = row.perMm[1];
        s.zCountsPerMm = row.perMm[2];
        s.wCountsPerTurn = row.perTurn;
        card_->SetSettings(s);
        SetCounts(row.counts[0], row.counts[1], row.counts[2], row.counts[3]);
        VexPosition p;
        ASSERT_TRUE(card_->GetPosition(p));
        ExpectPosition(p, row.expected.x, row.expected.y, row.expected.z, row.expected.w);
        // Latched counts go through the same conversion.
        SetLatched(row.counts[0], row.counts[1], row.counts[2], row.counts[3]);
        fake_->status = 0x0101;
        VexPosition hit;
        ASSERT_TRUE(card_->GetHit(hit));
        EXPECT_EQ(hit, p);
        fake_->status = 0;
        card_->GetHit(hit);
    }
}

TEST_F(Enc7480Test, EveryPositionReadIsKeptEvenWhenUnchanged) {
    ASSERT_EQ(card_->Init(false), 1);
    SetCounts(50, 0, 0, 0);
    VexPosition p;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(card_->GetPosition(p));
    EXPECT_EQ(card_->History().Size(), 3);
}

TEST_F(Enc7480Test, OneProbeTriggerYieldsOneHit) {
    ASSERT_EQ(card_->Init(false), 1);
    struct Step {
        const char* legend;
        uint32_t status;
        bool hit;
        bool latchReset;
    };
    const std::vector<Step> steps = {
        {"idle: trigger bits clear re-arm and clear the latch", 0x0000, false, true},
        {"trigger and latch while armed: a hit", 0x0101, true, true},
        {"still triggered and latched: no second hit, flags left", 0x0101, false, false},
        {"triggered, latch clear: nothing changes", 0x0001, false, false},
        {"latch set but trigger bits clear: re-armed, latch cleared", 0x0F00, false, true},
        {"next trigger on another bit: a hit", 0x0802, true, true},
        {"trigger without latch: nothing changes, still disarmed", 0x0004, false, false},
        {"latched again without re-arming: no hit", 0x0408, false, false},
        {"trigger bits clear: re-armed", 0x00F0, false, true},
        {"triggered, latch clear while armed: no hit, stays armed", 0x0001, false, false},
        {"latch arrives: a hit", 0x0201, true, true},
    };
    int hits = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.legend);
        fake_->status = step.status;
        SetLatched(10 * (hits + 1), 0, 0, 0);
        TakeCalls();
        VexPosition p;
        EXPECT_EQ(card_->GetHit(p), step.hit);
        EXPECT_EQ(card_->GetStatus(), static_cast<int>(step.status));
        EXPECT_EQ(TakeCalls(), step.latchReset ? "Reset_Latch_Flag(0);" : "");
        if (step.hit) {
            ++hits;
            EXPECT_DOUBLE_EQ(p.x, 10.0 * hits / 50.0);
        }
    }
}

// Positions and hits here are in counts with a scale of 1 per mm (W: 360 per turn, so
// the W count is degrees).
TEST_F(Enc7480Test, ApproachVectorSearchesTheHistoryFromTheDepth) {
    struct Row {
        const char* legend;
        std::vector<VexPosition> polled;  // oldest first
        int depth;
        double sensitivity;
        VexPosition hit;
        VexPosition expected;
    };
    const std::vector<VexPosition> three = {{10, 0, 0, 1}, {0, 20, 0, 2}, {0, 0, 30, 3}};
    const std::vector<Row> rows = {
        {"depth 5 with 3 entries starts at the oldest", three, 5, 0.0, {}, {1, 0, 0, 1}},
        {"depth 1 takes the second newest", three, 1, 0.0, {}, {0, 1, 0, 2}},
        {"depth 0 takes the newest", three, 0, 0.0, {}, {0, 0, 1, 3}},
        {"vector points from the hit back to the entry",
         three,
         2,
         0.0,
         {10, 10, 0, 0},
         {0, -1, 0, 1}},
        {"entry equal to the hit with sensitivity 0 gives (0,0,1)",
         three,
         1,
         0.0,
         {0, 20, 0, 9},
         {0, 0, 1, 2}},
        {"no entry far enough: difference to the oldest, not normalised",
         three,
         0,
         100.0,
         {},
         {10, 0, 0, 1}},
        {"sensitivity skips entries nearer than it",
         {{0, 0, 2, 4}, {0, 0.4, 0, 5}, {0.3, 0, 0, 6}},
         0,
         0.5,
         {},
         {0, 0, 1, 4}},
        {"an entry exactly at the sensitivity is taken",
         {{0, 0, 2, 4}, {0, 0.5, 0, 5}, {0.3, 0, 0, 6}},
         0,
         0.5,
         {},
         {0, 1, 0, 5}},
    };
    ASSERT_EQ(card_->Init(false), 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Enc7480Settings s;
        s.xCountsPerMm = s.yCountsPerMm = s.zCountsPerMm = 10;
        s.vectorDepth = row.depth;
        s.vectorSensitivity = row.sensitivity;
        card_->SetSettings(s);
        card_->SetHistoryCapacity(20);
        VexPosition p;
        for (const VexPosition& entry : row.polled) {
            SetCounts(std::lround(entry.x * 10), std::lround(entry.y * 10),
                      std::lround(entry.z * 10), std::lround(entry.w));
            ASSERT_TRUE(card_->GetPosition(p));
        }
        SetLatched(std::lround(row.hit.x * 10), std::lround(row.hit.y * 10),
                   std::lround(row.hit.z * 10), std::lround(row.hit.w));
        fake_->status = 0;
        card_->GetHit(p);
        fake_->status = 0x0101;
        ASSERT_TRUE(card_->GetHit(p));
        const VexPosition v = card_->GetHitVector();
        ExpectPosition(v, row.expected.x, row.expected.y, row.expected.z, row.expected.w);
    }
}

TEST_F(Enc7480Test, ApproachVectorOfAnEmptyHistoryIsAnIndexError) {
    ASSERT_EQ(card_->Init(false), 1);
    fake_->status = 0x0101;
    VexPosition p;
    ASSERT_TRUE(card_->GetHit(p));
    EXPECT_THROW(card_->GetHitVector(), std::out_of_range);

    // A capacity of 0 keeps the history empty however often positions are read.
    card_->SetHistoryCapacity(0);
    ASSERT_TRUE(card_->GetPosition(p));
    EXPECT_THROW(card_->GetHitVector(), std::out_of_range);
}

TEST(Enc7480WithoutLibrary, InitFailsAndPollsReportNothing) {
    VexEnc7480 card;
    EXPECT_EQ(card.Init(true), 0);
    VexPosition p;
    EXPECT_FALSE(card.GetPosition(p));
    EXPECT_FALSE(card.GetHit(p));
}

}  // namespace
