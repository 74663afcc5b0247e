// CPoint3: the null-pointer and division-by-zero rules and the stored layout.
#include <gtest/gtest.h>

#include <sstream>

#include "driver/core/CPoint3.h"

namespace {

TEST(CPoint3, NullPointerAndZeroDivisorGiveTheOrigin) {
    const double xyz[3] = {1.0, -2.0, 3.5};
    CPoint3 p(xyz);
    EXPECT_EQ(p, CPoint3(1.0, -2.0, 3.5));
    p = static_cast<const double*>(nullptr);
    EXPECT_EQ(p, CPoint3());
    EXPECT_EQ(CPoint3(nullptr), CPoint3());

    CPoint3 q(2.0, 4.0, 6.0);
    q /= 2.0;
    EXPECT_EQ(q, CPoint3(1.0, 2.0, 3.0));
    q /= 0.0;
    EXPECT_EQ(q, CPoint3());
}

TEST(CPoint3, ArithmeticAndArrayAccess) {
    CPoint3 a(1.0, 2.0, 3.0);
    const CPoint3 b(0.5, 0.5, 0.5);
    EXPECT_EQ(a + b, CPoint3(1.5, 2.5, 3.5));
    EXPECT_EQ(a - b, CPoint3(0.5, 1.5, 2.5));
    a *= -2.0;
    EXPECT_EQ(a, CPoint3(-2.0, -4.0, -6.0));
    a.Array()[1] = 9.0;
    EXPECT_EQ(a[1], 9.0);
    EXPECT_EQ(a.y(), 9.0);
}

TEST(CPoint3, StoreAndLoadRoundTripAndShortReadKeepsThePoint) {
    std::stringstream s;
    CPoint3(1.25, -0.0, 1e300).Store(s);
    EXPECT_EQ(s.str().size(), 3 * sizeof(double));
    CPoint3 back;
    back.Load(s);
    EXPECT_EQ(back, CPoint3(1.25, 0.0, 1e300));

    std::stringstream shortStream(std::string(10, '\0'));
    CPoint3 kept(7.0, 8.0, 9.0);
    kept.Load(shortStream);
    EXPECT_TRUE(shortStream.fail());
    EXPECT_EQ(kept, CPoint3(7.0, 8.0, 9.0));
}

}  // namespace
