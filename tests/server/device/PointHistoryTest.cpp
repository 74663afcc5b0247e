// The bounded position history and vector normalising.

#include "server/device/PointHistory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

TEST(PointHistoryTest, KeepsTheNewestUpToItsCapacity) {
    PointHistory history;
    EXPECT_EQ(history.Capacity(), 20);
    history.SetCapacity(2);
    for (double x : {1.0, 2.0, 3.0})
        history.Push({x, 0, 0, 0});
    ASSERT_EQ(history.Size(), 2);
    EXPECT_EQ(history.At(0).x, 3.0) << "newest first";
    EXPECT_EQ(history.At(1).x, 2.0) << "oldest dropped";
    EXPECT_THROW(history.At(2), std::out_of_range);
    EXPECT_THROW(history.At(-1), std::out_of_range);

    history.SetCapacity(3);
    EXPECT_EQ(history.Size(), 0) << "a new capacity empties the history";
}

TEST(PointHistoryTest, CapacityOfZeroOrLessKeepsNothing) {
    for (int capacity : {0, -1}) {
        PointHistory history;
        history.SetCapacity(capacity);
        history.Push({1, 2, 3, 4});
        EXPECT_EQ(history.Size(), 0) << "capacity " << capacity;
        EXPECT_THROW(history.At(0), std::out_of_range);
    }
}

TEST(VexPositionTest, NormalizeGivesAUnitVectorAndKeepsW) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* legend;
        VexPosition in;
        VexPosition expected;
    };
    const std::vector<Row> rows = {
        {"3-4-5 triangle", {3, 4, 0, 7}, {0.6, 0.8, 0, 7}},
        {"negative components keep their sign", {0, 0, -0.25, -1}, {0, 0, -1, -1}},
        {"w is not part of the length", {2, 0, 0, 1000}, {1, 0, 0, 1000}},
        {"zero length points along z", {0, 0, 0, 5}, {0, 0, 1, 5}},
        {"not a number points along z", {nan, 1, 0, 5}, {0, 0, 1, 5}},
        {"infinite length points along z", {inf, 1, 0, 5}, {0, 0, 1, 5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        VexPosition v = row.in;
        v.Normalize();
        EXPECT_DOUBLE_EQ(v.x, row.expected.x);
        EXPECT_DOUBLE_EQ(v.y, row.expected.y);
        EXPECT_DOUBLE_EQ(v.z, row.expected.z);
        EXPECT_DOUBLE_EQ(v.w, row.expected.w);
    }
}

}  // namespace
