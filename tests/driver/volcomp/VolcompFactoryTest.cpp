// Building methods through InitializeVolcomp, what they tell the host, and the ASI and
// CNC methods' origin, grid and second-drive handling.
#include <gtest/gtest.h>

#include <memory>

#include "driver/volcomp/AsiVolcomp.h"
#include "driver/volcomp/CncVolcomp.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/VolcompFactory.h"
#include "host/QlnServices.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"

using namespace volcomptest;

namespace {

constexpr double kTol = 1e-9;

struct Closer {
    void operator()(VolcompBaseClass* v) const { CloseVolcomp(v); }
};
using Volcomp = std::unique_ptr<VolcompBaseClass, Closer>;

class FactoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LogPath();
        ResetHost();
        QlnConfig().sectionPrefix = L"S:";
        qlnTheApp->machineName = L"Bench-7";
    }

    Volcomp Make(int method, const wchar_t* fileName = L"compens.dat", CPoint3 origin = CPoint3()) {
        return Volcomp(InitializeVolcomp(method, qlnTheApp, qlnTheApp->hostIface, 0, 0, 0, 1,
                                         origin, fileName, 0));
    }

    // A 251-entry arm 1 file whose X axis errs by 1e-4 * x along X (x from -500 to 2000).
    static void WriteTables(const QString& name) {
        CompFile f(251);
        for (int a = 0; a < 3; ++a) {
            f.Axis(a).start = -500.0;
            f.Axis(a).step = 10.0;
        }
        f.Axis(0).param3 = 1.0;
        f.Fill(0, 0, [](double p) { return 1e-4 * p; });
        f.Write(name);
    }

    static std::vector<std::wstring> BoxTexts() {
        std::vector<std::wstring> texts;
        for (const HostEvent& e : QlnRecorder().eventsOf(HostEventKind::MessageBox))
            texts.push_back(e.text);
        return texts;
    }

    ScopedWorkDir dir_;
};

TEST_F(FactoryTest, MethodNumbers) {
    WriteTables("compens.dat");
    WriteTables("other.dat");
    struct Row {
        const char* legend;
        int method;
        bool built;
        int sectionEvents;
        const wchar_t* sectionAsked;  // the name passed to the section-name service
    };
    const Row rows[] = {
        {"0: pass-through, announced with a null name", 0, true, 1, L""},
        {"13: ASI, loads compens.dat whatever the setting", 13, true, 1, L"compens.dat"},
        {"16: CNC, never announced", 16, true, 0, nullptr},
        {"1: not a method", 1, false, 0, nullptr},
        {"15: not a method", 15, false, 0, nullptr},
        {"255: not a method", 255, false, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnRecorder().clear();
        LogView log;
        Volcomp v = Make(row.method, L"other.dat");
        EXPECT_EQ(v != nullptr, row.built);
        const auto sections = QlnRecorder().eventsOf(HostEventKind::SectionName);
        ASSERT_EQ(int(sections.size()), row.sectionEvents);
        if (row.sectionAsked) {
            EXPECT_EQ(sections[0].text, row.sectionAsked);
            // A null name gives an empty section; an empty text would still get the prefix.
            EXPECT_EQ(sections[0].detail, row.method == 0 ? L"" : L"S:compens.dat");
        }
        if (row.built) {
            EXPECT_EQ(v->IsReady(), 1);
            EXPECT_TRUE(
                log.Has(QString::asprintf("\tInitializeVolcomp, nMethod=%d ptrVolcomp=%lx\n",
                                          row.method, (unsigned long)v.get())
                            .toStdString()));
        } else {
            const auto boxes = QlnRecorder().eventsOf(HostEventKind::MessageBox);
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].id, 2252);
            EXPECT_EQ(boxes[0].ints[0], 0) << "style OK";
            EXPECT_FALSE(log.Has("InitializeVolcomp"));
        }
    }
    // 11, 12 (DEA) and 14 (B&S) are methods: without their data they fail to load with
    // their own messages, and unlike an unknown method the log shows the null object.
    for (int method : {11, 12, 14}) {
        SCOPED_TRACE(method);
        QlnRecorder().clear();
        LogView log;
        Volcomp v = Make(method, L"missing.dat");
        EXPECT_EQ(v, nullptr);
        EXPECT_TRUE(
            log.Has(QString::asprintf("\tInitializeVolcomp, nMethod=%d ptrVolcomp=0\n", method)
                        .toStdString()));
    }
    // Method 13 read compens.dat, 16 the setting's file: both logged their file name.
    LogView log;
    Make(13, L"other.dat");
    EXPECT_TRUE(log.Has("CMM=Bench-7 ASI_Volcomp FileName=:compens.dat:\n"));
    Make(16, L"other.dat");
    EXPECT_TRUE(log.Has("CMM=Bench-7 CncVolcomp FileName=:other.dat:\n"));
    EXPECT_TRUE(log.Has("CMM=Bench-7 CNC ReadCompensationFile results=1\n"));
}

TEST_F(FactoryTest, FailedLoadsReportAndYieldNothing) {
    struct Row {
        const char* legend;
        int method;
        std::function<void()> write;
        const wchar_t* fileName;
        std::vector<std::wstring> boxes;
        const char* logLine;
        CPoint3 origin = CPoint3();
    };
    const std::wstring cannotOpen = QlnLoadString(6068) + L"\n" + QlnLoadString(6062);
    const std::wstring damaged = QlnLoadString(6066) + L"\n" + QlnLoadString(6062);
    const Row rows[] = {
        // The tables are driver-wide: what an earlier read left decides the 261 note.
        {"ASI without compens.dat, no grid, earlier tables hold data",
         13,
         [] {
             WriteTables("earlier.dat");
             ReadCompensationFile(L"earlier.dat");
         },
         L"x",
         {cannotOpen},
         "CMM=Bench-7 ASI ReadCompensationFile results=-1\n"},
        {"ASI without compens.dat, no grid, no table data either",
         13,
         [] {
             CompFile(251).Write("earlier.dat");
             ReadCompensationFile(L"earlier.dat");
         },
         L"x",
         {cannotOpen, QlnLoadString(261)},
         "CMM=Bench-7 ASI ReadCompensationFile results=-1\n"},
        {"CNC with an empty file name",
         16,
         [] {},
         L"",
         {cannotOpen},
         "CMM=Bench-7 CNC ReadCompensationFile results=-1\n"},
        {"CNC with a damaged file",
         16,
         [] { WriteBytes("bad.dat", std::vector<char>(100)); },
         L"bad.dat",
         {damaged},
         "CMM=Bench-7 CNC ReadCompensationFile results=-2\n"},
        {"ASI with a VolOffsetY that is not a number",
         13,
         [] { WriteTables("compens.dat"); },
         L"x",
         {QlnLoadString(2252) + L"\nThe setting VolOffsetY is not a finite number."},
         "",
         CPoint3(0.0, std::nan(""), 0.0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnRecorder().clear();
        row.write();
        LogView log;
        EXPECT_EQ(Make(row.method, row.fileName, row.origin), nullptr);
        EXPECT_EQ(BoxTexts(), row.boxes);
        EXPECT_TRUE(log.Has(row.logLine));
        EXPECT_TRUE(
            log.Has(QString::asprintf("\tInitializeVolcomp, nMethod=%d ptrVolcomp=0\n", row.method)
                        .toStdString()));
        EXPECT_TRUE(log.Has("CMM=Bench-7 " + QString::fromStdWString(row.boxes[0]).toStdString()));
    }
}

TEST_F(FactoryTest, AsiGridStatesAndTheirMessages) {
    struct Row {
        const char* legend;
        bool tableData;
        int grid;  // 0 none, 1 good, -1 bad comment
        std::vector<std::wstring> boxes;
    };
    const std::wstring badGrid = QlnLoadString(2252) + L" - compgrid.dat";
    const Row rows[] = {
        {"tables and grid", true, 1, {QlnLoadString(262)}},
        {"tables, no grid", true, 0, {}},
        {"grid, no table data", false, 1, {}},
        {"no table data, no grid", false, 0, {QlnLoadString(261)}},
        {"tables, bad grid file", true, -1, {badGrid}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnRecorder().clear();
        CompFile f(251);
        f.Axis(0).param3 = 1.0;
        f.Axis(0).tables[4][9] = row.tableData ? 3.0 : 0.0;
        f.Write("compens.dat");
        QFile::remove("compgrid.dat");
        if (row.grid != 0) {
            GridFile g;
            if (row.grid < 0)
                g.comment = "NotAGrid";
            g.Write();
        }
        LogView log;
        Volcomp v = Make(13);
        ASSERT_NE(v, nullptr) << "the method is ready whatever the grid says";
        EXPECT_EQ(v->Grid().IsLoaded(), row.grid == 1);
        EXPECT_EQ(BoxTexts(), row.boxes);
        for (const std::wstring& box : row.boxes)
            EXPECT_TRUE(log.Has("CMM=Bench-7 " + QString::fromStdWString(box).toStdString()));
    }
}

TEST_F(FactoryTest, NoVolcompPassesPointsThrough) {
    Volcomp v = Make(0, nullptr, CPoint3(100, 200, 300));
    ASSERT_NE(v, nullptr);
    CPoint3 p(1.5, -2.5, 3.5);
    v->CompensateFromCMM(CPoint3(1, 2, 3), p, p);
    EXPECT_EQ(p, CPoint3(1.5, -2.5, 3.5));
    CPoint3 out;
    v->CompensateToCMM(CPoint3(), p, out);
    EXPECT_EQ(out, p);
}

TEST_F(FactoryTest, OriginIsRemovedFromAndAddedToMachinePositions) {
    WriteTables("compens.dat");
    const CPoint3 origin(50.0, -20.0, 7.0);
    for (int method : {13, 16}) {
        SCOPED_TRACE(method);
        Volcomp v = Make(method, L"compens.dat", origin);
        ASSERT_NE(v, nullptr);
        // Same point in and out: the model sees (x, y, z) - origin, s = x - origin.x.
        CPoint3 p(450.0, 30.0, 8.0);
        v->CompensateFromCMM(CPoint3(), p, p);
        EXPECT_NEAR(p.x(), 400.0 + 1e-4 * 400.0, kTol);
        EXPECT_NEAR(p.y(), 50.0, kTol);
        EXPECT_NEAR(p.z(), 1.0, kTol);
        // And back: the errors at the corrected point are subtracted, the origin added.
        v->CompensateToCMM(CPoint3(), p, p);
        EXPECT_NEAR(p.x(), 450.0 + 0.04 - 1e-4 * 400.04, kTol);
        EXPECT_NEAR(p.y(), 30.0, kTol);
        // Separate objects: in.x receives the second drive's target (s + origin.x; s stays 0
        // without a sync file).
        CPoint3 in(400.0, 50.0, 1.0);
        CPoint3 out;
        v->CompensateToCMM(CPoint3(), in, out);
        EXPECT_NEAR(out.x(), 450.0 - 0.04, kTol);
        EXPECT_EQ(in.x(), 50.0);
    }
}

TEST_F(FactoryTest, AsiSecondDriveReadingAndTargetWithSync) {
    WriteSyncFile([](int k) { return 0.001 * k; }, 2000.0, 100.0);
    CompFile f(251);
    f.Axis(0).param3 = 1.0;
    f.Axis(0).step = 10.0;  // X 0 .. 2500
    f.Write("compens.dat");
    const CPoint3 origin(10.0, 0.0, 0.0);
    Volcomp v = Make(13, L"compens.dat", origin);
    ASSERT_NE(v, nullptr);
    // The second drive's reading comes in out.x.
    CPoint3 in(110.0, 0.0, 0.0);
    CPoint3 out(110.3, 0.0, 0.0);
    v->CompensateFromCMM(CPoint3(), in, out);
    const double offset = 0.010 + 0.250;  // index 10, weight 0, plus sync[250]
    const double d = (100.3 + offset - 100.0) / 2000.0;
    EXPECT_NEAR(out.x(), 100.0 + d * 100.0, kTol);
    EXPECT_EQ(in.x(), 110.0);
    // Towards the machine the second drive's target is x - offset, in machine terms.
    CPoint3 target(100.0, 0.0, 0.0);
    CPoint3 machine;
    v->CompensateToCMM(CPoint3(), target, machine);
    EXPECT_NEAR(machine.x(), 110.0, kTol);
    EXPECT_NEAR(target.x(), 100.0 - offset + 10.0, kTol);
}

TEST_F(FactoryTest, AsiAppliesTheGridBeforeTheTablesAndCncNever) {
    WriteTables("compens.dat");
    GridFile g;
    g.xStart = -1000.0;
    g.yStart = -1000.0;
    g.xStep = 2000.0;
    g.yStep = 2000.0;
    g.xCount = 2;
    g.yCount = 2;
    g.cell = [](int, int, int) { return std::array<double, 2>{2.0, -0.5}; };
    g.Write();
    for (int method : {13, 16}) {
        SCOPED_TRACE(method);
        Volcomp v = Make(method);
        ASSERT_NE(v, nullptr);
        CPoint3 p(300.0, 100.0, 0.0);
        v->CompensateFromCMM(CPoint3(), p, p);
        const double x = method == 13 ? 302.0 : 300.0;  // the grid moves x before the look-up
        EXPECT_NEAR(p.x(), x + 1e-4 * x, kTol);
        EXPECT_NEAR(p.y(), method == 13 ? 99.5 : 100.0, kTol);
    }
}

TEST_F(FactoryTest, EntryAndExitLogLines) {
    WriteTables("compens.dat");
    Volcomp v = Make(16);
    LogView log;
    CPoint3 p(1.0, 2.0, 3.0);
    v->CompensateFromCMM(CPoint3(), p, p);
    EXPECT_TRUE(
        log.Has("CncVolcomp Entering CompensateFromCMM with in=(1.000000 2.000000 "
                "3.000000 1.000000)\n"));
    EXPECT_TRUE(log.Has("CncVolcomp: exiting CompensateFromCMM with in=("));
    CPoint3 q(1.0, 2.0, 3.0);
    CPoint3 out(9.0, 9.0, 9.0);
    v->CompensateToCMM(CPoint3(), q, out);
    EXPECT_TRUE(
        log.Has("CncVolcomp Entering CompensateToCMM with in=(1.000000 2.000000 "
                "3.000000), out=(9.000000 9.000000 9.000000)\n"));
    EXPECT_TRUE(
        log.Has("CncVolcomp Exiting CompensateToCMM with out=(0.999900 2.000000 "
                "3.000000 0.000000)\n"));
    LogView closing;
    VolcompBaseClass* raw = v.release();
    CloseVolcomp(raw);
    CloseVolcomp(nullptr);
    EXPECT_TRUE(closing.Has(
        QString::asprintf("CloseVolcomp: pVolComp = %lx\n", (unsigned long)raw).toStdString()));
    EXPECT_TRUE(closing.Has("CloseVolcomp: pVolComp = 0\n"));
}

TEST_F(FactoryTest, ReinitialisingTheDeaLibraryAlwaysFails) {
    EXPECT_EQ(driver_Initialize_WCompens32(L"compens.dat", 1), -1);
    WriteTables("compens.dat");
    Volcomp v = Make(13);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(driver_Initialize_WCompens32(nullptr, 0), -1);
    v.reset();
    EXPECT_EQ(driver_Initialize_WCompens32(L"", 2), -1);
}

}  // namespace
