#pragma once
// VexPosition: the server's one record for a machine position and for an approach vector.
//
// As a position, x, y, z are millimetres and w is degrees of the rotary axis. As an
// approach vector, x, y, z are the unit vector and w carries the W angle of the history
// entry the vector was built from. A default-constructed record is all zeros. The layout
// is the C struct of the device libraries' interface (four doubles, no padding).

struct VexPosition {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;

    // Exact comparison: two records differ when any component differs.
    friend bool operator==(const VexPosition& a, const VexPosition& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
    }
    friend bool operator!=(const VexPosition& a, const VexPosition& b) { return !(a == b); }

    // Normalises x, y, z as a vector in place. A length of 0, infinity or not a number
    // gives (0, 0, 1), so a caller always gets a direction; w is never changed.
    void Normalize();
};

static_assert(sizeof(VexPosition) == 4 * sizeof(double), "VexPosition must match the C layout");
