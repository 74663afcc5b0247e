// tactus-tool volcomp apply|plot: runs the driver's volumetric compensation outside the
// driver (see docs/compensation.md).
//
//   volcomp apply --method N [--dir DIR] [--file NAME] [--origin X,Y,Z] [--tip X,Y,Z]
//                 [--to-cmm] [--log FILE]
//     Builds the method exactly as the driver does (InitializeVolcomp, with NAME as the
//     CompensFileName setting and DIR as the current directory, where the data files are
//     looked up), reads "x y z" per line from stdin and prints the corrected point with
//     %.9f per line. Host message boxes go to stderr. --log writes the driver's debug log.
//
//   volcomp plot --method N [--dir DIR] [--file NAME] [--origin X,Y,Z] [--tip X,Y,Z]
//                --z Z --out FILE.png [--range XMIN,XMAX,YMIN,YMAX]
//     Draws the XY correction at height Z as magnified arrows over the tables' XY range.
//
// Exit status: 0 done, 1 the method did not become ready, 2 bad arguments or input, 3 the
// picture could not be written.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
#include "host/HostConfig.h"
#include "host/QlnServices.h"
#include "tools/Command.h"

namespace {

constexpr int kExitNotReady = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoImage = 3;

struct Options {
    int method = -1;
    QString dir;
    std::wstring file = L"compens.dat";  // the CompensFileName default
    CPoint3 origin;
    CPoint3 tip;
    bool toCmm = false;
    QString log;
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

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool flag = arg == "--to-cmm";
        if (!flag && i + 1 >= args.size()) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string value = flag ? std::string() : args[++i];
        std::vector<double> numbers;
        if (arg == "--method") {
            double m = 0.0;
            if (!ParseNumber(value, m) || m != std::trunc(m) || m < 0 || m > 255) {
                error = "--method needs a method number 0 to 255";
                return std::nullopt;
            }
            o.method = int(m);
        } else if (arg == "--dir") {
            o.dir = QString::fromStdString(value);
        } else if (arg == "--file") {
            o.file = QString::fromStdString(value).toStdWString();
        } else if (arg == "--origin" || arg == "--tip") {
            if (!ParseList(value, 3, numbers)) {
                error = arg + " needs X,Y,Z";
                return std::nullopt;
            }
            (arg == "--origin" ? o.origin : o.tip) = CPoint3(numbers.data());
        } else if (arg == "--to-cmm") {
            o.toCmm = true;
        } else if (arg == "--log") {
            o.log = QString::fromStdString(value);
        } else if (arg == "--z") {
            double z = 0.0;
            if (!ParseNumber(value, z)) {
                error = "--z needs a number";
                return std::nullopt;
            }
            o.z = z;
        } else if (arg == "--out") {
            o.out = QString::fromStdString(value);
        } else if (arg == "--range") {
            if (!ParseList(value, 4, numbers) || !(numbers[0] < numbers[1]) ||
                !(numbers[2] < numbers[3])) {
                error = "--range needs XMIN,XMAX,YMIN,YMAX with XMIN < XMAX and YMIN < YMAX";
                return std::nullopt;
            }
            o.range = std::array<double, 4>{numbers[0], numbers[1], numbers[2], numbers[3]};
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (o.method < 0) {
        error = "--method is required";
        return std::nullopt;
    }
    return o;
}

struct Closer {
    void operator()(VolcompBaseClass* v) const { CloseVolcomp(v); }
};
using Volcomp = std::unique_ptr<VolcompBaseClass, Closer>;

// Sets the process up as the driver sees its host (messages to stderr, answered at once),
// opens the log, enters DIR and builds the method. Null (with a message) when anything
// fails; `status` then holds the exit status.
Volcomp Build(const Options& o, int& status) {
    QlnConfig().interactiveMessageBoxes = false;
    QlnConfig().echoMessageBoxes = true;
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
    Volcomp volcomp(InitializeVolcomp(o.method, qlnTheApp, qlnTheApp->hostIface, 0, 0, 0, 1,
                                      o.origin, o.file.c_str(), 0));
    if (!volcomp) {
        std::fprintf(stderr, "tactus-tool volcomp: compensation method %d did not become ready\n",
                     o.method);
        status = kExitNotReady;
    }
    return volcomp;
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

// The XY range the loaded data cover: the axis tables and the grid, whichever exist.
std::optional<std::array<double, 4>> DataRange(const VolcompBaseClass& volcomp, int method) {
    std::optional<std::array<double, 4>> range;
    const auto extend = [&range](double x0, double x1, double y0, double y1) {
        if (!(x0 < x1) || !(y0 < y1) || !std::isfinite(x1 - x0) || !std::isfinite(y1 - y0))
            return;
        if (!range)
            range = std::array<double, 4>{x0, x1, y0, y1};
        else
            range = std::array<double, 4>{std::min((*range)[0], x0), std::max((*range)[1], x1),
                                          std::min((*range)[2], y0), std::max((*range)[3], y1)};
    };
    if (method == 11 || method == 13 || method == 16) {
        const CompensationTables& t = method == 11 ? DeaTables() : CompTables();
        const int span = t.longLayout ? compfile::kLongSpan : compfile::kShortSpan;
        const auto lower = [&t](int a) {
            return t.longLayout ? t.axis[a].start : t.axis[a].negative;
        };
        extend(lower(0), lower(0) + span * t.axis[0].step, lower(1),
               lower(1) + span * t.axis[1].step);
    }
    if (method == 14) {
        const BnsCompMap& map = static_cast<const BnsVolcomp&>(volcomp).Map();
        const int last = map.Points() - 1;
        extend(
            map.Start(BnsCompMap::kX), map.Start(BnsCompMap::kX) + last * map.Step(BnsCompMap::kX),
            map.Start(BnsCompMap::kY), map.Start(BnsCompMap::kY) + last * map.Step(BnsCompMap::kY));
    }
    const GridCompensation& g = volcomp.Grid();
    if (g.IsLoaded())
        extend(g.XStart(), g.XStart() + (g.XCount() - 1) * g.XStep(), g.YStart(),
               g.YStart() + (g.YCount() - 1) * g.YStep());
    return range;
}

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

int Plot(const Options& o) {
    if (!o.z || o.out.isEmpty()) {
        std::fprintf(stderr, "tactus-tool volcomp plot: --z and --out are required\n");
        return kExitUsage;
    }
    const QString out = QFileInfo(o.out).absoluteFilePath();
    int status = 0;
    Volcomp volcomp = Build(o, status);
    if (!volcomp)
        return status;
    const auto range = o.range ? o.range : DataRange(*volcomp, o.method);
    if (!range) {
        std::fprintf(stderr,
                     "tactus-tool volcomp plot: the data cover no XY range; give --range\n");
        return kExitUsage;
    }
    const auto [x0, x1, y0, y1] = *range;

    // Corrections on a sample grid of machine points at height z.
    constexpr int kSamples = 21;
    struct Sample {
        double x, y, dx, dy, dz;
    };
    std::vector<Sample> samples;
    double largest = 0.0;
    double largestDz = 0.0;
    Sample worst{x0, y0, 0, 0, 0};
    for (int i = 0; i < kSamples; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            const double x = x0 + (x1 - x0) * i / (kSamples - 1);
            const double y = y0 + (y1 - y0) * j / (kSamples - 1);
            CPoint3 p(x, y, *o.z);
            volcomp->CompensateFromCMM(o.tip, p, p);
            const CPoint3 moved = CPoint3(x, y, *o.z) - o.origin;
            const Sample s{x, y, p.x() - moved.x(), p.y() - moved.y(), p.z() - moved.z()};
            samples.push_back(s);
            const double size = std::hypot(s.dx, s.dy);
            if (std::isfinite(size) && size > largest) {
                largest = size;
                worst = s;
            }
            if (std::isfinite(s.dz))
                largestDz = std::max(largestDz, std::fabs(s.dz));
        }
    }

    // Image layout: the data range fills a square plot area, aspect ratio kept.
    constexpr int kWidth = 900;
    constexpr int kHeight = 980;
    constexpr int kMargin = 100;
    const double area = kWidth - 2 * kMargin;
    const double pxPerMm = area / std::max(x1 - x0, y1 - y0);
    const auto toPixel = [&](double x, double y) {
        return QPointF(kMargin + (x - x0) * pxPerMm, kMargin + area - (y - y0) * pxPerMm);
    };
    // The largest arrow spans 90 % of the sample spacing.
    const double spacingPx = std::min(x1 - x0, y1 - y0) * pxPerMm / (kSamples - 1);
    const double arrowPxPerMm = largest > 0.0 ? 0.9 * spacingPx / largest : 0.0;
    const double magnification = arrowPxPerMm / pxPerMm;

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::lightGray, 1));
    painter.drawRect(QRectF(toPixel(x0, y1), toPixel(x1, y0)));
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.drawText(
        QPointF(kMargin, 30),
        QString("Volumetric correction, method %1, Z = %2 mm").arg(o.method).arg(*o.z));
    painter.drawText(toPixel(x0, y0) + QPointF(0, 20), QString::number(x0, 'f', 1));
    painter.drawText(toPixel(x1, y0) + QPointF(-60, 20), QString::number(x1, 'f', 1) + " X");
    painter.drawText(toPixel(x0, y0) + QPointF(-90, 0), QString::number(y0, 'f', 1));
    painter.drawText(toPixel(x0, y1) + QPointF(-90, 10), QString::number(y1, 'f', 1) + " Y");

    for (const Sample& s : samples) {
        const QPointF at = toPixel(s.x, s.y);
        painter.setPen(QPen(Qt::darkGray, 1));
        painter.drawEllipse(at, 1.5, 1.5);
        if (!std::isfinite(s.dx) || !std::isfinite(s.dy) || arrowPxPerMm == 0.0)
            continue;
        painter.setPen(QPen(QColor(20, 70, 200), 1.5));
        DrawArrow(painter, at, at + QPointF(s.dx * arrowPxPerMm, -s.dy * arrowPxPerMm));
    }

    painter.setPen(Qt::black);
    const double textTop = kMargin + area + 50;
    painter.drawText(QPointF(kMargin, textTop),
                     largest > 0.0 ? QString("Arrow scale: corrections magnified %1 times "
                                             "(1 um = %2 px)")
                                         .arg(magnification, 0, 'f', 0)
                                         .arg(arrowPxPerMm / 1000.0, 0, 'f', 3)
                                   : QString("No XY correction in this range"));
    painter.drawText(QPointF(kMargin, textTop + 22),
                     QString("Largest XY correction: %1 mm at X %2, Y %3 (dx %4, dy %5)")
                         .arg(largest, 0, 'f', 6)
                         .arg(worst.x, 0, 'f', 1)
                         .arg(worst.y, 0, 'f', 1)
                         .arg(worst.dx, 0, 'f', 6)
                         .arg(worst.dy, 0, 'f', 6));
    painter.drawText(QPointF(kMargin, textTop + 44),
                     QString("Largest Z correction: %1 mm").arg(largestDz, 0, 'f', 6));
    painter.end();
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "tactus-tool volcomp plot: cannot write %s\n", qPrintable(out));
        return kExitNoImage;
    }
    std::printf("wrote %s: largest XY correction %.6f mm, arrows magnified %.0f times\n",
                qPrintable(out), largest, magnification);
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty() || (args[0] != "apply" && args[0] != "plot")) {
        std::fprintf(stderr, "usage: tactus-tool volcomp apply|plot --method N [options]\n");
        return kExitUsage;
    }
    std::string error;
    const auto options = ParseOptions({args.begin() + 1, args.end()}, error);
    if (!options) {
        std::fprintf(stderr, "tactus-tool volcomp: %s\n", error.c_str());
        return kExitUsage;
    }
    if (args[0] == "apply")
        return Apply(*options);
    // Painting text needs a GUI application; without a display it runs off-screen.
    if (qgetenv("DISPLAY").isEmpty() && qgetenv("WAYLAND_DISPLAY").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "tactus-tool";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    return Plot(*options);
}

const tool::ToolCommand kVolcomp(
    "volcomp",
    "volcomp apply|plot --method N [--dir DIR] [--file NAME] [--origin X,Y,Z] [--tip X,Y,Z] "
    "[--to-cmm] [--log FILE] [--z Z --out FILE.png [--range XMIN,XMAX,YMIN,YMAX]]",
    Run);

}  // namespace
