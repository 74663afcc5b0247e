#include "ipp/session/CoordSystems.h"

#include <cmath>
#include <numbers>

namespace ipp {

namespace {

using Matrix = std::array<Vec3, 3>;

constexpr std::string_view kNames[] = {
    "MachineCsy",    "MoveableMachineCsy", "MultipleArmCsy", "PartCsy",
    "JogDisplayCsy", "JogMoveCsy",         "SensorCsy",
};

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// The rotation of the standard's R33::Create (appendix A.4.2).
Matrix Rotation(const CsyTransformation& t) {
    const double c1 = std::cos(Radians(t.theta)), s1 = std::sin(Radians(t.theta));
    const double c2 = std::cos(Radians(t.psi)), s2 = std::sin(Radians(t.psi));
    const double c3 = std::cos(Radians(t.phi)), s3 = std::sin(Radians(t.phi));
    return {{
        {c2 * c3 - c1 * s2 * s3, s2 * c3 + c1 * c2 * s3, s1 * s3},
        {-c2 * s3 - c1 * s2 * c3, -s2 * s3 + c1 * c2 * c3, s1 * c3},
        {s1 * s2, -s1 * c2, c1},
    }};
}

Vec3 Times(const Matrix& m, const Vec3& v) {
    Vec3 out{};
    for (std::size_t row = 0; row < 3; ++row)
        out[row] = m[row][0] * v[0] + m[row][1] * v[1] + m[row][2] * v[2];
    return out;
}

double Modulo360(double degrees) {
    double angle = std::fmod(degrees, 360.0);
    if (angle < 0.0)
        angle += 360.0;
    return angle >= 360.0 ? 0.0 : angle;
}

// The transformations from the machine to `target`, in the order they apply.
int ChainLength(Csy target) {
    switch (target) {
        case Csy::MultipleArmCsy:
            return 1;
        case Csy::MoveableMachineCsy:
            return 2;
        case Csy::PartCsy:
            return 3;
        default:
            return 0;
    }
}

constexpr Csy kChain[] = {Csy::MultipleArmCsy, Csy::MoveableMachineCsy, Csy::PartCsy};

}  // namespace

std::optional<Csy> CsyFromName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (kNames[i] == name)
            return static_cast<Csy>(i);
    }
    return std::nullopt;
}

std::string_view CsyName(Csy csy) {
    return kNames[static_cast<std::size_t>(csy)];
}

bool CoordSystems::Selectable(Csy csy) {
    return csy == Csy::MachineCsy || ChainLength(csy) > 0;
}

bool CoordSystems::Transformable(Csy csy) {
    return csy != Csy::MachineCsy;
}

bool CoordSystems::Select(Csy csy) {
    if (!Selectable(csy))
        return false;
    active_ = csy;
    return true;
}

bool CoordSystems::Set(Csy csy, const CsyTransformation& transformation) {
    if (!Transformable(csy) || !(transformation.theta >= 0.0 && transformation.theta <= 180.0))
        return false;
    CsyTransformation stored = transformation;
    stored.psi = Modulo360(stored.psi);
    stored.phi = Modulo360(stored.phi);
    transformations_[Index(csy)] = stored;
    return true;
}

Vec3 CoordSystems::PointFromMachine(const Vec3& point) const {
    Vec3 p = point;
    for (int step = 0; step < ChainLength(active_); ++step) {
        const CsyTransformation& t = Get(kChain[step]);
        p = Times(Rotation(t), {p[0] - t.x0, p[1] - t.y0, p[2] - t.z0});
    }
    return p;
}

Vec3 CoordSystems::VectorFromMachine(const Vec3& vector) const {
    Vec3 v = vector;
    for (int step = 0; step < ChainLength(active_); ++step)
        v = Times(Rotation(Get(kChain[step])), v);
    return v;
}

}  // namespace ipp
