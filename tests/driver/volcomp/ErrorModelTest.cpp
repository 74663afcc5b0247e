// The ASI and CNC error models on synthetic tables whose corrections are worked out here
// by hand from the model's formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/ErrorModel.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"

using namespace volcomptest;

namespace {

constexpr double kTol = 1e-9;
constexpr double kMu = 1e6;

struct P4 {
    double v[4];
};

P4 Evaluate(void (*model)(const double*, double*, int), const double tip[3], double x, double y,
            double z, double s, int direction) {
    P4 p{{x, y, z, s}};
    model(tip, p.v, direction);
    return p;
}

// r x l / 1e6: the displacement of rotation r (micro-radians) on lever l (millimetres).
std::array<double, 3> Cross(std::array<double, 3> r, std::array<double, 3> l) {
    return {(r[1] * l[2] - r[2] * l[1]) / kMu, (r[2] * l[0] - r[0] * l[2]) / kMu,
            (r[0] * l[1] - r[1] * l[0]) / kMu};
}

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LogPath();
        QFile::remove("SyncValue.dat");
    }

    // A 251-entry file for `arm` whose three axes span -500 .. 2000 in 10 mm steps.
    static CompFile LongFile(int arm) {
        CompFile f(251);
        for (int a = 0; a < 3; ++a) {
            f.Axis(a).start = -500.0;
            f.Axis(a).step = 10.0;
        }
        f.Axis(0).param3 = arm - 0.04;  // rounded as value + 0.05
        return f;
    }

    static void Load(const CompFile& f, int records = 3) {
        f.Write("compens.dat", records);
        ASSERT_EQ(ReadCompensationFile(L"compens.dat"), 1);
    }

    ScopedWorkDir dir_;
};

TEST_F(ModelTest, DisplacementAlongXGrowingWithX) {
    CompFile f = LongFile(1);
    f.Fill(0, 0, [](double p) { return 2e-4 * p; });
    Load(f);
    const double tip[3] = {0, 0, 0};
    struct Row {
        const char* legend;
        double x;
        double error;
    };
    const Row rows[] = {
        {"inside", 123.4, 2e-4 * 123.4},
        {"exactly at start: first entry", -500.0, -0.1},
        {"exactly at the upper end: last entry", 2000.0, 0.4},
        {"below start: no error from X", -500.5, 0.0},
        {"above the upper end: no error from X", 2000.5, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const P4 from = Evaluate(AsiErrorModel, tip, row.x, 7.0, 3.0, row.x, kModelFromMachine);
        EXPECT_NEAR(from.v[0], row.x + row.error, kTol);
        EXPECT_NEAR(from.v[1], 7.0, kTol);
        EXPECT_NEAR(from.v[2], 3.0, kTol);
        const P4 to = Evaluate(AsiErrorModel, tip, row.x, 7.0, 3.0, 0.0, kModelToMachine);
        EXPECT_NEAR(to.v[0], row.x - row.error, kTol);
    }
}

TEST_F(ModelTest, WholeNumberIndexForFractionalSteps) {
    // Entry k holds k * k / 1000, so the index and weight used show in the value.
    const auto square = [](int k) { return k * k / 1000.0; };
    struct Row {
        const char* legend;
        double step, x;
        double error;
    };
    const Row rows[] = {
        {"12.5 mm, 30 above start: 30 div 12 = 2, weight 0.4", 12.5, 30.0,
         square(2) + 0.4 * (square(3) - square(2))},
        {"12.5 mm, 149 above start: 149 div 12 = 12, weight -0.08", 12.5, 149.0,
         square(12) - 0.08 * (square(13) - square(12))},
        {"12.5 mm, index past the table: last entry", 12.5, 3000.0, square(250)},
        {"0.5 mm has no whole part: real quotient 60.6", 0.5, 30.3,
         square(60) + 0.6 * (square(61) - square(60))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CompFile f = LongFile(1);
        f.Axis(0).start = 0.0;
        f.Axis(0).step = row.step;
        for (int k = 0; k < 251; ++k)
            f.Axis(0).tables[0][k] = square(k);
        Load(f);
        const double tip[3] = {0, 0, 0};
        const P4 p = Evaluate(AsiErrorModel, tip, row.x, 0.0, 0.0, row.x, kModelFromMachine);
        EXPECT_NEAR(p.v[0] - row.x, row.error, kTol);
    }
}

TEST_F(ModelTest, SquarenessOnTheLeverArmsOfArmOne) {
    const double q0 = 15.0, q1 = 25.0, q2 = 40.0;  // micro-radians, X, Y, Z records
    CompFile f = LongFile(1);
    f.Axis(0).squareness = q0;
    f.Axis(1).squareness = q1;
    f.Axis(2).squareness = q2;
    f.Axis(1).origin = 100.7;  // levers start at the whole-number origins 100 and -20
    f.Axis(2).origin = -20.9;
    Load(f);
    const double x = 300.0, y = 450.0, z = -80.0;
    const std::array<double, 3> t{10.0, -30.0, -150.0};
    // Dvec: (0, q1, q2) on (0, y - 100, 0); Cvec: (q0, q1, q2) on (0, 0, z + 20);
    // Bvec: (q0, q1, q2) on the tip.
    const auto d = Cross({0, q1, q2}, {0, y - 100, 0});
    const auto c = Cross({q0, q1, q2}, {0, 0, z + 20});
    const auto b = Cross({q0, q1, q2}, t);
    LogView log;
    const P4 p = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelFromMachine);
    EXPECT_NEAR(p.v[0], x + b[0] + c[0] + d[0], kTol);
    EXPECT_NEAR(p.v[1], y + b[1] + c[1] + d[1], kTol);
    EXPECT_NEAR(p.v[2], z + b[2] + c[2] + d[2], kTol);
    EXPECT_NEAR(d[0], -q2 * 350 / kMu, 1e-15) << "the pure squareness term by hand";
    for (const char* line :
         {"  ARM: 1   RZ1 :      0.0000000000000  LZ1 :      0.0000000000000\n",
          " tip (mm):    10.0000   -30.0000  -150.0000\n",
          " dsp (mm):     0.0000     0.0000     0.0000\n", " Bvec (mm): ", " Cvec (mm): ",
          " Dvec (mm):       -0.0140        0.0000        0.0000 \n",
          " sum (mm): ", " Forward VolComp: "})
        EXPECT_TRUE(log.Has(line)) << line;
}

TEST_F(ModelTest, RotationsWithTheTipAsLever) {
    CompFile f = LongFile(1);
    f.Fill(2, 5, [](double) { return 20.0; });  // Z axis rotates about Z
    f.Fill(0, 3, [](double) { return 30.0; });  // X axis rotates about X
    Load(f);
    const std::array<double, 3> t{10.0, 150.0, -200.0};
    const double x = 100.0, y = 40.0, z = 60.0;
    // RX = RXY = (30, 0, 0), RXYZ = (30, 0, 20).
    const auto b = Cross({30, 0, 20}, t);
    const auto c = Cross({30, 0, 0}, {0, 0, z});
    const auto d = Cross({30, 0, 0}, {0, y, 0});
    EXPECT_NEAR(b[0], -0.003, 1e-15) << "20 micro-radians on a 150 mm lever";
    const P4 from = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelFromMachine);
    const P4 to = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelToMachine);
    for (int i = 0; i < 3; ++i) {
        const double sum = b[i] + c[i] + d[i];
        EXPECT_NEAR(from.v[i], (i == 0 ? x : i == 1 ? y : z) + sum, kTol);
        EXPECT_NEAR(to.v[i], (i == 0 ? x : i == 1 ? y : z) - sum, kTol);
    }
}

TEST_F(ModelTest, OtherArmsComposeTheirOwnChains) {
    const std::array<double, 3> t{5.0, -20.0, -100.0};
    const double x = 300.0, y = 200.0, z = -50.0;
    struct Row {
        const char* legend;
        int arm;
        std::function<void(CompFile&)> setup;
        std::array<double, 3> delta;
    };
    const Row rows[] = {
        {"arm 2: Z-in-Y cross term LZ1 and RZ1 on the X rotation", 2,
         [](CompFile& f) {
             f.Axis(2).param1 = 2e-7;  // LZ1
             f.Axis(2).param2 = 1e-3;  // RZ1
         },
         [&] {
             const double k = z * y * 1e-3;
             auto b = Cross({k, 0, 0}, t);          // RXZY
             auto c = Cross({k, 0, 0}, {0, y, 0});  // RXZ on the Y lever
             return std::array<double, 3>{b[0] + c[0], y * 2e-7 * z + b[1] + c[1], b[2] + c[2]};
         }()},
        {"arm 3: Y rotation about Y on the X lever", 3,
         [](CompFile& f) { f.Fill(1, 4, [](double) { return 12.0; }); },
         [&] {
             auto b = Cross({0, 12, 0}, t);
             auto c = Cross({0, 12, 0}, {0, 0, z});
             auto d = Cross({0, 12, 0}, {x, 0, 0});
             return std::array<double, 3>{b[0] + c[0] + d[0], b[1] + c[1] + d[1],
                                          b[2] + c[2] + d[2]};
         }()},
        {"arm 4: X moves the part, X errors subtract, squareness times position", 4,
         [](CompFile& f) {
             f.Fill(0, 1, [](double) { return 0.004; });
             f.Fill(0, 3, [](double) { return 9.0; });
             f.Axis(2).squareness = 0.002;
         },
         [&] {
             auto d = Cross({9, 0, 0}, {t[0], t[1] + y, t[2] + z});
             return std::array<double, 3>{-0.002 * y - d[0], -0.004 - d[1], -d[2]};
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CompFile f = LongFile(row.arm);
        row.setup(f);
        Load(f);
        LogView log;
        const P4 p = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelFromMachine);
        EXPECT_NEAR(p.v[0] - x, row.delta[0], kTol);
        EXPECT_NEAR(p.v[1] - y, row.delta[1], kTol);
        EXPECT_NEAR(p.v[2] - z, row.delta[2], kTol);
        EXPECT_EQ(log.Has("  ZINY crs : ( mm ) "), row.arm == 2);
        EXPECT_EQ(log.Has(" tip (mm):"), row.arm != 4) << "arm 4 logs only its sum";
        // CNC arms 1 to 4 are the same model.
        const P4 cnc = Evaluate(CncErrorModel, t.data(), x, y, z, x, kModelFromMachine);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(cnc.v[i], p.v[i], kTol);
    }
}

TEST_F(ModelTest, SyncCorrectionOfArmOneInBothDirections) {
    WriteSyncFile([](int k) { return k == 250 ? 0.5 : 0.002 * k; }, 1500.0, 250.0);
    CompFile f = LongFile(1);
    f.Axis(0).start = 0.0;
    Load(f);
    ASSERT_TRUE(CompTables().syncLoaded);
    const double tip[3] = {0, 0, 0};
    const double x = 123.0, y = 200.0;
    const double offset = 0.024 + 0.3 * 0.002 + 0.5;  // index 12, weight 0.3, plus sync[250]
    struct Row {
        const char* legend;
        double s;
    };
    for (const Row& row : {Row{"same point: s equals x", x}, Row{"second drive ahead", x + 0.1}}) {
        SCOPED_TRACE(row.legend);
        LogView log;
        const P4 p = Evaluate(AsiErrorModel, tip, x, y, 0.0, row.s, kModelFromMachine);
        // d is added to the X yaw and d * X2C to the X displacement; the yaw acts on the
        // Y lever through Dvec.
        const double d = (row.s + offset - x) / 1500.0;
        EXPECT_NEAR(p.v[0], x + d * 250.0 - d * y / kMu, kTol);
        EXPECT_NEAR(p.v[1], y, kTol);
        EXPECT_TRUE(log.Has("step_n:  12 \nmin:        0.02400 max:       0.02600 \n"));
        EXPECT_TRUE(log.Has(" x:     123.00000   s: "));
        EXPECT_TRUE(log.Has(QString::asprintf("SYNC XYAW incrment : %13.2f micro-radian\n", d * kMu)
                                .toStdString()));
        EXPECT_TRUE(
            log.Has(QString::asprintf("SYNC XLIN incrment : %13.2f micron\n", d * 250.0 * 1000.0)
                        .toStdString()));
    }
    LogView log;
    const P4 to = Evaluate(AsiErrorModel, tip, x, y, 0.0, 0.0, kModelToMachine);
    EXPECT_NEAR(to.v[0], x, kTol) << "no sync increment towards the machine";
    EXPECT_NEAR(to.v[3], x - offset, kTol) << "second drive target";
    EXPECT_FALSE(log.Has("SYNC"));
    EXPECT_TRUE(
        log.Has(" Reverse VolComp:     123.00000     200.00000       0.00000     122.47540 \n"));
}

TEST_F(ModelTest, ArmFiveBlendsTheSecondRailAcrossX) {
    WriteSyncFile([](int) { return 0.3; }, 1500.0, 250.0);  // arm 5 ignores sync increments
    struct Row {
        const char* legend;
        int records;
        double w;
        double dy;
    };
    const double g = (250.5 - 50.5) / 800.0;
    const Row rows[] = {
        {"W 800: Y errors blended with g = (x - X origin) / W", 4, 800.0,
         1e-4 * 300 + g * (3e-4 * 300 - 1e-4 * 300)},
        {"fourth record start 0: arm 1 without sync", 4, 0.0, 1e-4 * 300},
        {"W 5: not above 10, not used", 4, 5.0, 1e-4 * 300},
        {"no fourth record", 3, 800.0, 1e-4 * 300},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CompFile f = LongFile(5);
        f.Axis(0).origin = 50.5;
        f.Fill(1, 1, [](double p) { return 1e-4 * p; });
        f.Axis(3).start = row.w;
        f.Axis(3).step = 99.0;  // the fourth record uses the Y axis's start and step
        for (int k = 0; k < 251; ++k)
            f.Axis(3).tables[1][k] = 3e-4 * f.PositionOf(1, k);
        Load(f, row.records);
        const double tip[3] = {0, 0, 0};
        LogView log;
        const P4 p = Evaluate(AsiErrorModel, tip, 250.5, 300.0, 0.0, 250.5, kModelFromMachine);
        EXPECT_NEAR(p.v[0], 250.5, kTol);
        EXPECT_NEAR(p.v[1], 300.0 + row.dy, kTol);
        EXPECT_FALSE(log.Has("step_n"));
        EXPECT_TRUE(log.Has(" Forward VolComp (13.5): "));
        const P4 to = Evaluate(AsiErrorModel, tip, 250.5, 300.0, 0.0, 0.0, kModelToMachine);
        EXPECT_NEAR(to.v[1], 300.0 - row.dy, kTol);
        EXPECT_EQ(to.v[3], to.v[0]) << "with sync loaded, s follows x";
        EXPECT_TRUE(log.Has(" Reverse VolComp (13.5): "));
    }
}

// The 51-entry model: errors in micrometres and micro-radians; Z is looked up twice.
class ShortModelTest : public ModelTest {
  protected:
    static constexpr double kZStart = 50.0;

    static CompFile ShortFile(int arm, int sub) {
        CompFile f(51);
        f.Axis(0).param3 = arm;
        f.Axis(1).param3 = sub + 0.7;      // truncated
        f.Axis(0).negativeStored = 500.0;  // -500 .. 500
        f.Axis(0).step = 20.0;
        f.Axis(1).negativeStored = 500.0;
        f.Axis(1).step = 20.0;
        f.Axis(2).negativeStored = 400.0;  // -400 .. 100
        f.Axis(2).step = 10.0;
        f.Axis(2).start = kZStart;
        f.Axis(0).squareness = 11.0;
        f.Axis(1).squareness = 13.0;
        f.Axis(2).squareness = 17.0;
        for (int c = 0; c < 6; ++c) {
            f.Fill(0, c, [c](double p) { return X(c, p); });
            f.Fill(1, c, [c](double p) { return Y(c, p); });
            f.Fill(2, c, [c](double p) { return Z(c, p); });
        }
        return f;
    }
    // Linear tables, so interpolation is exact and the values can be written down.
    static double X(int c, double p) { return 0.01 * p + c; }
    static double Y(int c, double p) { return -0.02 * p + 2 * c; }
    static double Z(int c, double p) { return 0.03 * p + 3 * c + 1; }

    // The correction written out from the model's formulas for point (x, y, z), tip t.
    static std::array<double, 3> Expected(int arm, int sub, double x, double y, double z,
                                          std::array<double, 3> t) {
        double e[3][6];
        for (int c = 0; c < 6; ++c) {
            e[0][c] = X(c, x);
            e[1][c] = Y(c, y);
            e[2][c] = Z(c, z);
        }
        // The second Z look-up reads the table at distance start - z from its lower end.
        double zz[6];
        for (int c = 0; c < 6; ++c)
            zz[c] = Z(c, -400.0 + (kZStart - z));
        e[2][1] = zz[1];
        const double q0 = 11.0, q1 = 13.0, q2 = 17.0;
        e[0][4] += q2;
        e[1][3] += q1;
        double yaw = e[0][5];
        if (arm == 1 && (sub == 2 || sub == 3))
            yaw -= q0;
        if (arm == 1 && (sub == 1 || sub == 4))
            e[1][5] -= q0;
        if (arm == 2)
            yaw -= q0;
        const double dx = zz[0] + e[1][0] + e[0][0];
        const double dy = e[1][1] + e[0][1] + e[2][1];
        const double dz = zz[2] + e[1][2] + e[0][2];
        const double u = e[1][4] + e[0][4], m = zz[4] + u, ee = e[0][3] + e[1][3];
        const double lr = zz[3] + ee, v = yaw + e[1][5] - zz[5];
        double h = 0, g = 0, f = 0;
        if (arm == 1 && (sub == 2 || sub == 3)) {
            h = -(u * z) - yaw * y - m * t[2] - v * t[1];
            g = v * t[0] - (lr * t[2] + ee * z);
            f = lr * t[1] + e[0][3] * y + m * t[0];
        } else if (arm == 1 && (sub == 1 || sub == 4)) {
            f = lr * t[1] + e[1][4] * x + m * t[0];
            g = -(ee * z) - e[1][5] * x - lr * t[2] - v * t[0];
            h = v * t[1] - (m * t[2] + u * z);
        } else if (arm == 2) {
            f = lr * t[1] + ee * y + m * t[0];
            g = v * t[0] - (lr * t[2] + e[0][3] * z);
            h = -(e[0][4] * z) - zz[5] * y - yaw * y - m * t[2] - v * t[1];
        }
        return {(h + dx * 1000) / kMu, (g + dy * 1000) / kMu, (f + dz * 1000) / kMu};
    }
};

TEST_F(ShortModelTest, SubModeGroupsAndArms) {
    struct Row {
        const char* legend;
        int arm, sub;
    };
    const Row rows[] = {
        {"arm 1, sub-mode 2", 1, 2},
        {"arm 1, sub-mode 3", 1, 3},
        {"arm 1, sub-mode 1", 1, 1},
        {"arm 1, sub-mode 4", 1, 4},
        {"arm 2", 2, 0},
        {"arm 1, undefined sub-mode 7: displacements only", 1, 7},
        {"undefined arm 6: displacements only", 6, 2},
    };
    const std::array<double, 3> t{12.0, -40.0, -180.0};
    const double x = 123.0, y = -250.0, z = -33.0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Load(ShortFile(row.arm, row.sub));
        const auto want = Expected(row.arm, row.sub, x, y, z, t);
        LogView log;
        const P4 from = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelFromMachine);
        const P4 to = Evaluate(AsiErrorModel, t.data(), x, y, z, x, kModelToMachine);
        const double in[3] = {x, y, z};
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(from.v[i], in[i] + want[i], kTol) << i;
            EXPECT_NEAR(to.v[i], in[i] - want[i], kTol) << i;
        }
        EXPECT_EQ(log.Count("\n"), 2) << "only the two ARM lines: " << log.Text();
        // The CNC model runs the same 51-entry model.
        const P4 cnc = Evaluate(CncErrorModel, t.data(), x, y, z, x, kModelFromMachine);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(cnc.v[i], from.v[i], kTol);
    }
}

TEST_F(ShortModelTest, SecondZLookUpOutsideItsTableUsesTheFirstEntry) {
    // z = 80 lies inside the Z range but above the Z start (50): start - z is negative
    // and has no entry, so the first entry (position -400) is used with weight 0.
    Load(ShortFile(2, 0));
    const double t[3] = {0, 0, 0};
    const P4 p = Evaluate(AsiErrorModel, t, 0.0, 0.0, 80.0, 0.0, kModelFromMachine);
    // At x = y = 0: X(c) = c, Y(c) = 2c, second Z values Z(c, -400) = 3c - 11, e[0][4] =
    // 4 + 17. h = -21 * 80, g = -3 * 80, f = 0; D = (-11, 2 + 1 - 8, -5 + 4 + 2) um.
    EXPECT_NEAR(p.v[0], (-21.0 * 80.0 - 11.0 * 1000.0) / kMu, kTol);
    EXPECT_NEAR(p.v[1], (-3.0 * 80.0 - 5.0 * 1000.0) / kMu, kTol);
    EXPECT_NEAR(p.v[2], 80.0 + 1.0 * 1000.0 / kMu, kTol);
}

TEST_F(ModelTest, CncArmFiveClampsToTheTableEnds) {
    CompFile f(251);
    f.Axis(0).param3 = 5.0;
    f.Axis(0).start = 0.0;  // X 0 .. 2500
    f.Axis(0).step = 10.0;
    f.Axis(1).start = 100.0;  // Y 100 .. 2600
    f.Axis(1).step = 10.0;
    f.Axis(2).start = -500.0;  // Z -500 .. 2000
    f.Axis(2).step = 10.0;
    f.Axis(2).squareness = 1e-4;
    f.Fill(0, 0, [](double p) { return 1e-4 * p; });
    for (int k = 0; k < 251; ++k)
        f.Axis(1).tables[1][k] = 0.01 * (k + 1);
    f.Fill(2, 5, [](double) { return 10.0; });
    for (int k = 0; k < 251; ++k)
        f.Axis(2).tables[0][k] = 0.001 * k;
    const std::array<double, 3> t{0.0, 100.0, 0.0};

    struct Row {
        const char* legend;
        double zStep;
        double x, y, z;
        std::array<double, 3> delta;
        std::vector<std::string> lines;
    };
    // Z entry k displaces X by k / 1000; the Z rotation 10 on the reversed tip gives
    // (0.001, 0, 0); squareness q2 * y is taken from X.
    const Row rows[] = {
        {"x above the end, y below the start",
         10.0,
         3000.0,
         50.0,
         0.0,
         {0.25 + 0.05 + 0.001 - 1e-4 * 50.0, 0.01, 0.0},
         {" Machine Coordinate:   3000.0000      50.0000       0.0000\n",
          "p[i]:  3000.000 > max:  2500.000\n", " Axis:0 Index Position:251  weight:  0.0000\n",
          "min:    100.000 > p[i]:    50.000\n", " Axis:1 Index Position:1  weight:  0.0000\n",
          " Axis:2 Index Position:51  weight:  0.0000\n",
          " Geo. Error:    0.2500     0.0000     0.0000       0.00       0.00       0.00\n",
          " Geo. Error:    0.0500     0.0000     0.0000       0.00       0.00      10.00\n",
          " VecB:    -0.0000  -100.0000    -0.0000(reverse of tip)\n",
          " VecC:     0.0000     0.0000   500.0000\n", " VecD:  3000.0000     0.0000     0.0000\n",
          " mode: 1 \n"}},
        {"inside: interpolated",
         10.0,
         123.0,
         234.5,
         7.0,
         {1e-4 * 123.0 + 0.0507 + 0.001 - 1e-4 * 234.5, 0.01 * (13 + 1 + 0.45), 0.0},
         {" Axis:1 Index Position:14  weight:  0.4500\n"}},
        {"Z without a table keeps the Y index and weight",
         0.0,
         123.0,
         234.5,
         7.0,
         {1e-4 * 123.0 + 0.01345 + 0.001 - 1e-4 * 234.5, 0.01 * (13 + 1 + 0.45), 0.0},
         {" Axis:2 Index Position:14  weight:  0.4500\n"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        f.Axis(2).step = row.zStep;
        Load(f);
        LogView log;
        const P4 p = Evaluate(CncErrorModel, t.data(), row.x, row.y, row.z, 0.0, kModelFromMachine);
        EXPECT_NEAR(p.v[0] - row.x, row.delta[0], kTol);
        EXPECT_NEAR(p.v[1] - row.y, row.delta[1], kTol);
        EXPECT_NEAR(p.v[2] - row.z, row.delta[2], kTol);
        EXPECT_EQ(p.v[3], 0.0) << "s is not changed";
        EXPECT_TRUE(log.Has("  ARM: 5\n"));
        for (const std::string& line : row.lines)
            EXPECT_TRUE(log.Has(line)) << line << log.Text();
        LogView back;
        const P4 to = Evaluate(CncErrorModel, t.data(), row.x, row.y, row.z, 0.0, kModelToMachine);
        EXPECT_NEAR(row.x - to.v[0], row.delta[0], kTol);
        EXPECT_TRUE(back.Has(" mode: 0 \n"));
    }
}

TEST_F(ModelTest, FromThenToStaysWithinGradientTimesError) {
    CompFile f = LongFile(1);
    f.Fill(0, 0, [](double p) { return 3e-4 * p; });
    f.Fill(1, 1, [](double p) { return -2e-4 * p + 0.01; });
    f.Fill(2, 2, [](double p) { return 1e-4 * p; });
    f.Fill(0, 5, [](double p) { return 0.05 * p; });
    f.Fill(1, 3, [](double) { return 15.0; });
    f.Axis(2).squareness = 30.0;
    Load(f);
    const std::array<double, 3> t{20.0, -60.0, -150.0};
    const auto error = [&](std::array<double, 3> q) {
        const P4 p = Evaluate(AsiErrorModel, t.data(), q[0], q[1], q[2], q[0], kModelFromMachine);
        return std::array<double, 3>{p.v[0] - q[0], p.v[1] - q[1], p.v[2] - q[2]};
    };
    for (std::array<double, 3> q : {std::array<double, 3>{123.0, 456.0, -78.0},
                                    std::array<double, 3>{1500.0, -300.0, 900.0}}) {
        // Largest row sum of the error's gradient (finite differences; the tables are
        // linear inside a cell).
        double gradient = 0.0;
        for (int i = 0; i < 3; ++i) {
            double row = 0.0;
            for (int j = 0; j < 3; ++j) {
                auto up = q;
                up[j] += 1.0;
                row += std::fabs(error(up)[i] - error(q)[i]);
            }
            gradient = std::max(gradient, row);
        }
        const auto e = error(q);
        const double size = std::max({std::fabs(e[0]), std::fabs(e[1]), std::fabs(e[2])});
        P4 p{{q[0], q[1], q[2], q[0]}};
        AsiErrorModel(t.data(), p.v, kModelFromMachine);
        AsiErrorModel(t.data(), p.v, kModelToMachine);
        for (int i = 0; i < 3; ++i)
            EXPECT_LE(std::fabs(p.v[i] - q[i]), 1.01 * gradient * size + 1e-12) << i;
        EXPECT_GT(size, 0.05) << "the errors are large enough to matter";
    }
}

}  // namespace
