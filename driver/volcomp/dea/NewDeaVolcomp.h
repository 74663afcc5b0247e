#pragma once
// NewDeaVolcomp (method 12): hands the correction to the machine maker's DEA correction
// library (DeaLibraryApi.h), loaded at run time.
//
// LoadCompensation loads "wcompens32.dll" when the UsingOldWcompens32 setting is on, else
// "wcompens32_2.dll" (libwcompens32.so / libwcompens32_2.so, found as LibraryLoader.h
// says), looks up InitCompens, SetCompensMode and COMPENSA, initialises the library with
// the data file name and the arm number (2 when ARM2CompMode is on, else 1), and selects
// the WCompensMode mode. The object becomes ready exactly when both calls succeed; every
// failure is shown once in a host message box with the accumulated text and written to
// the debug log. The library stays loaded for the life of the process, also when this
// object is discarded, and is assumed to be single-threaded.
//
// CompensateFromCMM returns points relative to the compensation origin; CompensateToCMM
// adds the origin back. No grid correction. Host UI thread only; nothing throws.

#include "driver/volcomp/VolcompBaseClass.h"
#include "driver/volcomp/dea/DeaLibraryApi.h"
#include "driver/volcomp/dea/LibraryLoader.h"

class NewDeaVolcomp : public VolcompBaseClass {
  public:
    // Returns the last library result (SetCompensMode's, or InitCompens's when that
    // failed), or -1 when the library or an entry point is missing.
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    // Without the library's entry points both pass the point through (apart from the origin).
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;

  private:
    // Calls InitCompens and SetCompensMode; returns the result as LoadCompensation.
    int InitialiseLibrary(const wchar_t* fileName, int arm);

    LibraryLoader::Handle library_ = nullptr;
    // One InitCompens entry point, typed for each of its two calling forms.
    DeaInitCompensNewFn initCompens_ = nullptr;
    DeaInitCompensOldFn initCompensOld_ = nullptr;
    DeaSetCompensModeFn setCompensMode_ = nullptr;
    DeaCompensaFn compensa_ = nullptr;
};
