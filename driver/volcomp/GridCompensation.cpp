#include "driver/volcomp/GridCompensation.h"

#include <QFile>
#include <QString>
#include <bit>
#include <cmath>
#include <cstring>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/DataFile.h"

static_assert(std::endian::native == std::endian::little,
              "grid files are little-endian and read in place");

namespace {

// Header field offsets (docs/compensation.md, "compgrid.dat").
constexpr std::size_t kXCountAt = 40;
constexpr std::size_t kYCountAt = 44;
constexpr std::size_t kXStartAt = 48;
constexpr std::size_t kYStartAt = 56;
constexpr std::size_t kXStepAt = 64;
constexpr std::size_t kYStepAt = 72;
constexpr std::size_t kZPos1At = 80;
constexpr std::size_t kZPos2At = 88;
// A second grid is read when the heights differ by more than this, and used when they
// differ by more than kUseSecondGrid (millimetres).
constexpr double kReadSecondGrid = 1.0;
constexpr double kUseSecondGrid = 30.0;

template <typename T>
T FieldAt(const std::uint8_t* bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

// Reads count x count cells in file order, logging each. The result is 0, or kShortGrid
// on a short read, or kNotFinite with `problem` naming the cell.
int ReadGrid(QFile& file, std::int64_t xCount, std::int64_t yCount, int number,
             const wchar_t* label, std::vector<GridCompensation::Cell>& grid,
             std::wstring& problem) {
    grid.clear();
    for (std::int64_t i = 0; i < xCount; ++i) {
        for (std::int64_t j = 0; j < yCount; ++j) {
            double pair[2];
            if (file.read(reinterpret_cast<char*>(pair), sizeof pair) != qint64(sizeof pair))
                return GridCompensation::kShortGrid;
            for (int e = 0; e < 2; ++e) {
                if (!std::isfinite(pair[e])) {
                    problem = L"grid " + std::to_wstring(number) + L", cell X " +
                              std::to_wstring(i) + L" Y " + std::to_wstring(j) +
                              (e == 0 ? L", X error" : L", Y error");
                    return GridCompensation::kNotFinite;
                }
            }
            grid.push_back({pair[0], pair[1]});
            LogLine(label, int(i), int(j), pair[0], pair[1]);
        }
    }
    return 0;
}

// Position on one grid axis: cell index and fraction, clamped so that the cell and its
// upper neighbour both exist. A coordinate that is not a number is treated as the start.
void CellOf(double p, double start, double step, double count, int& index, double& fraction) {
    double u = (p - start) / step;
    if (!(u >= 0.0))
        u = 0.0;
    else if (u >= count - 1.0)
        u = count - 1.001;
    index = int(u);
    fraction = u - index;
}

}  // namespace

GridCompensation::GridCompensation(std::wstring fileName) : fileName_(std::move(fileName)) {}

int GridCompensation::Load() {
    QFile file;
    switch (OpenDataFile(QString::fromStdWString(fileName_), file)) {
        case DataFileOpen::kMissing:
            LogLine(L"Failed to open grid data file %ls\n", fileName_.c_str());
            return kNoFile;
        case DataFileOpen::kNotRegular:
            problem_ = NotRegularFileText(QString::fromStdWString(fileName_));
            LogLine(L"%ls\n", problem_.c_str());
            return kBadHeader;
        case DataFileOpen::kOpened:
            break;
    }
    LogLine(L"Opened grid data file %ls\n", fileName_.c_str());
    mode_ = 0;

    if (file.read(reinterpret_cast<char*>(header_.data()), kHeaderBytes) != qint64(kHeaderBytes))
        return kBadHeader;
    if (std::memcmp(header_.data(), kCommentTag, std::strlen(kCommentTag)) != 0) {
        LogLine(L"Invalid file type comment\n");
        return kBadHeader;
    }
    static constexpr std::pair<std::size_t, const wchar_t*> kReals[] = {
        {kXStartAt, L"X start"}, {kYStartAt, L"Y start"},     {kXStepAt, L"X step"},
        {kYStepAt, L"Y step"},   {kZPos1At, L"Z position 1"}, {kZPos2At, L"Z position 2"}};
    for (const auto& [at, name] : kReals) {
        if (!std::isfinite(FieldAt<double>(header_.data(), at))) {
            problem_ = fileName_ + L": header, " + name + L" is not a finite number";
            LogLine(L"%ls\n", problem_.c_str());
            return kNotFinite;
        }
    }
    const auto xCount = FieldAt<std::int32_t>(header_.data(), kXCountAt);
    const auto yCount = FieldAt<std::int32_t>(header_.data(), kYCountAt);
    const auto xStep = FieldAt<double>(header_.data(), kXStepAt);
    const auto yStep = FieldAt<double>(header_.data(), kYStepAt);
    if (xCount < 2 || yCount < 2 || !(xStep > 0.0) || !(yStep > 0.0)) {
        LogLine(L"Grid data step count or step size too small\n");
        return kBadHeader;
    }
    xCount_ = xCount;
    yCount_ = yCount;
    xStart_ = FieldAt<double>(header_.data(), kXStartAt);
    yStart_ = FieldAt<double>(header_.data(), kYStartAt);
    xStep_ = xStep;
    yStep_ = yStep;
    zPos1_ = FieldAt<double>(header_.data(), kZPos1At);
    zPos2_ = FieldAt<double>(header_.data(), kZPos2At);
    LogLine(L"X Targets: %5.1lf   X StepSize: %4.1lf  Y StartPos: %7.2lf \n", xCount_, xStep_,
            xStart_);
    LogLine(L"Y Targets: %5.1lf   Y StepSize: %4.1lf  Y StartPos: %7.2lf \n", yCount_, yStep_,
            yStart_);
    LogLine(L"Z Pos 1:  %7.2lf   Z pos 2: %7.2lf\n", zPos1_, zPos2_);

    std::wstring cell;
    int failed = ReadGrid(file, xCount, yCount, 1, L"Grid1 X: %d Y: %d XErr: %6.4lf YErr: %6.4lf\n",
                          grid1_, cell);
    if (failed == 0) {
        mode_ = 1;
        if (std::fabs(zPos1_ - zPos2_) > kReadSecondGrid) {
            LogLine(L"\n");
            failed = ReadGrid(file, xCount, yCount, 2,
                              L"Grid2 X: %d Y: %d XErr: %6.4lf YErr: %6.4lf\n", grid2_, cell);
            if (failed == 0)
                mode_ = 2;
        }
    }
    if (failed != 0) {
        if (failed == kShortGrid)
            LogLine(mode_ == 0 ? L"Grid data read error position 1 data\n"
                               : L"Grid data read error position 2 data\n");
        else
            problem_ = fileName_ + L": " + cell + L" is not a finite number";
        if (!problem_.empty())
            LogLine(L"%ls\n", problem_.c_str());
        // The object stays unloaded, so no half-read state may be applied either.
        grid1_.clear();
        grid2_.clear();
        mode_ = 0;
        return failed;
    }
    loaded_ = true;
    return kLoaded;
}

GridCompensation::Cell GridCompensation::Bilinear(const std::vector<Cell>& grid, int i, int j,
                                                  double fu, double fv) const {
    const auto rows = std::size_t(yCount_);
    const Cell& c00 = grid[std::size_t(i) * rows + std::size_t(j)];
    const Cell& c10 = grid[std::size_t(i + 1) * rows + std::size_t(j)];
    const Cell& c01 = grid[std::size_t(i) * rows + std::size_t(j + 1)];
    const Cell& c11 = grid[std::size_t(i + 1) * rows + std::size_t(j + 1)];
    const double w00 = (1 - fu) * (1 - fv);
    const double w10 = fu * (1 - fv);
    const double w01 = (1 - fu) * fv;
    const double w11 = fu * fv;
    return {w00 * c00.dx + w10 * c10.dx + w01 * c01.dx + w11 * c11.dx,
            w00 * c00.dy + w10 * c10.dy + w01 * c01.dy + w11 * c11.dy};
}

GridCompensation::Cell GridCompensation::ErrorAt(double x, double y, double z) const {
    if (mode_ == 0)
        return {};
    int i = 0;
    int j = 0;
    double fu = 0.0;
    double fv = 0.0;
    CellOf(x, xStart_, xStep_, xCount_, i, fu);
    CellOf(y, yStart_, yStep_, yCount_, j, fv);
    Cell error = Bilinear(grid1_, i, j, fu, fv);
    if (mode_ == 2 && std::fabs(zPos1_ - zPos2_) > kUseSecondGrid) {
        const Cell upper = Bilinear(grid2_, i, j, fu, fv);
        // Linear in z through the two heights, extrapolated beyond them.
        error.dx = error.dx + (upper.dx - error.dx) / (zPos2_ - zPos1_) * (z - zPos1_);
        error.dy = error.dy + (upper.dy - error.dy) / (zPos2_ - zPos1_) * (z - zPos1_);
    }
    return error;
}

void GridCompensation::Apply(const CPoint3&, double* xyz, int direction) const {
    if (mode_ == 0)
        return;
    const Cell error = ErrorAt(xyz[0], xyz[1], xyz[2]);
    if (direction == kFromMachine) {
        xyz[0] += error.dx;
        xyz[1] += error.dy;
    } else {
        xyz[0] -= error.dx;
        xyz[1] -= error.dy;
    }
}
