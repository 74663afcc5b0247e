#pragma once
// AxisMapping: how the machine's three axes feed the host's X, Y and Z.
//
// Each host axis has an axis code from the machine file: the machine axis that feeds it is
// code / 2 and an odd code reverses its direction (0, 2, 4 is the identity). A code outside
// 0 to 5 never indexes a coordinate: that host axis then takes its own machine axis, not
// reversed, so a broken file gives plain readings instead of garbage (start-up logs the
// problem). A plain value; any thread.

#include <array>

#include "driver/core/CPoint3.h"

class AxisMapping {
  public:
    AxisMapping() = default;
    AxisMapping(int codeX, int codeY, int codeZ) : codes_{codeX, codeY, codeZ} {}

    // The code of host axis `axis` (0 X, 1 Y, 2 Z) as configured.
    int Code(int axis) const { return codes_[axis]; }
    // code / 2 as configured (what start-up logs, even for a bad code).
    int ConfiguredIndex(int axis) const { return codes_[axis] / 2; }
    // The machine axis actually used for host axis `axis`, and the code that says so: the
    // configured one, or for a code outside 0 to 5 the identity (2 * axis). This is what
    // GetAxisPointMapping hands the host, so that it maps points as the driver does.
    int Index(int axis) const;
    int UsedCode(int axis) const;
    // True when every code lies in 0..5 and no two host axes share a machine axis.
    bool IsValid() const;

    // Reply points and vectors: out[a] = in[machine axis of a], negated for an odd code.
    CPoint3 MachineToHost(const CPoint3& in) const;
    // The probe tip offset: in[i] is negated when the code of host axis i is odd, then
    // out[a] = in[machine axis of a].
    CPoint3 TipOffset(const CPoint3& in) const;

  private:
    bool Reversed(int axis) const;

    std::array<int, 3> codes_{0, 2, 4};
};
