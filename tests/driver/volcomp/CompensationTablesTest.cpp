// The table file reader: both layouts, damaged files, the fourth record, the sync file,
// the listing and HasTableData.
#include <gtest/gtest.h>

#include "driver/volcomp/CompensationTables.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"

using namespace volcomptest;

namespace {

class TablesTest : public ::testing::Test {
  protected:
    void SetUp() override { LogPath(); }
    ScopedWorkDir dir_;
};

CompFile LongFile() {
    CompFile f(251);
    for (int a = 0; a < 3; ++a)
        f.Axis(a).step = 10.0;
    f.Fill(0, 0, [](double p) { return 0.001 * p; });
    return f;
}

TEST_F(TablesTest, ResultsForEveryKindOfFile) {
    struct Row {
        const char* legend;
        std::function<void()> write;
        int result;
        bool longLayout;
        const wchar_t* problem = L"";  // the reader's text for the operator
    };
    const Row rows[] = {
        {"missing file", [] {}, -1, false},
        {"three 251-entry records", [] { LongFile().Write("t.dat"); }, 1, true},
        {"three 51-entry records", [] { CompFile(51).Write("t.dat"); }, 1, false},
        // Short files are refused instead of running with uncorrected axes.
        {"one whole 251-entry record", [] { LongFile().Write("t.dat", 1); }, -2, false},
        {"two whole 251-entry records and a bit", [] { LongFile().Write("t.dat", 3, 12112 - 100); },
         -2, false},
        {"two 51-entry records", [] { CompFile(51).Write("t.dat", 2); }, -2, false},
        {"less than one 51-entry record", [] { CompFile(51).Write("t.dat", 1, 8); }, -2, false},
        {"empty file", [] { WriteBytes("t.dat", {}); }, -2, false},
        {"Y start equals its stored negative limit",
         [] {
             CompFile f = LongFile();
             f.Axis(1).start = 1000.0;
             f.Write("t.dat");
         },
         -3, true},
        {"nan squareness in the Y record",
         [] {
             CompFile f = LongFile();
             f.Axis(1).squareness = NAN;
             f.Write("t.dat");
         },
         -4, false, L"t.dat: Y record, squareness is not a finite number"},
        {"inf in a 51-entry table",
         [] {
             CompFile f(51);
             f.Axis(2).tables[4][50] = -HUGE_VAL;
             f.Write("t.dat");
         },
         -4, false, L"t.dat: Z record, component 4 entry 50 is not a finite number"},
        {"a FIFO (it would block)", [] { mkfifo("t.dat", 0600); }, -1, false,
         L"t.dat is not a regular file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QFile::remove("t.dat");
        // Known previous state: a 51-entry file with a recognisable X squareness.
        CompFile before(51);
        before.Axis(0).squareness = 77.0;
        before.Write("before.dat");
        ASSERT_EQ(ReadCompensationFile(L"before.dat"), 1);
        row.write();
        std::wstring problem = L"stale";
        EXPECT_EQ(ReadCompensationFile(L"t.dat", &problem), row.result);
        EXPECT_EQ(problem, row.problem);
        EXPECT_EQ(CompTables().longLayout, row.longLayout);
        // Refused files leave the tables alone; -3 has replaced the axes before the bad one.
        const bool replacedX = row.result == 1 || row.result == -3;
        EXPECT_EQ(CompTables().axis[0].squareness, replacedX ? 0.0 : 77.0);
    }
    EXPECT_EQ(ReadCompensationFile(L""), -1);
}

TEST_F(TablesTest, StoresFieldsAndLogsThem) {
    CompFile f = LongFile();
    AxisRecord& z = f.Axis(2);
    z.origin = -12.75;
    z.param1 = 0.125;
    z.param2 = -2.5;
    z.param3 = 3.0;
    z.negativeStored = 400.0;
    z.start = -300.0;
    z.squareness = 1.5;
    z.step = 12.5;
    f.Write("t.dat");
    LogView log;
    ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
    const CompAxisInfo& info = CompTables().axis[2];
    EXPECT_EQ(info.negative, -400.0);
    EXPECT_EQ(info.start, -300.0);
    EXPECT_EQ(info.step, 12.5);
    EXPECT_EQ(info.origin, -12.75);
    for (const char* line :
         {"  COMPENS.DAT (251 max. for each component)No. 0 Axis \n", "No. 2 Axis \n",
          " Parameters:     0.1250000000    -2.5000000000       3.00000 \n",
          " squareness:   1.500000 (mu-rad) \n", " step      :       12.5 (mm) \n",
          " start     :     -300.0 (mm) \n", " negative  :     -400.0 (mm) \n",
          " origin    :      -12.8 (mm) \n",
          " ===================================================\n"})
        EXPECT_TRUE(log.Has(line)) << line;
    EXPECT_EQ(log.Count("No. "), 3);
}

TEST_F(TablesTest, ShortLayoutLogsWithoutParametersOriginAndSeparator) {
    CompFile f(51);
    f.Axis(0).step = 20.0;
    f.Write("t.dat");
    LogView log;
    ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
    EXPECT_TRUE(log.Has("  COMPENS.DAT  \nNo. 0 Axis \n squareness:"));
    EXPECT_FALSE(log.Has("Parameters"));
    EXPECT_FALSE(log.Has("origin"));
    EXPECT_FALSE(log.Has("====="));
    EXPECT_EQ(log.Count(" 0.0000   0.0000   0.0000     0.00    0.00     0.00\n"), 3 * 3)
        << "all-zero tables list three rows each";
}

TEST_F(TablesTest, ListingStopsAfterThreeEqualValuesOfComponentZero) {
    CompFile f = LongFile();
    // X: 0 1 2 5 5 5 6 7 ...: rows 0 to 5 are listed; Y: strictly rising, all 251 rows.
    f.Fill(0, 0, [](double p) {
        const int k = int(p / 10.0);
        return k < 3 ? double(k) : k < 6 ? 5.0 : double(k);
    });
    f.Fill(1, 0, [](double p) { return p; });
    f.Fill(2, 0, [](double) { return 9.0; });
    f.Write("t.dat");
    LogView log;
    ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
    EXPECT_EQ(log.Count("\n   5.0000 "), 3);
    EXPECT_FALSE(log.Has("\n   6.0000 ")) << "X row 6 is past the stop";
    EXPECT_TRUE(log.Has("\n 2500.0000 ")) << "Y lists its last row";
    EXPECT_EQ(log.Count("\n   9.0000 "), 3);
    // The stop is only in the listing: the table keeps every entry.
    EXPECT_EQ(CompTables().longTables[0][0][200], 200.0);
}

TEST_F(TablesTest, FourthRecordFillsItsSlotOnlyWithPositiveW) {
    struct Row {
        const char* legend;
        int records;
        double w;
        bool filled;
    };
    const Row rows[] = {
        {"fourth record with W 600", 4, 600.0, true},
        {"fourth record with start 0", 4, 0.0, false},
        {"no fourth record", 3, 600.0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CompTables().longTables[3][1].fill(-1.0);
        CompFile f = LongFile();
        f.Axis(3).start = row.w;
        f.Axis(3).negativeStored = 1.0;
        f.Fill(3, 1, [](double) { return 0.25; });
        f.Write("t.dat", row.records);
        ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
        EXPECT_EQ(CompTables().hasFourth, row.records == 4);
        EXPECT_EQ(CompTables().w, row.records == 4 ? row.w : 0.0);
        EXPECT_EQ(CompTables().longTables[3][1][7], row.filled ? 0.25 : -1.0);
    }
}

TEST_F(TablesTest, SyncFileStates) {
    struct Row {
        const char* legend;
        std::function<void()> write;
        bool loaded;
        const char* logLine;
    };
    const Row rows[] = {
        {"whole file", [] { WriteSyncFile([](int k) { return 0.001 * k; }, 1500.0, 250.0); }, true,
         "SyncValue at Data No. 250: 0.250000\nSyncS2X:1500.000000 mm\nSyncX2C:250.000000 "
         "mm\nSyncValue.dat OK\n"},
        {"one byte short", [] { WriteSyncFile([](int) { return 1.0; }, 1.0, 1.0, 1); }, false,
         "SyncValue.dat exists but was corrupted!\n"},
        {"no file", [] {}, false, "  COMPENS.DAT (251"},
        {"S2X not finite", [] { WriteSyncFile([](int) { return 1.0; }, std::nan(""), 1.0); }, false,
         "SyncValue.dat: value 1506 is not a finite number\nSyncValue.dat exists but"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QFile::remove("SyncValue.dat");
        row.write();
        LongFile().Write("t.dat");
        LogView log;
        ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
        EXPECT_EQ(CompTables().syncLoaded, row.loaded);
        EXPECT_TRUE(log.Has(row.logLine)) << log.Text().substr(0, 400);
        if (row.loaded) {
            EXPECT_EQ(CompTables().s2x, 1500.0);
            EXPECT_EQ(CompTables().x2c, 250.0);
            EXPECT_EQ(CompTables().sync[100], 0.1);
        }
    }
}

TEST_F(TablesTest, HasTableDataLooksAtXAndYComponentsOtherThanZDisplacement) {
    struct Row {
        const char* legend;
        int axis, component;
        double value;
        bool has;
    };
    const Row rows[] = {
        {"nothing at all", 0, 0, 0.0, false},
        {"X displacement along Z is ignored", 0, 2, 5.0, false},
        {"Y displacement along Z is ignored", 1, 2, 5.0, false},
        {"the whole Z record is ignored", 2, 0, 5.0, false},
        {"at the threshold", 0, 0, 1e-6, false},
        {"X displacement along X", 0, 0, 2e-6, true},
        {"Y displacement along Y, negative", 1, 1, -0.5, true},
        {"X rotation about X", 0, 3, 1.0, true},
        {"Y rotation about Z", 1, 5, 1.0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CompFile f = LongFile();
        f.Fill(0, 0, [](double) { return 0.0; });
        f.Axis(row.axis).tables[row.component][123] = row.value;
        f.Write("t.dat");
        ASSERT_EQ(ReadCompensationFile(L"t.dat"), 1);
        EXPECT_EQ(HasTableData(), row.has);
    }
}

}  // namespace
