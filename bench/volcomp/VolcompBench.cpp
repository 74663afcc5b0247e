// Cost of compensating one point, per method, with the debug log closed and with a log
// file open. With the log closed every log line costs one test, so the closed figures
// should be a small fraction of the open ones.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/GridCompensation.h"
#include "driver/volcomp/VolcompFactory.h"
#include "host/HostConfig.h"
#include "host/QlnServices.h"

namespace {

// Iterations of the logging runs: every call writes about a kilobyte of log.
constexpr int kLoggedIterations = 20000;

QTemporaryDir& Scratch() {
    static QTemporaryDir dir;
    return dir;
}

void WriteDoubles(const QString& name, const std::vector<double>& values) {
    QFile file(Scratch().filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(values.data()),
               qint64(values.size() * sizeof(double)));
}

// A table file: `entries` per component, arm number `arm`, smooth errors on every axis.
void WriteTables(const QString& name, int entries, int arm) {
    std::vector<double> values;
    for (int axis = 0; axis < 3; ++axis) {
        const double step = entries == 251 ? 10.0 : 50.0;
        const double start = entries == 251 ? -100.0 : 0.0;
        const double negativeStored = entries == 251 ? 1000.0 : 100.0;
        const double param3 = axis == 0 ? arm : axis == 1 ? 2.0 : 0.0;
        for (double v : {0.0, 0.0, 0.0, param3, negativeStored, start, 5.0 + axis, step})
            values.push_back(v);
        for (int c = 0; c < 6; ++c)
            for (int k = 0; k < entries; ++k)
                values.push_back((c < 3 ? 1e-3 : 1.0) * std::sin(0.05 * k + c + axis));
    }
    WriteDoubles(name, values);
}

// A 21 x 21 grid at two heights 500 mm apart, so both grids are used.
void WriteGrid() {
    QByteArray bytes(40, '\0');
    bytes.replace(0, 23, "GridMethodErrorCompFile");
    const std::int32_t counts[2] = {21, 21};
    bytes.append(reinterpret_cast<const char*>(counts), sizeof counts);
    std::vector<double> values = {-100.0, -100.0, 10.0, 10.0, 0.0, 500.0};
    for (int g = 0; g < 2; ++g)
        for (int i = 0; i < 21 * 21 * 2; ++i)
            values.push_back(1e-3 * std::cos(0.1 * i + g));
    bytes.append(reinterpret_cast<const char*>(values.data()), qsizetype(values.size() * 8));
    QFile file(Scratch().filePath("compgrid.dat"));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

void SetLog(bool open) {
    if (open == IsLogging())
        return;
    if (open)
        TheDebugLog().OpenLogFile(Scratch().filePath("bench-log.txt").toStdWString().c_str(), 0,
                                  nullptr);
    else
        TheDebugLog().CloseLogFile();
}

void Prepare() {
    static const bool done = [] {
        QlnConfig().interactiveMessageBoxes = false;
        QlnConfig().echoMessageBoxes = false;
        QDir::setCurrent(Scratch().path());
        WriteTables("arm1.dat", 251, 1);
        WriteTables("short.dat", 51, 1);
        WriteTables("arm5.dat", 251, 5);
        WriteGrid();
        return true;
    }();
    (void)done;
}

struct Closer {
    void operator()(VolcompBaseClass* v) const { CloseVolcomp(v); }
};

void CompensateWith(benchmark::State& state, int method, const wchar_t* file) {
    Prepare();
    const bool logging = state.range(0) != 0;
    SetLog(false);  // building logs a lot; only the compensation is measured
    // Method 13 always reads "compens.dat": give it the wanted tables under that name.
    QFile::remove("compens.dat");
    QFile::copy(QString::fromWCharArray(file), "compens.dat");
    std::unique_ptr<VolcompBaseClass, Closer> volcomp(
        InitializeVolcomp(method, qlnTheApp, qlnTheApp->hostIface, 0, 0, 0, 1, CPoint3(), file, 0));
    if (!volcomp) {
        state.SkipWithError("method did not load");
        return;
    }
    SetLog(logging);
    const CPoint3 tip(10.0, -20.0, -150.0);
    double x = 0.0;
    for (auto _ : state) {
        CPoint3 p(400.0 + x, 900.0 - x, -300.0 + 0.5 * x);
        volcomp->CompensateFromCMM(tip, p, p);
        benchmark::DoNotOptimize(p);
        x = x > 500.0 ? 0.0 : x + 0.37;
    }
    SetLog(false);
}

void BM_NoVolcomp(benchmark::State& s) {
    CompensateWith(s, 0, L"arm1.dat");
}
void BM_AsiArm1(benchmark::State& s) {
    CompensateWith(s, 13, L"arm1.dat");
}
void BM_Asi51Entry(benchmark::State& s) {
    CompensateWith(s, 13, L"short.dat");
}
void BM_CncArm5(benchmark::State& s) {
    CompensateWith(s, 16, L"arm5.dat");
}

void BM_Grid(benchmark::State& state) {
    Prepare();
    SetLog(false);
    GridCompensation grid;
    grid.Load();
    SetLog(state.range(0) != 0);
    double x = 0.0;
    for (auto _ : state) {
        double p[3] = {-50.0 + x, 70.0 - x, 100.0};
        grid.Apply({}, p, GridCompensation::kFromMachine);
        benchmark::DoNotOptimize(p);
        x = x > 100.0 ? 0.0 : x + 0.37;
    }
    SetLog(false);
}

}  // namespace

// Log closed first, then open, so the log file is opened and closed only a few times.
BENCHMARK(BM_NoVolcomp)->ArgName("log")->Arg(0);
BENCHMARK(BM_AsiArm1)->ArgName("log")->Arg(0);
BENCHMARK(BM_Asi51Entry)->ArgName("log")->Arg(0);
BENCHMARK(BM_CncArm5)->ArgName("log")->Arg(0);
BENCHMARK(BM_Grid)->ArgName("log")->Arg(0);
BENCHMARK(BM_NoVolcomp)->ArgName("log")->Arg(1)->Iterations(kLoggedIterations);
BENCHMARK(BM_AsiArm1)->ArgName("log")->Arg(1)->Iterations(kLoggedIterations);
BENCHMARK(BM_Asi51Entry)->ArgName("log")->Arg(1)->Iterations(kLoggedIterations);
BENCHMARK(BM_CncArm5)->ArgName("log")->Arg(1)->Iterations(kLoggedIterations);
BENCHMARK(BM_Grid)->ArgName("log")->Arg(1)->Iterations(kLoggedIterations);

BENCHMARK_MAIN();
