// Grid correction: loading every kind of file, the bilinear value, the two heights and
// the edge cells.
#include <gtest/gtest.h>

#include "driver/volcomp/GridCompensation.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"

using namespace volcomptest;

namespace {

constexpr double kTol = 1e-9;

// Errors that differ in every cell so a wrong cell or weight shows: grid g, cell (i, j).
std::array<double, 2> Cell(int g, int i, int j) {
    return {0.001 * g * (i + 1) + 0.0001 * j, -0.002 * g * (j + 1) + 0.0003 * i};
}

GridFile ThreeByTwo() {
    GridFile file;
    file.xStart = -100.0;
    file.yStart = 20.0;
    file.cell = Cell;
    return file;
}

// The bilinear value of grid g at cell (i, j) with weights fu, fv, written out by hand.
std::array<double, 2> Expected(int g, int i, int j, double fu, double fv) {
    std::array<double, 2> out{};
    for (int k = 0; k < 2; ++k)
        out[k] = (1 - fu) * (1 - fv) * Cell(g, i, j)[k] + fu * (1 - fv) * Cell(g, i + 1, j)[k] +
                 (1 - fu) * fv * Cell(g, i, j + 1)[k] + fu * fv * Cell(g, i + 1, j + 1)[k];
    return out;
}

class GridTest : public ::testing::Test {
  protected:
    void SetUp() override { LogPath(); }
    ScopedWorkDir dir_;
};

TEST_F(GridTest, LoadResultsAndLogLines) {
    struct Row {
        const char* legend;
        std::function<void()> write;
        int result;
        const char* logLine;
        const wchar_t* problem = L"compgrid.dat";  // what a report names
    };
    const auto changed = [](auto change) {
        return [change] {
            GridFile f = ThreeByTwo();
            change(f);
            f.Write();
        };
    };
    const Row rows[] = {
        {"no file: silent apart from the log", [] {}, 0,
         "Failed to open grid data file compgrid.dat\n"},
        {"good file", [] { ThreeByTwo().Write(); }, 1,
         "Grid1 X: 2 Y: 1 XErr: 0.0031 YErr: -0.0034\n"},
        {"header cut short", [] { ThreeByTwo().Write("compgrid.dat", 6 * 16 + 10); }, -1,
         "Opened grid data file compgrid.dat\n"},
        {"right size, other comment",
         [] {
             GridFile f = ThreeByTwo();
             f.comment = "SomethingElse";
             f.Write();
         },
         -1, "Invalid file type comment\n"},
        {"X count 1",
         [] {
             GridFile f = ThreeByTwo();
             f.xCount = 1;
             f.Write();
         },
         -1, "Grid data step count or step size too small\n"},
        {"Y step 0",
         [] {
             GridFile f = ThreeByTwo();
             f.yStep = 0.0;
             f.Write();
         },
         -1, "Grid data step count or step size too small\n"},
        {"grid 1 cut short", [] { ThreeByTwo().Write("compgrid.dat", 8); }, -2,
         "Grid data read error position 1 data\n"},
        {"grid 2 cut short",
         [] {
             GridFile f = ThreeByTwo();
             f.z2 = 100.0;
             f.Write("compgrid.dat", 8);
         },
         -2, "Grid data read error position 2 data\n"},
        {"nan Y error of a cell", changed([](GridFile& f) {
             f.cell = [](int, int i, int) {
                 return std::array<double, 2>{0.0, i == 2 ? NAN : 0.0};
             };
         }),
         -3, "compgrid.dat: grid 1, cell X 2 Y 0, Y error is not a finite number\n",
         L"compgrid.dat: grid 1, cell X 2 Y 0, Y error is not a finite number"},
        {"a FIFO is not read", [] { mkfifo("compgrid.dat", 0600); }, -1,
         "compgrid.dat is not a regular file\n", L"compgrid.dat is not a regular file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QFile::remove("compgrid.dat");
        row.write();
        LogView log;
        GridCompensation grid;
        EXPECT_EQ(grid.Load(), row.result);
        EXPECT_EQ(grid.IsLoaded(), row.result == 1);
        EXPECT_TRUE(log.Has(row.logLine)) << log.Text();
        EXPECT_EQ(grid.Problem(), row.problem);
        // A grid that did not load never changes a point.
        double p[3] = {-50.0, 40.0, 0.0};
        grid.Apply({}, p, GridCompensation::kFromMachine);
        if (row.result != 1) {
            EXPECT_EQ(p[0], -50.0);
            EXPECT_EQ(p[1], 40.0);
        }
    }
}

TEST_F(GridTest, HeaderLinesShowTheValuesRead) {
    GridFile f = ThreeByTwo();
    f.z1 = 5.0;
    f.z2 = 205.5;
    f.Write();
    LogView log;
    GridCompensation grid;
    ASSERT_EQ(grid.Load(), 1);
    EXPECT_EQ(grid.Mode(), 2);
    EXPECT_TRUE(log.Has("X Targets:   3.0   X StepSize: 100.0  Y StartPos: -100.00 \n"));
    EXPECT_TRUE(log.Has("Y Targets:   2.0   Y StepSize: 50.0  Y StartPos:   20.00 \n"));
    EXPECT_TRUE(log.Has("Z Pos 1:     5.00   Z pos 2:  205.50\n"));
    EXPECT_TRUE(log.Has("Grid2 X: 0 Y: 0 XErr: 0.0020 YErr: -0.0040\n"));
}

TEST_F(GridTest, CorrectionAtPointsInsideAndOutsideTheGrid) {
    ThreeByTwo().Write();
    GridCompensation grid;
    ASSERT_EQ(grid.Load(), 1);
    struct Row {
        const char* legend;
        double x, y;
        int i, j;
        double fu, fv;
    };
    const Row rows[] = {
        {"inside", -40.0, 35.0, 0, 0, 0.6, 0.3},
        {"on a target", 0.0, 20.0, 1, 0, 0.0, 0.0},
        {"below both starts: weight 0", -500.0, -7.0, 0, 0, 0.0, 0.0},
        {"beyond the last X target: count - 1.001", 1000.0, 45.0, 1, 0, 0.999, 0.5},
        {"exactly at the last targets", 100.0, 70.0, 1, 0, 0.999, 0.999},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const auto e = Expected(1, row.i, row.j, row.fu, row.fv);
        double from[3] = {row.x, row.y, 12.0};
        grid.Apply({1.0, 2.0, 3.0}, from, GridCompensation::kFromMachine);
        EXPECT_NEAR(from[0], row.x + e[0], kTol);
        EXPECT_NEAR(from[1], row.y + e[1], kTol);
        EXPECT_EQ(from[2], 12.0);
        // Towards the machine the errors at the given point are subtracted.
        double to[3] = {row.x, row.y, 12.0};
        grid.Apply({}, to, GridCompensation::kToMachine);
        EXPECT_NEAR(to[0], row.x - e[0], kTol);
        EXPECT_NEAR(to[1], row.y - e[1], kTol);
    }
}

TEST_F(GridTest, SecondHeightIsUsedOnlyWhenFarEnoughApart) {
    struct Row {
        const char* legend;
        double z1, z2, z;
        int mode;
        bool interpolated;
    };
    const Row rows[] = {
        {"10 and 20: grid 2 read, not used", 10.0, 20.0, 15.0, 2, false},
        {"0.5 apart: grid 2 not even read", 10.0, 10.5, 15.0, 1, false},
        {"0 and 100, between", 0.0, 100.0, 25.0, 2, true},
        {"0 and 100, extrapolated above", 0.0, 100.0, 150.0, 2, true},
        {"100 and 0, reversed heights", 100.0, 0.0, -20.0, 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        GridFile f = ThreeByTwo();
        f.z1 = row.z1;
        f.z2 = row.z2;
        f.Write();
        GridCompensation grid;
        ASSERT_EQ(grid.Load(), 1);
        EXPECT_EQ(grid.Mode(), row.mode);
        const auto g1 = Expected(1, 0, 0, 0.6, 0.3);
        const auto g2 = Expected(2, 0, 0, 0.6, 0.3);
        double p[3] = {-40.0, 35.0, row.z};
        grid.Apply({}, p, GridCompensation::kFromMachine);
        for (int k = 0; k < 2; ++k) {
            const double want = row.interpolated
                                    ? g1[k] + (g2[k] - g1[k]) / (row.z2 - row.z1) * (row.z - row.z1)
                                    : g1[k];
            EXPECT_NEAR(p[k] - (k == 0 ? -40.0 : 35.0), want, kTol);
        }
    }
}

TEST_F(GridTest, FromThenToRestoresOnlyWhereTheErrorIsFlat) {
    GridFile flat = ThreeByTwo();
    flat.cell = [](int, int, int) { return std::array<double, 2>{0.01, -0.02}; };
    flat.Write();
    GridCompensation grid;
    ASSERT_EQ(grid.Load(), 1);
    double p[3] = {-40.0, 35.0, 0.0};
    grid.Apply({}, p, GridCompensation::kFromMachine);
    grid.Apply({}, p, GridCompensation::kToMachine);
    EXPECT_NEAR(p[0], -40.0, kTol);
    EXPECT_NEAR(p[1], 35.0, kTol);
}

}  // namespace
