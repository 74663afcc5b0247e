#include "driver/core/driver/AxisMapping.h"

namespace {

bool CodeInRange(int code) {
    return code >= 0 && code <= 5;
}

}  // namespace

bool AxisMapping::IsValid() const {
    for (int a = 0; a < 3; ++a) {
        if (!CodeInRange(codes_[a]))
            return false;
        for (int b = 0; b < a; ++b)
            if (codes_[a] / 2 == codes_[b] / 2)
                return false;
    }
    return true;
}

int AxisMapping::Index(int axis) const {
    return CodeInRange(codes_[axis]) ? codes_[axis] / 2 : axis;
}

int AxisMapping::UsedCode(int axis) const {
    return CodeInRange(codes_[axis]) ? codes_[axis] : 2 * axis;
}

bool AxisMapping::Reversed(int axis) const {
    return CodeInRange(codes_[axis]) && codes_[axis] % 2 != 0;
}

CPoint3 AxisMapping::MachineToHost(const CPoint3& in) const {
    CPoint3 out;
    for (int a = 0; a < 3; ++a)
        out[a] = Reversed(a) ? -in[Index(a)] : in[Index(a)];
    return out;
}

CPoint3 AxisMapping::TipOffset(const CPoint3& in) const {
    CPoint3 signedIn = in;
    for (int i = 0; i < 3; ++i)
        if (Reversed(i))
            signedIn[i] = -signedIn[i];
    CPoint3 out;
    for (int a = 0; a < 3; ++a)
        out[a] = signedIn[Index(a)];
    return out;
}
