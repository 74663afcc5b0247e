#pragma once
// AsiVolcomp (method 13): corrects with the driver-wide ASI/CNC error tables
// (CompensationTables.h) through AsiErrorModel, plus the grid correction when
// "compgrid.dat" loaded.
//
// LoadCompensation reads the table file it is given (the factory always passes
// "compens.dat") and the grid file, reports problems in host message boxes and the debug
// log, and becomes ready exactly when the table file loaded. CompensateFromCMM returns
// points relative to the compensation origin; CompensateToCMM adds the origin back and,
// when in and out are different objects, writes the second X drive's target into in.x.
// The caller passes the second drive's reading in out.x to CompensateFromCMM (with the
// same object for both, it equals x). Host UI thread only.

#include "driver/volcomp/VolcompBaseClass.h"

class AsiVolcomp : public VolcompBaseClass {
  public:
    // Returns the ReadCompensationFile result (-1 at once for a null or empty name).
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
};
