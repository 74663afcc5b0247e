#include "driver/volcomp/NoVolcomp.h"

int NoVolcomp::LoadCompensation(const wchar_t*, int) {
    ready = 1;
    return 1;
}

void NoVolcomp::CompensateFromCMM(CPoint3, CPoint3& in, CPoint3& out) {
    out = in;
}

void NoVolcomp::CompensateToCMM(CPoint3, CPoint3& in, CPoint3& out) {
    out = in;
}
