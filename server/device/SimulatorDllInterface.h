#pragma once
// SimulatorDllInterface: the binding of the simulator library (C ABI).
//
// The library fills VexPosition records directly; its C struct of four doubles has the
// same layout as VexPosition. The forwarding calls may be used only after Resolve()
// succeeded.

#include "server/device/DllInterface.h"
#include "server/device/VexPosition.h"

class SimulatorDllInterface : public DllInterface {
  public:
    void Resolve() override;

    // Only the low byte counts: nonzero means the simulator is ready.
    int Init() { return init_(); }
    void Close() { close_(); }
    // 1 when a position was written to *out.
    unsigned char Position(VexPosition* out) { return position_(out); }
    // 1 when a hit occurred and its position was written to *out.
    unsigned char Hit(VexPosition* out) { return hit_(out); }

  private:
    int (*init_)() = nullptr;
    void (*close_)() = nullptr;
    unsigned char (*position_)(VexPosition*) = nullptr;
    unsigned char (*hit_)(VexPosition*) = nullptr;
};
