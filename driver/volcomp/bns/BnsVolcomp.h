#pragma once
// BnsVolcomp (method 14): corrects with a B&S compensation map (BnsCompMap) in machine
// coordinates, plus the grid correction when "compgrid.dat" loaded.
//
// LoadCompensation asks the host whether the map is enciphered (option 63) and whether a
// plain map may stand in for an unreadable enciphered one (the option query without a
// code), reads the map and the grid file, reports problems in the host's status line,
// message boxes and the debug log, and becomes ready exactly when the map loaded. The
// compensation origin enters only the probe lever arm: both directions take and give
// machine coordinates. The object owns its map. Host UI thread only; nothing throws.

#include <memory>

#include "driver/volcomp/VolcompBaseClass.h"
#include "driver/volcomp/bns/BnsCompMap.h"

class BnsVolcomp : public VolcompBaseClass {
  public:
    // Host option: the compensation maps are enciphered when it answers 1.
    static constexpr int kOptionEncipheredMaps = 63;
    // Host string shown in the status line when the map cannot be read.
    static constexpr unsigned kMsgMapNotRead = 5505;
    // Status text when "comp.enc" is required and missing.
    static constexpr const wchar_t* kEncipheredMissingText =
        L"Error compensation data file:  Cannot find comp.enc";

    BnsVolcomp();
    ~BnsVolcomp() override;

    // Returns the map's load result: 1 loaded, 0 not read, -3 "comp.enc" required and
    // missing. A null or empty name means "comp.dat". arm2Mode is ignored.
    int LoadCompensation(const wchar_t* fileName, int arm2Mode) override;
    void CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;
    void CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) override;

    const BnsCompMap& Map() const { return *map_; }

  private:
    std::unique_ptr<BnsCompMap> map_;
};
