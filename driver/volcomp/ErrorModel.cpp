#include "driver/volcomp/ErrorModel.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"

using namespace compfile;

namespace {

using Vec3 = std::array<double, 3>;
using Errors = std::array<std::array<double, kComponents>, kAxes>;

// Rotations are micro-radians, lever arms millimetres.
constexpr double kMicro = 1000000.0;

Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

// The displacement a rotation r (micro-radians) gives a lever arm l (millimetres): r x l.
Vec3 RotationTerm(const Vec3& r, const Vec3& l) {
    return {(-r[2] * l[1] + r[1] * l[2]) / kMicro, (r[2] * l[0] - r[0] * l[2]) / kMicro,
            (-r[1] * l[0] + r[0] * l[1]) / kMicro};
}

Vec3 Rotation(const Errors& e, int axis) {
    return {e[axis][3], e[axis][4], e[axis][5]};
}

// Table index and weight of a distance d from the table's lower end.
struct TablePosition {
    int n = 0;
    double f = 0.0;
};

// The index is the whole-number quotient of the truncated distance and the truncated
// step, as the tables were laid out. A step below 1 mm has no whole part to divide by and
// uses the real quotient. An index at or beyond the last entry is the last entry with
// weight 0; one below the first (or not a number) is the first entry with weight 0. So
// every index read stays inside the table.
TablePosition PositionIn(double d, double step, int span) {
    const double wholeStep = std::trunc(step);
    const double q =
        std::fabs(wholeStep) >= 1.0 ? std::trunc(std::trunc(d) / wholeStep) : std::trunc(d / step);
    if (!(q >= 0.0))
        return {0, 0.0};
    if (q >= span)
        return {span, 0.0};
    const int n = int(q);
    return {n, d / step - n};
}

template <std::size_t N>
double Interpolate(const std::array<double, N>& table, TablePosition at) {
    constexpr int span = int(N) - 1;
    if (at.n >= span)
        return table[span];
    return table[at.n] + at.f * (table[at.n + 1] - table[at.n]);
}

// Looks up the six components of one axis at p; zeros when the axis has no table or p
// lies outside it. Returns whether the axis took part (and where).
template <std::size_t N>
bool LookUp(const std::array<std::array<double, N>, kComponents>& tables, double lower, double step,
            double p, std::array<double, kComponents>& e, TablePosition& at) {
    constexpr int span = int(N) - 1;
    e.fill(0.0);
    if (step == 0.0 || !(lower <= p && p <= lower + span * step))
        return false;
    at = PositionIn(p - lower, step, span);
    for (int c = 0; c < kComponents; ++c)
        e[c] = Interpolate(tables[c], at);
    return true;
}

void LogVec(const wchar_t* format, const Vec3& v) {
    LogLine(format, v[0], v[1], v[2]);
}

// Arms 1 to 5 of a 251-entry file (ASI; CNC arms 1 to 4).
void ComposedModel(const CompensationTables& t, int arm, const double tip[3], double p[4],
                   int direction) {
    const double x = p[0];
    const double y = p[1];
    const double z = p[2];
    Errors e{};
    TablePosition xAt;
    const bool xIn = LookUp(t.longTables[0], t.axis[0].start, t.axis[0].step, x, e[0], xAt);
    TablePosition unused;
    LookUp(t.longTables[1], t.axis[1].start, t.axis[1].step, y, e[1], unused);
    LookUp(t.longTables[2], t.axis[2].start, t.axis[2].step, z, e[2], unused);

    double syncOffset = 0.0;
    if (arm == 1 && t.syncLoaded && xIn) {
        const double low = t.sync[xAt.n];
        const double high = t.sync[std::min(xAt.n + 1, kLongSpan)];
        LogLine(L"step_n: %3d \n", xAt.n);
        LogLine(L"min:  %13.5f max: %13.5f \n", low, high);
        syncOffset = low + xAt.f * (high - low) + t.sync[kLongSpan];
        if (direction == kModelFromMachine) {
            LogLine(L" x: %13.5f   s: %13.5f   SyncOffset: %13.5f\n", x, p[3], syncOffset);
            const double d = (p[3] + syncOffset - x) / t.s2x;
            e[0][5] += d;
            LogLine(L"SYNC XYAW incrment : %13.2f micro-radian\n", d * kMicro);
            e[0][0] += d * t.x2c;
            LogLine(L"SYNC XLIN incrment : %13.2f micron\n", d * t.x2c * 1000.0);
        }
    }

    if (arm == 5 && t.w > 10.0) {
        // Second Y rail: blend the two Y tables across X.
        std::array<double, kComponents> second{};
        LookUp(t.longTables[3], t.axis[1].start, t.axis[1].step, y, second, unused);
        const double g = (x - t.axis[0].origin) / t.w;
        for (int c = 0; c < kComponents; ++c)
            e[1][c] = e[1][c] + g * (second[c] - e[1][c]);
    }

    const double q0 = t.axis[0].squareness;
    const double q1 = t.axis[1].squareness;
    const double q2 = t.axis[2].squareness;
    const double o0 = std::trunc(t.axis[0].origin);
    const double o1 = std::trunc(t.axis[1].origin);
    const double o2 = std::trunc(t.axis[2].origin);
    const Vec3 tv{tip[0], tip[1], tip[2]};
    const Vec3 e0 = Rotation(e, 0);
    const Vec3 e1 = Rotation(e, 1);
    const Vec3 e2 = Rotation(e, 2);
    Vec3 dsp{e[0][0] + e[1][0] + e[2][0], e[0][1] + e[1][1] + e[2][1], e[0][2] + e[1][2] + e[2][2]};
    Vec3 b{};
    Vec3 c{};
    Vec3 d{};
    Vec3 sum{};
    switch (arm) {
        case 1:
        case 5: {
            const Vec3 rx = e0 + Vec3{0.0, q1, q2};
            const Vec3 rxy = rx + e1 + Vec3{q0, 0.0, 0.0};
            const Vec3 rxyz = rxy + e2;
            b = RotationTerm(rxyz, tv);
            c = RotationTerm(rxy, {0.0, 0.0, z - o2});
            d = RotationTerm(rx, {0.0, y - o1, 0.0});
            break;
        }
        case 2: {
            const double ziny = (y - o1) * t.axis[2].param1 * (z - o2);
            dsp[1] += ziny;
            LogLine(L"  ZINY crs : ( mm ) %10.4f \n", ziny);
            const double k = (z - o2) * (y - o1) * t.axis[2].param2;
            const Vec3 rx = e0 + Vec3{0.0, q1, q2};
            const Vec3 rxz = rx + e2 + Vec3{q0 + k, 0.0, 0.0};
            const Vec3 rxzy = rxz + e1;
            b = RotationTerm(rxzy, tv);
            c = RotationTerm(rxz, {0.0, y - o1, 0.0});
            d = RotationTerm(rx, {0.0, 0.0, z - o2});
            break;
        }
        case 3: {
            const Vec3 ry = e1 + Vec3{q0, 0.0, q2};
            const Vec3 ryx = ry + e0 + Vec3{0.0, q1, 0.0};
            const Vec3 ryxz = ryx + e2;
            b = RotationTerm(ryxz, tv);
            c = RotationTerm(ryx, {0.0, 0.0, z - o2});
            d = RotationTerm(ry, {x - o0, 0.0, 0.0});
            break;
        }
        default: {  // 4: X moves the part
            // The squareness terms add micro-radians times millimetres to millimetres, as
            // the machine files were calibrated (docs/compensation.md).
            dsp = {e[1][0] + e[0][0] + e[2][0] - q2 * y + q1 * z,
                   e[1][1] - e[0][1] + e[2][1] - q0 * y, e[1][2] - e[0][2] + e[2][2]};
            b = RotationTerm(e1 + e2, tv);
            c = RotationTerm(e1, {0.0, 0.0, z});
            d = RotationTerm(e0, {tv[0], tv[1] + y, tv[2] + z});
            sum = dsp + b + c - d;
            break;
        }
    }
    if (arm != 4) {
        LogVec(L" tip (mm): %10.4f %10.4f %10.4f\n", tv);
        LogVec(L" dsp (mm): %10.4f %10.4f %10.4f\n", dsp);
        LogVec(L" Bvec (mm): %13.4f %13.4f %13.4f \n", b);
        LogVec(L" Cvec (mm): %13.4f %13.4f %13.4f \n", c);
        LogVec(L" Dvec (mm): %13.4f %13.4f %13.4f \n", d);
        sum = dsp + b + c + d;
    }
    LogVec(L" sum (mm): %13.4f %13.4f %13.4f \n", sum);

    if (direction == kModelFromMachine) {
        for (int i = 0; i < 3; ++i)
            p[i] += sum[i];
        LogLine(arm == 5 ? L" Forward VolComp (13.5): %13.5f %13.5f %13.5f\n"
                         : L" Forward VolComp: %13.5f %13.5f %13.5f\n",
                p[0], p[1], p[2]);
    } else {
        for (int i = 0; i < 3; ++i)
            p[i] -= sum[i];
        if (t.syncLoaded && arm == 1)
            p[3] = p[0] - syncOffset;
        else if (t.syncLoaded && arm == 5)
            p[3] = p[0];
        LogLine(arm == 5 ? L" Reverse VolComp (13.5): %13.5f %13.5f %13.5f %13.5f \n"
                         : L" Reverse VolComp: %13.5f %13.5f %13.5f %13.5f \n",
                p[0], p[1], p[2], p[3]);
    }
}

// Every 51-entry file, and arm numbers without a composed model. Errors are micrometres
// and micro-radians; nothing is logged.
void ShortModel(const CompensationTables& t, int arm, int sub, const double tip[3], double p[4],
                int direction) {
    const double x = p[0];
    const double y = p[1];
    const double z = p[2];
    Errors e{};
    TablePosition unused;
    for (int a = 0; a < kAxes; ++a)
        LookUp(t.shortTables[a], t.axis[a].negative, t.axis[a].step, p[a], e[a], unused);

    // The Z tables a second time, indexed from the Z start downwards.
    const CompAxisInfo& zi = t.axis[2];
    std::array<double, kComponents> zv = e[2];
    if (zi.step != 0.0 && zi.negative <= z && z <= zi.negative + kShortSpan * zi.step) {
        const TablePosition at = PositionIn(zi.start - z, zi.step, kShortSpan);
        for (int c = 0; c < kComponents; ++c)
            zv[c] = Interpolate(t.shortTables[2][c], at);
        e[2][1] = zv[1];
    }

    const double q0 = t.axis[0].squareness;
    e[0][4] = t.axis[2].squareness + e[0][4];
    e[1][3] = e[1][3] + t.axis[1].squareness;
    double yaw = e[0][5];
    if (arm == 1) {
        if (sub == 2 || sub == 3)
            yaw = e[0][5] - q0;
        if (sub == 1 || sub == 4)
            e[1][5] = e[1][5] - q0;
    } else if (arm == 2) {
        yaw = e[0][5] - q0;
    }

    const Vec3 dsp{zv[0] + e[1][0] + e[0][0], e[1][1] + e[0][1] + e[2][1],
                   zv[2] + e[1][2] + e[0][2]};
    const double u = e[1][4] + e[0][4];
    const double m = zv[4] + u;
    const double ee = e[0][3] + e[1][3];
    const double lr = zv[3] + ee;
    const double v = yaw + e[1][5] - zv[5];
    const double tx = tip[0];
    const double ty = tip[1];
    const double tz = tip[2];
    // Rotation products (micro-radians times millimetres); an arm or sub-mode without a
    // defined model contributes none.
    double h = 0.0;
    double g = 0.0;
    double f = 0.0;
    if (arm == 1 && (sub == 2 || sub == 3)) {
        h = -(u * z) - yaw * y - m * tz - v * ty;
        g = v * tx - (lr * tz + ee * z);
        f = lr * ty + e[0][3] * y + m * tx;
    } else if (arm == 1 && (sub == 1 || sub == 4)) {
        f = lr * ty + e[1][4] * x + m * tx;
        g = -(ee * z) - e[1][5] * x - lr * tz - v * tx;
        h = v * ty - (m * tz + u * z);
    } else if (arm == 2) {
        f = lr * ty + ee * y + m * tx;
        g = v * tx - (lr * tz + e[0][3] * z);
        h = -(e[0][4] * z) - zv[5] * y - yaw * y - m * tz - v * ty;
    }
    const double k = direction == kModelFromMachine ? kMicro : -kMicro;
    p[0] += (h + dsp[0] * 1000.0) / k;
    p[1] += (g + dsp[1] * 1000.0) / k;
    p[2] += (f + dsp[2] * 1000.0) / k;
}

// CNC arm 5: clamps to the table ends, no squareness in the rotations, levers from the
// table starts.
void CncArm5Model(const CompensationTables& t, const double tip[3], double p[4], int direction) {
    LogLine(L" Machine Coordinate:%12.4f %12.4f %12.4f\n", p[0], p[1], p[2]);
    Errors e{};
    TablePosition at;
    for (int a = 0; a < kAxes; ++a) {
        const CompAxisInfo& info = t.axis[a];
        const double max = info.start + kLongSpan * info.step;
        if (info.step == 0.0) {
            // An axis without a table keeps the previous axis's index and weight.
        } else if (p[a] < info.start) {
            LogLine(L"min: %10.3f > p[i]:%10.3f\n", info.start, p[a]);
            at = {0, 0.0};
        } else if (p[a] > max) {
            LogLine(L"p[i]:%10.3f > max:%10.3f\n", p[a], max);
            at = {kLongSpan, 0.0};
        } else {
            at = PositionIn(p[a] - info.start, info.step, kLongSpan);
        }
        for (int c = 0; c < kComponents; ++c)
            e[a][c] = Interpolate(t.longTables[a][c], at);
        LogLine(L" Axis:%d Index Position:%d  weight:%8.4f\n", a, at.n + 1, at.f);
        LogLine(L" Geo. Error:%10.4f %10.4f %10.4f %10.2f %10.2f %10.2f\n", e[a][0], e[a][1],
                e[a][2], e[a][3], e[a][4], e[a][5]);
    }
    const double x = p[0];
    const double y = p[1];
    const double z = p[2];
    const double q0 = t.axis[0].squareness;
    const double q1 = t.axis[1].squareness;
    const double q2 = t.axis[2].squareness;
    const Vec3 ry = Rotation(e, 1);
    const Vec3 ryx = Rotation(e, 0) + ry;
    const Vec3 ryxz = ryx + Rotation(e, 2);
    // Squareness enters as micro-radians times millimetres, as the machine files were
    // calibrated (docs/compensation.md).
    const Vec3 dsp{e[0][0] + e[1][0] + e[2][0] - q2 * y + q1 * z,
                   e[0][1] + e[1][1] + e[2][1] - q0 * y, e[0][2] + e[1][2] + e[2][2]};
    const Vec3 vecB{-tip[0], -tip[1], -tip[2]};
    const Vec3 vecC{0.0, 0.0, z - t.axis[2].start};
    const Vec3 vecD{x - t.axis[0].start, 0.0, 0.0};
    LogVec(L" VecB: %10.4f %10.4f %10.4f(reverse of tip)\n", vecB);
    LogVec(L" VecC: %10.4f %10.4f %10.4f\n", vecC);
    LogVec(L" VecD: %10.4f %10.4f %10.4f\n", vecD);
    LogVec(L" dsp (mm): %10.4f %10.4f %10.4f\n", dsp);
    const Vec3 b = RotationTerm(ryxz, vecB);
    const Vec3 c = RotationTerm(ryx, vecC);
    const Vec3 d = RotationTerm(ry, vecD);
    LogVec(L" Bvec (mm): %13.4f %13.4f %13.4f \n", b);
    LogVec(L" Cvec (mm): %13.4f %13.4f %13.4f \n", c);
    LogVec(L" Dvec (mm): %13.4f %13.4f %13.4f \n", d);
    const Vec3 sum = dsp + b + c + d;
    LogVec(L" sum (mm): %13.4f %13.4f %13.4f \n", sum);
    const bool from = direction == kModelFromMachine;
    for (int i = 0; i < 3; ++i)
        p[i] = from ? p[i] + sum[i] : p[i] - sum[i];
    LogLine(L" mode: %d \n", from ? 1 : 0);
    LogLine(L" p(output): %12.4f %12.4f %12.4f \n", p[0], p[1], p[2]);
}

}  // namespace

void ShortErrorModel(const CompensationTables& tables, int arm, int subMode, const double tip[3],
                     double point[4], int direction) {
    ShortModel(tables, arm, subMode, tip, point, direction);
}

void AsiErrorModel(const double tip[3], double point[4], int direction) {
    const CompensationTables& t = CompTables();
    const int arm = t.Arm();
    LogLine(L"  ARM: %d   RZ1 : %20.13f  LZ1 : %20.13f\n", arm, t.axis[2].param2, t.axis[2].param1);
    if (t.longLayout && arm >= 1 && arm <= 5)
        ComposedModel(t, arm, tip, point, direction);
    else
        ShortModel(t, arm, t.SubMode(), tip, point, direction);
}

void CncErrorModel(const double tip[3], double point[4], int direction) {
    const CompensationTables& t = CompTables();
    const int arm = t.Arm();
    LogLine(L"  ARM: %d\n", arm);
    if (t.longLayout && arm == 5)
        CncArm5Model(t, tip, point, direction);
    else if (t.longLayout && arm >= 1 && arm <= 4)
        ComposedModel(t, arm, tip, point, direction);
    else
        ShortModel(t, arm, t.SubMode(), tip, point, direction);
}
