#pragma once
// DeaStandardVolcomp (method 11): corrects with the driver's own DEA error model on the
// driver-wide DEA tables (DeaCompFile.h).
//
// LoadCompensation reads the DEA table file it is given (the CompensFileName setting;
// when it cannot be opened as given, the same name under the fallback folder) and becomes
// ready exactly when the whole file loaded; any failure shows host message 2252.
// CompensateFromCMM returns points relative to the compensation origin; CompensateToCMM
// adds the origin back. No grid correction. Host UI thread only; nothing throws.

#include "driver/volcomp/VolcompBaseClass.h"

class DeaStandardVolcomp : public VolcompBaseClass {
  public:
    // Returns the DeaReadCompFile result (-1 for a null or empty name). arm2Mode is ignored.
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
};
