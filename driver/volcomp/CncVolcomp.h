#pragma once
// CncVolcomp (method 16): corrects with the driver-wide ASI/CNC error tables
// (CompensationTables.h) through CncErrorModel. Unlike AsiVolcomp it reads the file named
// by the CompensFileName setting and never loads or applies the grid correction.
// Directions, origin handling and threading as AsiVolcomp.

#include "driver/volcomp/VolcompBaseClass.h"

class CncVolcomp : public VolcompBaseClass {
  public:
    // Returns the ReadCompensationFile result (-1 for a null or empty name).
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
};
