#pragma once
// NoVolcomp (method 0): the pass-through method. Always ready once loaded; copies the
// point unchanged in both directions (no origin shift, no grid correction).

#include "driver/volcomp/VolcompBaseClass.h"

class NoVolcomp : public VolcompBaseClass {
  public:
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
};
