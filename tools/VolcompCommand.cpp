// tactus-tool volcomp apply|check|plot: runs the driver's volumetric compensation outside
// the driver (see docs/compensation.md).
//
// Every sub-command builds the method exactly as the driver does (InitializeVolcomp), with
// the driver's settings given as options (CompensFileName, VolOffset?, UsingOldWcompens32,
// WCompensMode, ARM2CompMode), DIR as the current directory where the data files are looked
// up, and the host's answers to the compensation questions (enciphered B&S maps, the
// fallback to plain maps) as options too. Host message boxes go to stderr, answered at once;
// when the method does not become ready the reason the data did not load is printed too.
//
//   apply: reads "x y z" per line from stdin and prints the corrected point (%.9f).
//   check: what was loaded, and the largest correction over the data's ranges, with a
//          warning when it is implausible for a machine (more than 1 mm).
//   plot:  the XY correction at height Z as magnified arrows, the Z correction as colour.
//
// Exit status: 0 done, 1 the method did not become ready (check: or its correction is
// implausible), 2 bad arguments or input, 3 the picture could not be written.
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/VolcompFactory.h"
#include "driver/volcomp/bns/BnsVolcomp.h"
#include "driver/volcomp/dea/DeaCompFile.h"
#include "driver/volcomp/dea/DeaLibraryApi.h"
#include "driver/volcomp/dea/LibraryLoader.h"
#include "host/HostConfig.h"
#include "host/QlnServices.h"
#include "tools/Command.h"
#include "tools/CommandLine.h"

namespace {

using tool::kExitFailed;
using tool::kExitUsage;
constexpr int kExitNoImage = 3;

constexpr char kSynopsis[] = "volcomp apply|check|plot --method N [OPTIONS]";
// A correction larger than this is not what a measuring machine's errors look like.
constexpr double kPlausibleMm = 1.0;
// Samples per axis for check (a 21 x 21 x 21 box) and plot (21 x 21 at one height).
constexpr int kSamples = 21;

struct Options {
    int method = -1;
    QString dir;
    std::wstring file = L"compens.dat";  // the CompensFileName default
    CPoint3 origin;
    CPoint3 tip;
    bool toCmm = false;
    QString log;
    bool enciphered = false;
    bool fallback = false;
    bool oldDeaLibrary = false;
    int deaMode = 1;  // the WCompensMode default
    bool arm2 = false;
    std::optional<double> z;
    QString out;
    std::optional<std::array<double, 4>> range;
};

bool ParseNumber(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// "a,b,c" (or with blanks instead of commas) into exactly `count` finite numbers.
bool ParseList(const std::string& text, std::size_t count, std::vector<double>& values) {
    values.clear();
    std::string item;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (c == ',' || c == ' ' || c == '\t' || c == '\r') {
            if (!item.empty()) {
                double v = 0.0;
                if (!ParseNumber(item, v))
                    return false;
                values.push_back(v);
                item.clear();
            } else if (c == ',') {
                return false;
            }
        } else {
            item += c;
        }
    }
    return values.size() == count;
}

const char* MethodName(int method) {
    switch (method) {
        case 0:
            return "no compensation";
        case 11:
            return "DEA table file";
        case 12:
            return "DEA library";
        case 13:
            return "ASI";
        case 14:
            return "B&S";
        case 16:
            return "CNC";
        default:
            return "not a method";
    }
}

// A length in millimetres with a unit that suits its size: "12.3 um", "2.5 m", "0 mm".
QString Length(double mm) {
    const double a = std::fabs(mm);
    if (!std::isfinite(mm))
        return QString::number(mm) + " mm";
    if (a == 0.0)
        return QStringLiteral("0 mm");
    if (a >= 1000.0)
        return QString::number(mm / 1000.0, 'g', 4) + " m";
    if (a >= 1.0)
        return QString::number(mm, 'g', 5) + " mm";
    if (a >= 0.001)
        return QString::number(mm * 1000.0, 'g', 4) + " um";
    return QString::number(mm * 1e6, 'g', 4) + " nm";
}

QString Point(const CPoint3& p) {
    return QString("%1 %2 %3").arg(p.x(), 0, 'g', 10).arg(p.y(), 0, 'g', 10).arg(p.z(), 0, 'g', 10);
}

struct Closer {
    void operator()(VolcompBaseClass* v) const { CloseVolcomp(v); }
};
using Volcomp = std::unique_ptr<VolcompBaseClass, Closer>;

// Why the data of a method that did not become ready did not load, found by asking the
// readers again (they report codes; the driver reports them as host messages).
QString LoadFailureReason(const Options& o) {
    const QString cwd = QDir::currentPath();
    auto named = [&](const std::wstring& name) {
        return QDir(cwd).filePath(QString::fromStdWString(name));
    };
    switch (o.method) {
        case 11: {
            std::wstring problem;
            const int rc = DeaReadCompFile(o.file, &problem);
            const QString path = named(o.file);
            if (!problem.empty())
                return QString::fromStdWString(problem);
            if (rc == deafile::kReadNoFile)
                return QString("cannot open %1 (nor %2/%3)")
                    .arg(path, QString::fromStdWString(DeaTutorFolder()),
                         QString::fromStdWString(o.file));
            if (rc == deafile::kReadTooShort)
                return QString("%1 holds %2 bytes; a DEA table file holds three %3-byte records")
                    .arg(path)
                    .arg(QFileInfo(path).size())
                    .arg(deafile::kRecordBytes);
            if (rc == deafile::kReadStartIsNegative)
                return path + ": an axis record's start equals its negative limit";
            return QString("%1: the DEA reader refused it (result %2)").arg(path).arg(rc);
        }
        case 12: {
            const wchar_t* name =
                o.oldDeaLibrary ? dealib::kOldLibraryName : dealib::kNewLibraryName;
            LibraryLoader::LoadError error;
            const LibraryLoader::Handle h = LibraryLoader::Load(name, &error);
            if (!h)
                return QString("cannot load %1: %2")
                    .arg(QString::fromStdString(LibraryLoader::Locate(name)),
                         QString::fromStdWString(error.text));
            for (const char* entry :
                 {dealib::kInitCompensName, dealib::kSetCompensModeName, dealib::kCompensaName})
                if (!LibraryLoader::Symbol(h, entry))
                    return QString("%1 has no entry point %2")
                        .arg(QString::fromStdString(LibraryLoader::Locate(name)), entry);
            return QStringLiteral(
                "the DEA library refused the data (its InitCompens or "
                "SetCompensMode result is in the message above)");
        }
        case 13:
        case 16: {
            const std::wstring file = o.method == 13 ? std::wstring(L"compens.dat") : o.file;
            const QString path = named(file);
            std::wstring problem;
            const int rc =
                file.empty() ? compfile::kReadNoFile : ReadCompensationFile(file, &problem);
            if (!problem.empty())
                return QString::fromStdWString(problem);
            if (rc == compfile::kReadNoFile)
                return "cannot open " + path;
            if (rc == compfile::kReadTooShort)
                return QString(
                           "%1 holds %2 bytes: neither three %3-byte (251-entry) nor three "
                           "%4-byte (51-entry) axis records")
                    .arg(path)
                    .arg(QFileInfo(path).size())
                    .arg(compfile::kLongRecordBytes)
                    .arg(compfile::kShortRecordBytes);
            if (rc == compfile::kReadStartIsNegative)
                return path + ": an axis record's start equals its stored negative limit";
            return QString("%1: the table reader refused it (result %2)").arg(path).arg(rc);
        }
        case 14: {
            BnsCompMap map;
            map.SetSources(o.enciphered, o.fallback);
            const int rc = map.Load(L"comp.dat");
            const QString file = named(map.FileName().empty() ? L"comp.dat" : map.FileName());
            if (rc == BnsCompMap::kEncipheredMissing)
                return "the host requires the enciphered map and cannot open " + named(L"comp.enc");
            return file + ": " + QString::fromStdString(map.LastError());
        }
        default:
            return QString("%1 is not a compensation method (0, 11, 12, 13, 14 or 16)")
                .arg(o.method);
    }
}

// Sets the process up as the driver sees its host (messages to stderr, answered at once;
// the compensation questions answered as the options say), opens the log, enters DIR and
// builds the method. Null (with the reason on stderr) when anything fails; `status` then
// holds the exit status.
Volcomp Build(const Options& o, int& status) {
    HostConfig& host = QlnConfig();
    host.interactiveMessageBoxes = false;
    host.echoMessageBoxes = true;
    host.options[BnsVolcomp::kOptionEncipheredMaps] = o.enciphered ? 1 : 0;
    host.fallbackPermission = o.fallback ? 1 : 0;
    if (!o.log.isEmpty()) {
        // Resolved before entering DIR; the log module puts bare names beside the program.
        const std::wstring path = QFileInfo(o.log).absoluteFilePath().toStdWString();
        if (!TheDebugLog().OpenLogFile(path.c_str(), 0, nullptr)) {
            std::fprintf(stderr, "tactus-tool volcomp: cannot create the log file %s\n",
                         qPrintable(o.log));
            status = kExitUsage;
            return nullptr;
        }
    }
    if (!o.dir.isEmpty() && !QDir::setCurrent(o.dir)) {
        std::fprintf(stderr, "tactus-tool volcomp: cannot enter %s\n", qPrintable(o.dir));
        status = kExitUsage;
        return nullptr;
    }
    Volcomp volcomp(InitializeVolcomp(o.method, qlnTheApp, qlnTheApp->hostIface,
                                      o.oldDeaLibrary ? 1 : 0, 0, 0, o.deaMode, o.origin,
                                      o.file.c_str(), o.arm2 ? 1 : 0));
    if (!volcomp) {
        std::fprintf(stderr,
                     "tactus-tool volcomp: compensation method %d did not become ready: %s\n",
                     o.method, qPrintable(LoadFailureReason(o)));
        status = kExitFailed;
    }
    return volcomp;
}

// The point a method's result is compared with: methods 0 and 14 keep machine coordinates,
// the others give coordinates relative to the compensation origin.
CPoint3 Uncorrected(const Options& o, const CPoint3& machine) {
    return o.method == 0 || o.method == 14 ? machine : machine - o.origin;
}

int Apply(const Options& o) {
    int status = 0;
    Volcomp volcomp = Build(o, status);
    if (!volcomp)
        return status;
    std::string line;
    for (long number = 1; std::getline(std::cin, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        std::vector<double> xyz;
        if (!ParseList(line, 3, xyz)) {
            std::fprintf(stderr, "tactus-tool volcomp: line %ld: expected \"x y z\", got \"%s\"\n",
                         number, line.c_str());
            return kExitUsage;
        }
        CPoint3 p(xyz.data());
        if (o.toCmm)
            volcomp->CompensateToCMM(o.tip, p, p);
        else
            volcomp->CompensateFromCMM(o.tip, p, p);
        std::printf("%.9f %.9f %.9f\n", p.x(), p.y(), p.z());
    }
    std::fflush(stdout);
    return 0;
}

// --- What the data cover ----------------------------------------------------------------------

struct Interval {
    double lo, hi;
};

// The ranges the loaded data cover: per machine axis the table's (none without a table),
// and the grid's XY rectangle.
struct Extent {
    std::array<std::optional<Interval>, 3> tables;
    std::optional<std::array<Interval, 2>> grid;
    QStringList description;  // what was loaded, one line each
};

std::optional<Interval> Span(double lower, double step, int steps) {
    if (step == 0.0 || !std::isfinite(lower) || !std::isfinite(step))
        return std::nullopt;
    const double upper = lower + steps * step;
    return Interval{std::min(lower, upper), std::max(lower, upper)};
}

QString Describe(const std::optional<Interval>& span) {
    return span ? QString("%1 .. %2 mm").arg(span->lo, 0, 'g', 10).arg(span->hi, 0, 'g', 10)
                : QStringLiteral("no table (step 0)");
}

void DescribeTables(const CompensationTables& t, bool dea, Extent& e) {
    const int span = t.longLayout ? compfile::kLongSpan : compfile::kShortSpan;
    if (dea)
        e.description << QStringLiteral(
            "51-entry DEA tables (the error model of arm 1, "
            "sub-mode 2)");
    else if (t.longLayout)
        e.description << QString("251-entry layout, arm %1").arg(t.Arm());
    else
        e.description
            << QString("51-entry layout, arm %1, sub-mode %2").arg(t.Arm()).arg(t.SubMode());
    static const char* kAxes[] = {"X", "Y", "Z"};
    for (int a = 0; a < 3; ++a) {
        const CompAxisInfo& axis = t.axis[a];
        e.tables[a] = Span(t.longLayout ? axis.start : axis.negative, axis.step, span);
        e.description << QString("%1 axis: %2, step %3 mm, squareness %4 urad%5")
                             .arg(kAxes[a], Describe(e.tables[a]))
                             .arg(axis.step, 0, 'g', 10)
                             .arg(axis.squareness, 0, 'g', 10)
                             .arg(dea ? QString() : QString(", origin %1 mm").arg(axis.origin));
    }
    if (dea || !t.longLayout)
        return;
    e.description << (t.hasFourth && t.w > 0.0
                          ? QString("second Y rail (fourth record): rail distance %1 mm").arg(t.w)
                          : QStringLiteral("second Y rail (fourth record): none"));
    e.description << (t.syncLoaded ? QString("sync (SyncValue.dat): loaded, S2X %1 mm, X2C %2 mm")
                                         .arg(t.s2x)
                                         .arg(t.x2c)
                                   : QStringLiteral("sync (SyncValue.dat): not loaded"));
}

Extent Loaded(const Options& o, const VolcompBaseClass& volcomp) {
    Extent e;
    switch (o.method) {
        case 0:
            e.description << QStringLiteral("points pass unchanged");
            break;
        case 11:
            e.description << "data " + QString::fromStdWString(o.file);
            DescribeTables(DeaTables(), true, e);
            break;
        case 12:
            e.description << QString("library %1, data %2, arm %3, WCompensMode %4")
                                 .arg(QString::fromStdWString(o.oldDeaLibrary
                                                                  ? dealib::kOldLibraryName
                                                                  : dealib::kNewLibraryName),
                                      QString::fromStdWString(o.file))
                                 .arg(o.arm2 ? 2 : 1)
                                 .arg(o.deaMode);
            break;
        case 13:
        case 16:
            e.description << "data " +
                                 QString::fromStdWString(o.method == 13 ? L"compens.dat" : o.file);
            DescribeTables(CompTables(), false, e);
            break;
        case 14: {
            const BnsCompMap& map = static_cast<const BnsVolcomp&>(volcomp).Map();
            e.description << QString("map %1: machine type %2, %3 points per table, %4")
                                 .arg(QString::fromStdWString(map.FileName()))
                                 .arg(map.Type())
                                 .arg(map.Points())
                                 .arg(map.HasRotaryData()
                                          ? QString("rotary data (%1 points, not applied)")
                                                .arg(map.RotaryPoints())
                                          : QStringLiteral("no rotary data"));
            static const char* kAxes[] = {"X", "Y", "Z"};
            for (int a = 0; a < 3; ++a) {
                const auto axis = static_cast<BnsCompMap::Axis>(a);
                e.tables[a] = Span(map.Start(axis), map.Step(axis), map.Points() - 1);
                e.description << QString("%1 axis: %2, step %3 mm")
                                     .arg(kAxes[a], Describe(e.tables[a]))
                                     .arg(map.Step(axis), 0, 'g', 10);
            }
            break;
        }
        default:
            break;
    }
    const GridCompensation& g = volcomp.Grid();
    if (o.method == 13 || o.method == 14) {
        if (g.IsLoaded()) {
            const auto x = Span(g.XStart(), g.XStep(), int(g.XCount()) - 1);
            const auto y = Span(g.YStart(), g.YStep(), int(g.YCount()) - 1);
            if (x && y)
                e.grid = std::array<Interval, 2>{*x, *y};
            e.description << QString("grid (compgrid.dat): X %1, Y %2, %3")
                                 .arg(Describe(x), Describe(y))
                                 .arg(g.Mode() == 2 ? QString("two heights Z %1 and %2 mm%3")
                                                          .arg(g.ZPos1())
                                                          .arg(g.ZPos2())
                                                          .arg(std::fabs(g.ZPos1() - g.ZPos2()) > 30
                                                                   ? ""
                                                                   : " (too close: only the "
                                                                     "first is used)")
                                                    : QString("one height"));
        } else if (g.Problem() != g.FileName()) {
            e.description << "grid (compgrid.dat): not loaded: " +
                                 QString::fromStdWString(g.Problem());
        } else {
            e.description << QStringLiteral("grid (compgrid.dat): not loaded");
        }
    }
    return e;
}

// The XY range of the data: the tables' and the grid's together.
std::optional<std::array<double, 4>> DataRange(const Extent& e) {
    std::optional<std::array<double, 4>> range;
    auto extend = [&range](Interval x, Interval y) {
        if (!(x.lo < x.hi) || !(y.lo < y.hi))
            return;
        if (!range)
            range = std::array<double, 4>{x.lo, x.hi, y.lo, y.hi};
        else
            range = std::array<double, 4>{std::min((*range)[0], x.lo), std::max((*range)[1], x.hi),
                                          std::min((*range)[2], y.lo), std::max((*range)[3], y.hi)};
    };
    if (e.tables[0] && e.tables[1])
        extend(*e.tables[0], *e.tables[1]);
    if (e.grid)
        extend((*e.grid)[0], (*e.grid)[1]);
    return range;
}

// The correction at one machine point.
CPoint3 CorrectionAt(const Options& o, VolcompBaseClass& volcomp, const CPoint3& machine) {
    CPoint3 p = machine;
    volcomp.CompensateFromCMM(o.tip, p, p);
    return p - Uncorrected(o, machine);
}

double Size(const CPoint3& d) {
    return std::sqrt(d.x() * d.x() + d.y() * d.y() + d.z() * d.z());
}

// --- check ------------------------------------------------------------------------------------

int Check(const Options& o) {
    int status = 0;
    Volcomp volcomp = Build(o, status);
    if (!volcomp)
        return status;
    const Extent e = Loaded(o, *volcomp);
    std::printf("Method %d (%s): ready\n", o.method, MethodName(o.method));
    for (const QString& line : e.description)
        std::printf("  %s\n", qPrintable(line));

    // The box to sample: the data's ranges, --range for X and Y, --z for one height.
    std::array<std::optional<Interval>, 3> box = e.tables;
    if (const auto xy = o.range ? o.range : DataRange(e)) {
        box[0] = Interval{(*xy)[0], (*xy)[1]};
        box[1] = Interval{(*xy)[2], (*xy)[3]};
    }
    if (o.z)
        box[2] = Interval{*o.z, *o.z};
    if (!box[0] && !box[1] && !box[2]) {
        std::printf("No ranges to sample: give --range XMIN,XMAX,YMIN,YMAX (and --z Z).\n");
        return 0;
    }
    double largest = -1.0;
    CPoint3 where, worst;
    std::optional<std::pair<CPoint3, CPoint3>> notFinite;  // the first such point, its result
    for (int i = 0; i < kSamples; ++i)
        for (int j = 0; j < kSamples; ++j)
            for (int k = 0; k < kSamples; ++k) {
                const int index[3] = {i, j, k};
                double c[3];
                for (int a = 0; a < 3; ++a)
                    c[a] = box[a]
                               ? box[a]->lo + (box[a]->hi - box[a]->lo) * index[a] / (kSamples - 1)
                               : 0.0;
                const CPoint3 at(c[0], c[1], c[2]);
                const CPoint3 d = CorrectionAt(o, *volcomp, at);
                const double size = Size(d);
                if (!std::isfinite(size)) {
                    if (!notFinite)
                        notFinite = {at, d};
                    continue;
                }
                if (size > largest) {
                    largest = size;
                    where = at;
                    worst = d;
                }
            }
    auto range = [&](int a) {
        return box[a] ? QString("%1 .. %2").arg(box[a]->lo, 0, 'g', 10).arg(box[a]->hi, 0, 'g', 10)
                      : QStringLiteral("0");
    };
    std::printf("Largest correction over X %s, Y %s, Z %s mm (tip %s, origin %s):\n",
                qPrintable(range(0)), qPrintable(range(1)), qPrintable(range(2)),
                qPrintable(Point(o.tip)), qPrintable(Point(o.origin)));
    if (notFinite) {
        std::printf("  not a number at X Y Z %s: %s\n", qPrintable(Point(notFinite->first)),
                    qPrintable(Point(notFinite->second)));
        std::printf(
            "warning: the correction is not a finite number: every point there would "
            "be lost\n");
        return kExitFailed;
    }
    std::printf("  %s at X Y Z %s (dx %s, dy %s, dz %s)\n", qPrintable(Length(largest)),
                qPrintable(Point(where)), qPrintable(Length(worst.x())),
                qPrintable(Length(worst.y())), qPrintable(Length(worst.z())));
    if (largest <= kPlausibleMm)
        return 0;
    std::printf(
        "warning: a correction of %s is implausible for a measuring machine (more than "
        "%s)\n",
        qPrintable(Length(largest)), qPrintable(Length(kPlausibleMm)));
    const CompensationTables& t = CompTables();
    const bool squareness =
        t.axis[0].squareness != 0.0 || t.axis[1].squareness != 0.0 || t.axis[2].squareness != 0.0;
    if ((o.method == 13 || o.method == 16) && t.longLayout && squareness &&
        (t.Arm() == 4 || (o.method == 16 && t.Arm() == 5)))
        std::printf(
            "  arm %d adds squareness times a coordinate to the displacements without the "
            "micro-radian divisor: 1 urad at 500 mm adds 0.5 mm. Such files should carry "
            "squareness in radians (or 0); see docs/compensation.md.\n",
            t.Arm());
    return kExitFailed;
}

// --- plot -------------------------------------------------------------------------------------

void DrawArrow(QPainter& painter, QPointF from, QPointF to) {
    painter.drawLine(from, to);
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length < 3.0)
        return;
    const QPointF u = d / length;
    const QPointF n(-u.y(), u.x());
    const double head = std::min(8.0, length / 3.0);
    QPainterPath path;
    path.moveTo(to);
    path.lineTo(to - u * head + n * head * 0.45);
    path.lineTo(to - u * head - n * head * 0.45);
    path.closeSubpath();
    painter.fillPath(path, painter.pen().color());
}

// Blue for negative, white for 0, red for positive; t in [-1, 1].
QColor Diverging(double t) {
    t = std::clamp(t, -1.0, 1.0);
    const int fade = int(std::lround(255 * (1.0 - std::fabs(t))));
    return t < 0 ? QColor(fade, fade, 255) : QColor(255, fade, fade);
}

// The largest of 1, 2 and 5 times a power of ten that is not above `value` (> 0).
double RoundDown125(double value) {
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    for (double m : {5.0, 2.0, 1.0})
        if (m * decade <= value)
            return m * decade;
    return decade;
}

// 571, 12.5, 0.002 or 1.5e+07: readable whatever the size.
QString Magnification(double m) {
    if (m >= 1e7 || m < 0.01)
        return QString::number(m, 'g', 3);
    return QString::number(m, 'f', m >= 10 ? 0 : 2);
}

int Plot(const Options& o) {
    const QString out = QFileInfo(o.out).absoluteFilePath();
    int status = 0;
    Volcomp volcomp = Build(o, status);
    if (!volcomp)
        return status;
    const Extent e = Loaded(o, *volcomp);
    const auto range = o.range ? o.range : DataRange(e);
    if (!range) {
        std::fprintf(stderr,
                     "tactus-tool volcomp plot: the data cover no XY range; give --range\n");
        return kExitUsage;
    }
    const auto [x0, x1, y0, y1] = *range;

    struct Sample {
        double x, y;
        CPoint3 d;
    };
    std::vector<Sample> samples;
    double largest = 0.0;
    double largestDz = 0.0;
    Sample worst{x0, y0, CPoint3()};
    for (int i = 0; i < kSamples; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            const double x = x0 + (x1 - x0) * i / (kSamples - 1);
            const double y = y0 + (y1 - y0) * j / (kSamples - 1);
            const Sample s{x, y, CorrectionAt(o, *volcomp, CPoint3(x, y, *o.z))};
            samples.push_back(s);
            const double size = std::hypot(s.d.x(), s.d.y());
            if (std::isfinite(size) && size > largest) {
                largest = size;
                worst = s;
            }
            if (std::isfinite(s.d.z()))
                largestDz = std::max(largestDz, std::fabs(s.d.z()));
        }
    }

    // Layout: the range fills a square plot area, aspect ratio kept; text above and below.
    constexpr int kWidth = 900;
    constexpr int kHeight = 1040;
    constexpr int kMargin = 100;
    constexpr int kTop = 130;
    const double area = kWidth - 2 * kMargin;
    const double pxPerMm = area / std::max(x1 - x0, y1 - y0);
    const auto toPixel = [&](double x, double y) {
        return QPointF(kMargin + (x - x0) * pxPerMm, kTop + area - (y - y0) * pxPerMm);
    };
    // The largest arrow spans 90 % of the sample spacing.
    const double spacingPx = std::min(x1 - x0, y1 - y0) * pxPerMm / (kSamples - 1);
    const double arrowPxPerMm = largest > 0.0 ? 0.9 * spacingPx / largest : 0.0;

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(kMargin, 30),
                     QString("Volumetric correction, method %1 (%2), Z = %3 mm")
                         .arg(o.method)
                         .arg(MethodName(o.method))
                         .arg(*o.z));
    // What was loaded and the settings the correction depends on.
    const bool tables = o.method == 11 || o.method == 13 || o.method == 16;
    QStringList facts{tables ? e.description.value(0) + "; " + e.description.value(1)
                             : e.description.value(0)};
    for (const QString& line : e.description)
        if (line.startsWith("grid"))
            facts << line;
    facts << QString("tip (reversed: from the tip to the probe mount) %1 mm, origin %2 mm")
                 .arg(Point(o.tip), Point(o.origin));
    for (int n = 0; n < facts.size(); ++n)
        painter.drawText(QPointF(kMargin, 54 + 20 * n), facts[n]);

    painter.setPen(QPen(Qt::lightGray, 1));
    painter.drawRect(QRectF(toPixel(x0, y1), toPixel(x1, y0)));
    painter.setPen(Qt::black);
    painter.drawText(toPixel(x0, y0) + QPointF(0, 20), QString::number(x0, 'g', 6));
    painter.drawText(toPixel(x1, y0) + QPointF(-70, 20), QString::number(x1, 'g', 6) + " X");
    painter.drawText(toPixel(x0, y0) + QPointF(-90, 0), QString::number(y0, 'g', 6));
    painter.drawText(toPixel(x0, y1) + QPointF(-90, 10), QString::number(y1, 'g', 6) + " Y");

    // Where the tables and the grid end.
    const QRectF plotArea = QRectF(toPixel(x0, y1), toPixel(x1, y0)).adjusted(-2, -2, 2, 2);
    const auto outline = [&](Interval x, Interval y, QColor colour, const QString& label) {
        painter.setPen(QPen(colour, 1.5, Qt::DashLine));
        const QRectF r(toPixel(x.lo, y.hi), toPixel(x.hi, y.lo));
        painter.drawRect(r);
        painter.drawText(r.intersected(plotArea).topLeft() + QPointF(4, 16), label);
    };
    painter.setClipRect(plotArea);
    if (e.tables[0] && e.tables[1])
        outline(*e.tables[0], *e.tables[1], QColor(0, 130, 60), QStringLiteral("tables"));
    if (e.grid)
        outline((*e.grid)[0], (*e.grid)[1], QColor(220, 120, 0), QStringLiteral("grid"));
    painter.setClipping(false);

    for (const Sample& s : samples) {
        const QPointF at = toPixel(s.x, s.y);
        const bool dzKnown = std::isfinite(s.d.z());
        painter.setPen(QPen(Qt::darkGray, 0.5));
        painter.setBrush(dzKnown && largestDz > 0.0 ? Diverging(s.d.z() / largestDz)
                                                    : QColor(Qt::gray));
        painter.drawEllipse(at, 4.0, 4.0);
        painter.setBrush(Qt::NoBrush);
        if (!std::isfinite(s.d.x()) || !std::isfinite(s.d.y()) || arrowPxPerMm == 0.0)
            continue;
        painter.setPen(QPen(QColor(20, 70, 200), 1.5));
        DrawArrow(painter, at, at + QPointF(s.d.x() * arrowPxPerMm, -s.d.y() * arrowPxPerMm));
    }

    painter.setPen(Qt::black);
    const double textTop = kTop + area + 50;
    if (largest > 0.0) {
        // A scale arrow of a round length, and the magnification.
        const double reference = RoundDown125(largest);
        const QPointF from(kMargin, textTop - 5);
        painter.setPen(QPen(QColor(20, 70, 200), 1.5));
        DrawArrow(painter, from, from + QPointF(reference * arrowPxPerMm, 0));
        painter.setPen(Qt::black);
        painter.drawText(from + QPointF(reference * arrowPxPerMm + 10, 5),
                         QString("= %1 XY correction (arrows drawn %2 times the map's scale)")
                             .arg(Length(reference), Magnification(arrowPxPerMm / pxPerMm)));
    } else {
        painter.drawText(QPointF(kMargin, textTop),
                         QStringLiteral("No XY correction in this range"));
    }
    painter.drawText(QPointF(kMargin, textTop + 24),
                     QString("Largest XY correction: %1 at X %2, Y %3 (dx %4, dy %5)")
                         .arg(Length(largest))
                         .arg(worst.x, 0, 'g', 6)
                         .arg(worst.y, 0, 'g', 6)
                         .arg(Length(worst.d.x()), Length(worst.d.y())));
    // The colour key of the Z correction.
    const QRectF key(kMargin, textTop + 40, 200, 14);
    QLinearGradient gradient(key.topLeft(), key.topRight());
    gradient.setColorAt(0.0, Diverging(-1));
    gradient.setColorAt(0.5, Diverging(0));
    gradient.setColorAt(1.0, Diverging(1));
    painter.fillRect(key, largestDz > 0.0 ? QBrush(gradient) : QBrush(Qt::gray));
    painter.drawRect(key);
    painter.drawText(QPointF(key.right() + 10, key.bottom()),
                     largestDz > 0.0
                         ? QString("Z correction (dots): -%1 .. +%1").arg(Length(largestDz))
                         : QStringLiteral("No Z correction in this range"));
    painter.end();
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "tactus-tool volcomp plot: cannot write %s\n", qPrintable(out));
        return kExitNoImage;
    }
    std::printf("wrote %s: largest XY correction %s, largest Z correction %s\n", qPrintable(out),
                qPrintable(Length(largest)), qPrintable(Length(largestDz)));
    return 0;
}

// Only the plot paints (text needs a GUI application); its help does not.
bool Paints(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "plot" &&
           std::find(args.begin(), args.end(), "--help") == args.end() &&
           std::find(args.begin(), args.end(), "-h") == args.end();
}

// --- arguments --------------------------------------------------------------------------------

int Run(const std::vector<std::string>& args) {
    const std::string action = args.empty() ? std::string() : args[0];
    const bool known = action == "apply" || action == "check" || action == "plot";
    QCommandLineParser parser;
    parser.setApplicationDescription(
        known && action == "apply"
            ? QStringLiteral("Corrects the points of standard input (\"x y z\" per line, "
                             "millimetres, machine axes)\nand prints each corrected point.")
        : known && action == "check"
            ? QStringLiteral("Says what the method loaded (arm or machine type, layout, table "
                             "ranges, sync, grid)\nand the largest correction over the data's "
                             "ranges, with a warning when it is\nimplausible for a measuring "
                             "machine (more than 1 mm).")
        : known ? QStringLiteral("Draws the XY correction at height Z as magnified arrows and "
                                 "the Z correction\nas coloured dots, with the ends of the tables "
                                 "and the grid marked.")
                : QStringLiteral("Runs the driver's volumetric compensation outside the driver: "
                                 "apply corrects\npoints, check describes the data and their "
                                 "largest correction, plot draws it."));
    parser.addPositionalArgument(QStringLiteral("apply|check|plot"),
                                 QStringLiteral("What to do; 'volcomp ACTION --help' for each."));
    const QCommandLineOption method(QStringLiteral("method"),
                                    QStringLiteral("The VolCompMethod: 0, 11, 12, 13, 14 or 16."),
                                    QStringLiteral("N"));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("The folder of the data files (the driver's "
                                                "current directory)."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption file(QStringLiteral("file"),
                                  QStringLiteral("The CompensFileName setting (methods 11, 12, "
                                                 "16; default compens.dat)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption origin(QStringLiteral("origin"),
                                    QStringLiteral("The compensation origin (VolOffsetX, Y, Z), "
                                                   "mm."),
                                    QStringLiteral("X,Y,Z"));
    const QCommandLineOption tip(QStringLiteral("tip"),
                                 QStringLiteral("The tip vector the driver passes: the probe tip "
                                                "offset reversed (from the tip back to the probe "
                                                "mount), mm, machine axes."),
                                 QStringLiteral("X,Y,Z"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Write the driver's debug log (what the method "
                                                "reads and computes) to FILE."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption enciphered(QStringLiteral("enciphered"),
                                        QStringLiteral("Answer the host's option 63 with 1: B&S "
                                                       "maps are read from comp.enc."));
    const QCommandLineOption fallback(QStringLiteral("fallback"),
                                      QStringLiteral("Grant the host's fallback: a plain comp.dat "
                                                     "may stand in for an unreadable comp.enc."));
    const QCommandLineOption oldDea(QStringLiteral("old-dea-library"),
                                    QStringLiteral("UsingOldWcompens32 on: method 12 loads "
                                                   "wcompens32.dll instead of wcompens32_2.dll."));
    const QCommandLineOption deaMode(QStringLiteral("dea-mode"),
                                     QStringLiteral("The WCompensMode setting for method 12 "
                                                    "(default 1)."),
                                     QStringLiteral("N"));
    const QCommandLineOption arm2(QStringLiteral("arm2"),
                                  QStringLiteral("ARM2CompMode on: method 12 initialises arm 2."));
    const QCommandLineOption toCmm(QStringLiteral("to-cmm"),
                                   QStringLiteral("apply: CompensateToCMM (corrected point to "
                                                  "machine position) instead."));
    const QCommandLineOption z(QStringLiteral("z"),
                               QStringLiteral("plot: the height to draw (required); check: sample "
                                              "this one height."),
                               QStringLiteral("Z"));
    const QCommandLineOption outFile(QStringLiteral("out"),
                                     QStringLiteral("plot: the PNG file to write (required)."),
                                     QStringLiteral("FILE.png"));
    const QCommandLineOption range(QStringLiteral("range"),
                                   QStringLiteral("plot, check: the XY range instead of the "
                                                  "data's."),
                                   QStringLiteral("XMIN,XMAX,YMIN,YMAX"));
    for (const QCommandLineOption* opt :
         {&method, &dir, &file, &origin, &tip, &log, &enciphered, &fallback, &oldDea, &deaMode,
          &arm2, &toCmm, &z, &outFile, &range})
        parser.addOption(*opt);
    const std::string name = known ? "volcomp " + action : "volcomp";
    const std::string synopsis = action == "apply"   ? "volcomp apply --method N [OPTIONS] < POINTS"
                                 : action == "check" ? "volcomp check --method N [OPTIONS]"
                                 : action == "plot"
                                     ? "volcomp plot --method N --z Z --out FILE.png [OPTIONS]"
                                     : kSynopsis;
    if (const auto status = tool::ParseArguments(
            parser, name, synopsis, {args.begin() + (known ? 1 : 0), args.end()},
            QStringLiteral("Exit status: 0 done; 1 the method did not become ready (check: or "
                           "its correction is\nimplausible); 2 bad arguments or input; 3 the "
                           "picture could not be written.\nSee docs/compensation.md.")))
        return *status;
    if (!known)
        return tool::UsageError("volcomp", QStringLiteral("expected apply, check or plot"),
                                synopsis);
    if (!parser.positionalArguments().isEmpty())
        return tool::UsageError(
            name, "unexpected argument '" + parser.positionalArguments()[0] + "'", synopsis);

    Options o;
    const auto fail = [&](const char* message) {
        return tool::UsageError(name, QString::fromLatin1(message), synopsis);
    };
    double number = 0.0;
    std::vector<double> numbers;
    if (!parser.isSet(method))
        return fail("--method is required");
    if (!ParseNumber(parser.value(method).toStdString(), number) || number != std::trunc(number) ||
        number < 0 || number > 255)
        return fail("--method needs a method number 0 to 255");
    o.method = int(number);
    o.dir = parser.value(dir);
    if (parser.isSet(file))
        o.file = parser.value(file).toStdWString();
    for (const auto& [option, point] : {std::pair{&origin, &o.origin}, std::pair{&tip, &o.tip}}) {
        if (!parser.isSet(*option))
            continue;
        if (!ParseList(parser.value(*option).toStdString(), 3, numbers))
            return fail(option == &origin ? "--origin needs X,Y,Z" : "--tip needs X,Y,Z");
        *point = CPoint3(numbers.data());
    }
    o.log = parser.value(log);
    o.enciphered = parser.isSet(enciphered);
    o.fallback = parser.isSet(fallback);
    o.oldDeaLibrary = parser.isSet(oldDea);
    o.arm2 = parser.isSet(arm2);
    if (parser.isSet(deaMode)) {
        if (!ParseNumber(parser.value(deaMode).toStdString(), number) ||
            number != std::trunc(number) || std::fabs(number) > 1e9)
            return fail("--dea-mode needs a whole number");
        o.deaMode = int(number);
    }
    o.toCmm = parser.isSet(toCmm);
    if (parser.isSet(z)) {
        if (!ParseNumber(parser.value(z).toStdString(), number))
            return fail("--z needs a number");
        o.z = number;
    }
    o.out = parser.value(outFile);
    if (parser.isSet(range)) {
        if (!ParseList(parser.value(range).toStdString(), 4, numbers) ||
            !(numbers[0] < numbers[1]) || !(numbers[2] < numbers[3]))
            return fail("--range needs XMIN,XMAX,YMIN,YMAX with XMIN < XMAX and YMIN < YMAX");
        o.range = std::array<double, 4>{numbers[0], numbers[1], numbers[2], numbers[3]};
    }
    if (action == "apply")
        return Apply(o);
    if (action == "check")
        return Check(o);
    if (!o.z || o.out.isEmpty())
        return fail("--z and --out are required");
    return Plot(o);
}

const tool::ToolCommand kVolcomp("volcomp", {kSynopsis,
                                             "Correct points with a compensation method, check "
                                             "its data, or plot its correction.",
                                             Paints, Run});

}  // namespace
