#include "server/device/VexPosition.h"

#include <cmath>

void VexPosition::Normalize() {
    const double length = std::sqrt(x * x + y * y + z * z);
    // An infinite length cannot be divided out either; both cases would otherwise put
    // zeros or NaN where a caller expects a direction.
    if (!(length > 0.0) || !std::isfinite(length)) {
        x = 0.0;
        y = 0.0;
        z = 1.0;
        return;
    }
    x /= length;
    y /= length;
    z /= length;
}
