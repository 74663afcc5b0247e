#pragma once
// GridCompensation: planar correction of X and Y measured on a grid of target points,
// optionally at two heights, read from the binary file "compgrid.dat" (layout in
// docs/compensation.md).
//
// Every compensation object carries one; the ASI and B&S methods load it during their
// LoadCompensation and apply it on top of their own correction. The object owns its grids.
// Load reports failure through its result and the debug log and leaves the object
// unloaded; nothing throws. Apply never reads outside the grids: points beyond the grid
// are corrected with the edge cells. Not thread-safe; the driver uses it on the host's UI
// thread only.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/core/CPoint3.h"

class GridCompensation {
  public:
    // Load results.
    static constexpr int kLoaded = 1;
    static constexpr int kNoFile = 0;
    static constexpr int kBadHeader = -1;
    static constexpr int kShortGrid = -2;
    static constexpr int kNotFinite = -3;

    static constexpr std::size_t kHeaderBytes = 96;
    static constexpr std::size_t kCommentBytes = 40;
    static constexpr const char* kCommentTag = "GridMethodErrorCompFile";

    // Apply directions.
    static constexpr int kFromMachine = 1;
    static constexpr int kToMachine = 0;

    // One grid cell: the X and Y errors (millimetres) at a target point.
    struct Cell {
        double dx = 0.0;
        double dy = 0.0;
    };

    explicit GridCompensation(std::wstring fileName = L"compgrid.dat");

    // Reads the file (relative names resolve against the current directory). Returns
    // kLoaded, kNoFile when the file does not exist, kBadHeader for a short header, a wrong
    // comment, too small counts or steps or a file that is no regular file, kShortGrid when
    // the file is shorter than its grids, kNotFinite when a header value or a cell is not a
    // finite number. Logs every value it reads. Call at most once.
    int Load();

    // Corrects xyz[0] and xyz[1] in place: adds the interpolated errors from the machine
    // (direction kFromMachine), subtracts them towards the machine (kToMachine). z is never
    // changed. The tip is accepted for symmetry with the methods and not used. Does nothing
    // while no grid is loaded (mode 0).
    void Apply(const CPoint3& tip, double* xyz, int direction) const;

    // The interpolated (dx, dy) at a point; (0, 0) with mode 0.
    Cell ErrorAt(double x, double y, double z) const;

    bool IsLoaded() const { return loaded_; }
    // 0 nothing loaded, 1 one grid, 2 two grids.
    int Mode() const { return mode_; }
    const std::wstring& FileName() const { return fileName_; }
    // For reports: the file name, or after a failed Load that found a value that is not
    // finite, or a file that is no regular file, a text that names that too.
    std::wstring Problem() const { return problem_.empty() ? fileName_ : problem_; }

    double XCount() const { return xCount_; }
    double YCount() const { return yCount_; }
    double XStart() const { return xStart_; }
    double YStart() const { return yStart_; }
    double XStep() const { return xStep_; }
    double YStep() const { return yStep_; }
    double ZPos1() const { return zPos1_; }
    double ZPos2() const { return zPos2_; }

  private:
    Cell Bilinear(const std::vector<Cell>& grid, int i, int j, double fu, double fv) const;

    double xCount_ = 0.0;
    double yCount_ = 0.0;
    double xStart_ = 0.0;
    double yStart_ = 0.0;
    double xStep_ = 0.0;
    double yStep_ = 0.0;
    double zPos1_ = 0.0;
    double zPos2_ = 0.0;
    // Cells in file order: index i * Y count + j (X index outer).
    std::vector<Cell> grid1_;
    std::vector<Cell> grid2_;
    int mode_ = 0;
    std::array<std::uint8_t, kHeaderBytes> header_{};
    bool loaded_ = false;
    std::wstring fileName_;
    std::wstring problem_;
};
