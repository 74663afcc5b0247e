#pragma once
// The coordinate systems of a Cartesian I++ DME machine: which one the client works in and
// the transformations that lead to it from the machine's own (I++ DME 1.4.3, section 6.3.3).
//
// The chain is machine -> MultipleArmCsy -> MoveableMachineCsy -> PartCsy; selecting one
// applies the transformations up to it. Each transformation is given as the client gives
// it (X0, Y0, Z0, Theta, Psi, Phi) and maps a point p of the previous system to
//   p' = M(Theta, Psi, Phi) * (p - (X0, Y0, Z0)),
// the formula of section 6.3.3 with the Euler matrix of the standard's appendix A.4.2: so
// X0, Y0, Z0 is the new system's origin given in the previous one (docs/ipp.md explains
// the choice). Vectors are only rotated. JogDisplayCsy, JogMoveCsy and SensorCsy are kept
// and read back but move no point: this machine has no jog box and no sensor system.
//
// Plain value type; the server keeps one for its whole run. Any thread, one at a time.

#include <array>
#include <optional>
#include <string_view>

namespace ipp {

using Vec3 = std::array<double, 3>;

enum class Csy {
    MachineCsy,
    MoveableMachineCsy,
    MultipleArmCsy,
    PartCsy,
    JogDisplayCsy,
    JogMoveCsy,
    SensorCsy,
};

std::optional<Csy> CsyFromName(std::string_view name);
std::string_view CsyName(Csy csy);

struct CsyTransformation {
    double x0 = 0.0;
    double y0 = 0.0;
    double z0 = 0.0;
    double theta = 0.0;  // degrees, 0..180
    double psi = 0.0;    // degrees, [0, 360)
    double phi = 0.0;    // degrees, [0, 360)
};

class CoordSystems {
  public:
    // The systems SetCoordSystem may select (MachineCsy, MoveableMachineCsy,
    // MultipleArmCsy, PartCsy).
    static bool Selectable(Csy csy);
    // A system SetCsyTransformation may set (every one but MachineCsy).
    static bool Transformable(Csy csy);

    // False (nothing changes) for a system that cannot be selected.
    [[nodiscard]] bool Select(Csy csy);
    Csy Active() const { return active_; }

    // False (nothing changes) when Theta lies outside 0..180 degrees or the system cannot
    // be transformed; Psi and Phi are kept modulo 360.
    [[nodiscard]] bool Set(Csy csy, const CsyTransformation& transformation);
    const CsyTransformation& Get(Csy csy) const { return transformations_[Index(csy)]; }

    // A machine point or vector (millimetres, machine axes) in the active system.
    Vec3 PointFromMachine(const Vec3& point) const;
    Vec3 VectorFromMachine(const Vec3& vector) const;

  private:
    static std::size_t Index(Csy csy) { return static_cast<std::size_t>(csy); }

    std::array<CsyTransformation, 7> transformations_{};
    Csy active_ = Csy::MachineCsy;
};

}  // namespace ipp
