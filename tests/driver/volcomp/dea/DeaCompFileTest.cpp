// Method 11: reading DEA table files (fallback folder, damaged files), the DEA error model
// checked against corrections worked out here from the model's formulas, and what
// DeaStandardVolcomp tells the host and the log.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/VolcompStrings.h"
#include "driver/volcomp/dea/DeaCompFile.h"
#include "driver/volcomp/dea/DeaStandardVolcomp.h"
#include "host/QlnServices.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"

using namespace volcomptest;

namespace {

constexpr double kTol = 1e-9;

struct DeaAxis {
    double kept = 0.0;  // the field at offset 16
    double n = 1000.0;  // stored negative limit; the table starts at -n
    double start = 1.0;
    double squareness = 0.0;
    double step = 0.0;
    std::array<std::vector<double>, 6> tables;
};

// A DEA table file: three 2504-byte records, tables filled from functions of the position.
class DeaFile {
  public:
    DeaFile() {
        for (DeaAxis& a : axes_)
            for (auto& t : a.tables)
                t.assign(51, 0.0);
    }

    DeaAxis& Axis(int a) { return axes_[a]; }
    const DeaAxis& Axis(int a) const { return axes_[a]; }

    void Fill(int a, int c, const std::function<double(double)>& fn) {
        for (int k = 0; k < 51; ++k)
            axes_[a].tables[c][k] = fn(-axes_[a].n + k * axes_[a].step);
    }

    void Write(const QString& path, std::size_t cutBytes = 0, std::size_t extraBytes = 0) const {
        std::vector<char> bytes;
        for (const DeaAxis& a : axes_) {
            for (double v : {-1.0, -2.0, a.kept, a.n, a.start, a.squareness, a.step})
                Append(bytes, v);
            for (const auto& t : a.tables)
                for (double v : t)
                    Append(bytes, v);
        }
        bytes.resize(bytes.size() - cutBytes + extraBytes, '\0');
        WriteBytes(path, bytes);
    }

  private:
    std::array<DeaAxis, 3> axes_;
};

// Sets or clears the fallback folder variable for one scope.
class ScopedTutorDir {
  public:
    explicit ScopedTutorDir(const QString& dir) {
        setenv(deafile::kTutorDirVariable, dir.toLocal8Bit().constData(), 1);
    }
    ~ScopedTutorDir() { unsetenv(deafile::kTutorDirVariable); }
};

DeaFile WithSquareness(double x, double y, double z) {
    DeaFile file;
    file.Axis(0).squareness = x;
    file.Axis(1).squareness = y;
    file.Axis(2).squareness = z;
    return file;
}

std::array<double, 3> Squareness() {
    const CompensationTables& t = DeaTables();
    return {t.axis[0].squareness, t.axis[1].squareness, t.axis[2].squareness};
}

class DeaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetHost();
        unsetenv(deafile::kTutorDirVariable);
        app.machineName = L"Mill";
        app.hostIface = &iface;
    }

    ScopedWorkDir dir;
    LogView log;
    CQLNapplication app;
    CQLNhostInterface iface;
};

// ---- reading ---------------------------------------------------------------------------

TEST_F(DeaTest, ReadResultsAndWhatTheyReplace) {
    QTemporaryDir tutor;
    QDir(tutor.path()).mkpath("sub");
    const DeaFile good = WithSquareness(1, 2, 3);
    DeaFile badY = good;
    badY.Axis(1).start = badY.Axis(1).n;
    DeaFile nanStep = good;
    nanStep.Axis(2).step = std::nan("");

    struct Row {
        const char* legend;
        std::function<void()> write;
        const wchar_t* name;
        QString tutorDir;  // empty: the variable is not set
        int result;
        std::array<double, 3> squareness;  // after the read; 9s are the earlier file's
        const wchar_t* problem = L"";      // the reader's text for the operator
    };
    const QString tutorPath = tutor.path();
    const Row rows[] = {
        {"an empty name fails at once", [] {}, L"", "", -1, {9, 9, 9}},
        {"missing here and in the fallback folder", [] {}, L"dea.dat", tutorPath, -1, {9, 9, 9}},
        {"a readable file in the current folder",
         [&] { good.Write("dea.dat"); },
         L"dea.dat",
         "",
         1,
         {1, 2, 3}},
        {"a file only in the fallback folder",
         [&] { good.Write(tutorPath + "/dea.dat"); },
         L"dea.dat",
         tutorPath,
         1,
         {1, 2, 3}},
        {"the fallback folder given with a trailing slash",
         [&] { good.Write(tutorPath + "/dea.dat"); },
         L"dea.dat",
         tutorPath + "/",
         1,
         {1, 2, 3}},
        {"a relative path below the fallback folder",
         [&] { good.Write(tutorPath + "/sub/dea.dat"); },
         L"sub/dea.dat",
         tutorPath,
         1,
         {1, 2, 3}},
        {"the current folder wins over the fallback folder",
         [&] {
             good.Write("dea.dat");
             WithSquareness(4, 5, 6).Write(tutorPath + "/dea.dat");
         },
         L"dea.dat",
         tutorPath,
         1,
         {1, 2, 3}},
        {"an empty file holds no record",
         [] { WriteBytes("dea.dat", {}); },
         L"dea.dat",
         "",
         -2,
         {9, 9, 9}},
        {"one whole record only: refused, nothing replaced",
         [&] { good.Write("dea.dat", 2 * 2504); },
         L"dea.dat",
         "",
         -2,
         {9, 9, 9}},
        {"one byte short of three records",
         [&] { good.Write("dea.dat", 1); },
         L"dea.dat",
         "",
         -2,
         {9, 9, 9}},
        {"bytes after the three records are ignored",
         [&] { good.Write("dea.dat", 0, 100); },
         L"dea.dat",
         "",
         1,
         {1, 2, 3}},
        {"Y start equals its limit: X stays replaced",
         [&] { badY.Write("dea.dat"); },
         L"dea.dat",
         "",
         -3,
         {1, 9, 9}},
        {"nan step of Z: refused, nothing replaced",
         [&] { nanStep.Write("dea.dat"); },
         L"dea.dat",
         "",
         -4,
         {9, 9, 9},
         L"dea.dat: Z record, step is not a finite number"},
        {"a FIFO is not opened",
         [] { mkfifo("dea.dat", 0600); },
         L"dea.dat",
         tutorPath,
         -1,
         {9, 9, 9},
         L"dea.dat is not a regular file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        WithSquareness(9, 9, 9).Write("earlier.dat");
        ASSERT_EQ(DeaReadCompFile(L"earlier.dat"), 1);
        QFile::remove("dea.dat");
        QFile::remove(tutorPath + "/dea.dat");
        row.write();
        if (!row.tutorDir.isEmpty())
            setenv(deafile::kTutorDirVariable, row.tutorDir.toLocal8Bit().constData(), 1);
        std::wstring problem = L"stale";
        EXPECT_EQ(DeaReadCompFile(row.name, &problem), row.result);
        unsetenv(deafile::kTutorDirVariable);
        EXPECT_EQ(Squareness(), row.squareness);
        EXPECT_EQ(problem, row.problem);
    }
}

TEST_F(DeaTest, FallbackFolderDefaultsWhenTheVariableIsUnsetOrEmpty) {
    EXPECT_EQ(DeaTutorFolder(), L"/opt/tutor");
    ScopedTutorDir empty("");
    EXPECT_EQ(DeaTutorFolder(), L"/opt/tutor");
}

// ---- the error model -------------------------------------------------------------------

// Linear error tables: component c of axis a is kAlpha[a][c] + kBeta[a][c] * position
// (micrometres, micro-radians), so the interpolated value at any covered position is the
// line's value there.
constexpr double kAlpha[3][6] = {{1.5, -2.0, 0.7, 3.0, -1.2, 2.2},
                                 {-0.8, 1.1, 2.5, -1.7, 0.9, -2.6},
                                 {2.1, -0.4, -1.9, 0.6, 1.8, -0.3}};
constexpr double kBeta[3][6] = {{0.002, -0.001, 0.0005, 0.003, -0.002, 0.001},
                                {-0.0015, 0.002, 0.001, -0.0025, 0.0012, 0.0008},
                                {0.0011, -0.0021, 0.0018, 0.0007, -0.0013, 0.0024}};
// Limits n, steps, starts and squareness of X, Y, Z: X covers -500..1500, Y -200..1300,
// Z -800..200 (its second lookup runs down from 150).
constexpr double kN[3] = {500.0, 200.0, 800.0};
constexpr double kStep[3] = {40.0, 30.0, 20.0};
constexpr double kStart[3] = {10.0, 5.0, 150.0};
constexpr double kSquare[3] = {12.0, -7.0, 4.0};

DeaFile LinearFile(bool yHasTable = true) {
    DeaFile file;
    for (int a = 0; a < 3; ++a) {
        DeaAxis& axis = file.Axis(a);
        axis.n = kN[a];
        axis.step = kStep[a];
        axis.start = kStart[a];
        axis.squareness = kSquare[a];
        for (int c = 0; c < 6; ++c)
            file.Fill(a, c, [a, c](double p) { return kAlpha[a][c] + kBeta[a][c] * p; });
    }
    if (!yHasTable)
        file.Axis(1).step = 0.0;
    return file;
}

// The DEA correction of model point p worked out from the model's formulas (machine arm 1,
// sub-mode 2) on LinearFile(). Returns the corrected point.
std::array<double, 3> ExpectedCorrection(std::array<double, 3> p, std::array<double, 3> t,
                                         bool fromMachine, bool yHasTable = true) {
    const double x = p[0], y = p[1], z = p[2];
    const double tx = t[0], ty = t[1], tz = t[2];
    auto line = [](int a, int c, double pos) { return kAlpha[a][c] + kBeta[a][c] * pos; };
    auto covered = [&](int a, double pos) {
        return (a != 1 || yHasTable) && -kN[a] <= pos && pos <= -kN[a] + 50 * kStep[a];
    };
    double e[3][6] = {};
    for (int a = 0; a < 3; ++a)
        for (int c = 0; c < 6; ++c)
            e[a][c] = covered(a, p[a]) ? line(a, c, p[a]) : 0.0;
    // Z is read a second time at the distance below its start.
    double Z[6] = {};
    for (int c = 0; c < 6; ++c)
        Z[c] = covered(2, z) ? line(2, c, -kN[2] + (kStart[2] - z)) : 0.0;
    e[2][1] = Z[1];
    const double q0 = kSquare[0], q1 = kSquare[1], q2 = kSquare[2];
    e[0][4] = q2 + e[0][4];
    e[1][3] = e[1][3] + q1;
    const double yaw = e[0][5] - q0;
    const double Dx = Z[0] + e[1][0] + e[0][0];
    const double Dy = e[1][1] + e[0][1] + e[2][1];
    const double Dz = Z[2] + e[1][2] + e[0][2];
    const double U = e[1][4] + e[0][4];
    const double M = Z[4] + U;
    const double ee = e[0][3] + e[1][3];
    const double Lr = Z[3] + ee;
    const double V = yaw + e[1][5] - Z[5];
    const double h = -(U * z) - yaw * y - M * tz - V * ty;
    const double g = V * tx - (Lr * tz + ee * z);
    const double f = Lr * ty + e[0][3] * y + M * tx;
    const double k = fromMachine ? 1e6 : -1e6;
    return {x + (h + Dx * 1000) / k, y + (g + Dy * 1000) / k, z + (f + Dz * 1000) / k};
}

TEST_F(DeaTest, StandardMethodMatchesTheModelFormulas) {
    struct Row {
        const char* legend;
        bool fromMachine;
        CPoint3 in;
        CPoint3 tip;
        CPoint3 origin;
        bool yHasTable = true;
    };
    const CPoint3 noTip;
    const CPoint3 tip(10.0, -20.0, -150.0);
    const CPoint3 origin(50.0, -20.0, 30.0);
    const Row rows[] = {
        {"every axis inside its table, no tip", true, {100, 250, -300}, noTip, {}},
        {"the tip lever turns with the rotations", true, {100, 250, -300}, tip, {}},
        {"the origin comes off before the model", true, {150, 230, -270}, tip, origin},
        {"to the machine: errors at the given point subtracted, origin added",
         false,
         {100, 250, -300},
         tip,
         origin},
        {"x beyond the X table: X adds nothing", true, {1600, 250, -300}, tip, {}},
        {"y below the Y table: Y adds nothing", true, {100, -250, -300}, tip, {}},
        {"z above the Z table: no Z errors at all", true, {100, 250, 250}, tip, {}},
        {"x exactly at the table's lower end", true, {-500, 250, -300}, tip, {}},
        {"y exactly at the table's upper end: the last entry", true, {100, 1300, -300}, tip, {}},
        {"z at its start: the second Z lookup reads the first entry",
         true,
         {100, 250, 150},
         tip,
         {}},
        {"an axis whose step is 0 has no table", true, {100, 250, -300}, tip, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        LinearFile(row.yHasTable).Write("dea.dat");
        DeaStandardVolcomp dea;
        dea.SetContext(&app, &iface, 0, 0, 0, 1, row.origin);
        ASSERT_EQ(dea.LoadCompensation(L"dea.dat", 0), 1);
        CPoint3 in = row.in;
        CPoint3 out;
        std::array<double, 3> model{in.x(), in.y(), in.z()};
        if (row.fromMachine) {
            model = {in.x() - row.origin.x(), in.y() - row.origin.y(), in.z() - row.origin.z()};
            dea.CompensateFromCMM(row.tip, in, out);
        } else {
            dea.CompensateToCMM(row.tip, in, out);
        }
        std::array<double, 3> want = ExpectedCorrection(
            model, {row.tip.x(), row.tip.y(), row.tip.z()}, row.fromMachine, row.yHasTable);
        if (!row.fromMachine)
            for (int i = 0; i < 3; ++i)
                want[i] += row.origin[i];
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(out[i], want[i], kTol) << "coordinate " << i;
        EXPECT_EQ(in, row.in) << "the input stays as it was";
    }
}

TEST_F(DeaTest, SameObjectForInputAndOutput) {
    LinearFile().Write("dea.dat");
    DeaStandardVolcomp dea;
    dea.SetContext(&app, &iface, 0, 0, 0, 1, CPoint3(50.0, -20.0, 30.0));
    ASSERT_EQ(dea.LoadCompensation(L"dea.dat", 0), 1);
    const CPoint3 tip(10.0, -20.0, -150.0);
    CPoint3 point(150.0, 230.0, -270.0);
    dea.CompensateFromCMM(tip, point, point);
    const auto want = ExpectedCorrection({100, 250, -300}, {10, -20, -150}, true);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(point[i], want[i], kTol);
}

// Table positions use whole-number division of the truncated distance and step; X alone
// carries errors (component 0 is the square of the entry index, micrometres).
TEST_F(DeaTest, TableIndexUsesWholeNumberDivision) {
    DeaFile file;
    file.Axis(0).n = 0.0;
    file.Axis(0).step = 12.5;
    for (int k = 0; k < 51; ++k)
        file.Axis(0).tables[0][k] = double(k) * k;
    file.Write("dea.dat");
    ASSERT_EQ(DeaReadCompFile(L"dea.dat"), 1);
    struct Row {
        const char* legend;
        double x;
        double errorMicrons;
    };
    const Row rows[] = {
        {"30 mm: index 30 div 12 = 2, weight 30 / 12.5 - 2 = 0.4", 30.0, 4.0 + 0.4 * (9.0 - 4.0)},
        {"the lower end: index 0, weight 0", 0.0, 0.0},
        {"on an entry: 25 mm is index 2, weight 0", 25.0, 4.0},
        {"the upper end (625 mm): the last entry", 625.0, 2500.0},
        {"just above the table: no error", 625.001, 0.0},
        {"just below the table: no error", -0.001, 0.0},
    };
    const double tip[3] = {0.0, 0.0, 0.0};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        double from[3] = {row.x, 0.0, 0.0};
        DeaErrorModel(tip, from, kModelFromMachine);
        EXPECT_NEAR(from[0], row.x + row.errorMicrons / 1000.0, kTol);
        double to[3] = {row.x, 0.0, 0.0};
        DeaErrorModel(tip, to, kModelToMachine);
        EXPECT_NEAR(to[0], row.x - row.errorMicrons / 1000.0, kTol);
        EXPECT_NEAR(from[1], 0.0, kTol);
        EXPECT_NEAR(from[2], 0.0, kTol);
    }
}

// ---- what the method reports -----------------------------------------------------------

TEST_F(DeaTest, LoadReportsToHostAndLog) {
    struct Row {
        const char* legend;
        const wchar_t* name;  // null: no name at all
        bool writeGood;
        int result;
        const char* nameInLog;
    };
    const Row rows[] = {
        {"a good file: ready, no message", L"dea.dat", true, 1, ":dea.dat:"},
        {"a missing file: message 2252", L"gone.dat", true, -1, ":gone.dat:"},
        {"no name: fails like an empty one", nullptr, true, -1, "::"},
        {"a damaged file: message 2252", L"dea.dat", false, -3, ":dea.dat:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnRecorder().clear();
        LogView view;
        DeaFile file = LinearFile();
        if (!row.writeGood)
            file.Axis(0).start = file.Axis(0).n;
        file.Write("dea.dat");
        DeaStandardVolcomp dea;
        dea.SetContext(&app, &iface, 0, 0, 0, 1, CPoint3());
        EXPECT_EQ(dea.LoadCompensation(row.name, 1), row.result);
        EXPECT_EQ(dea.IsReady(), row.result == 1 ? 1 : 0);
        EXPECT_TRUE(
            view.Has(std::string("CMM=Mill DeaStandardVolcomp FileName=") + row.nameInLog + "\n"));
        EXPECT_TRUE(
            view.Has("CMM=Mill DEA DeaReadCompFile results=" + std::to_string(row.result) + "\n"));
        const auto boxes = QlnRecorder().eventsOf(HostEventKind::MessageBox);
        if (row.result == 1) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].id, int(kMsgCompNotLoaded));
            EXPECT_EQ(boxes[0].ints.at(0), int(kQlnBoxOk));
        }
    }
}

TEST_F(DeaTest, CompensateWritesEnteringAndExitingLines) {
    DeaFile().Write("dea.dat");  // no errors: out is in minus the origin
    DeaStandardVolcomp dea;
    dea.SetContext(&app, &iface, 0, 0, 0, 1, CPoint3(1.0, 2.0, 3.0));
    ASSERT_EQ(dea.LoadCompensation(L"dea.dat", 0), 1);
    CPoint3 in(11.0, 22.0, 33.0);
    CPoint3 out(7.0, 8.0, 9.0);
    LogView view;
    dea.CompensateFromCMM(CPoint3(), in, out);
    dea.CompensateToCMM(CPoint3(), out, in);
    const std::string text = view.Text();
    const char* lines[] = {
        "DeaStandardVolcomp Entering CompensateFromCMM with in=(11.000000 22.000000 33.000000), "
        "out=(7.000000 8.000000 9.000000)\n",
        "DeaStandardVolcomp: exiting CompensateFromCMM with in=(11.000000 22.000000 33.000000), "
        "out=(10.000000 20.000000 30.000000)\n",
        "DeaStandardVolcomp Entering CompensateToCMM with in=(10.000000 20.000000 30.000000), "
        "out=(11.000000 22.000000 33.000000)\n",
        "DeaStandardVolcomp Exiting CompensateToCMM with in=(10.000000 20.000000 30.000000), "
        "out=(11.000000 22.000000 33.000000)\n",
    };
    std::size_t at = 0;
    for (const char* line : lines) {
        at = text.find(line, at);
        EXPECT_NE(at, std::string::npos) << line;
    }
}

}  // namespace
