#pragma once
// VexSimulator: the device back end for the simulator library.
//
// The library supplies positions and hits itself; the device keeps a history of the
// positions that changed (a stationary machine adds nothing) and builds each hit's
// approach vector from the entry before the newest one. Unlike the card, the calls are
// passed to the library whether or not Init() succeeded.
//
// Ownership: the device owns its library binding; replacing or destroying it closes an
// initialised simulator first and then frees the library. GUI thread only.
//
// Failure: Open() throws the binding's error text (QString). Without a bound library
// Init() returns 0 and the poll operations return false. GetHitVector() throws
// std::out_of_range when the history is empty.

#include <QString>
#include <memory>

#include "server/device/PointHistory.h"
#include "server/device/SimulatorDllInterface.h"
#include "server/device/VexDevice.h"

class VexSimulator : public VexDevice {
  public:
    VexSimulator() = default;
    ~VexSimulator() override;

    void Open(const QString& libraryName) override;
    // resetCounters has no meaning for the simulator and is ignored.
    int Init(bool resetCounters) override;
    void Close() override;
    bool IsInitialized() override { return initialised_; }
    bool GetPosition(VexPosition& out) override;
    bool GetHit(VexPosition& out) override;
    VexPosition GetHitVector() override;
    QString LibraryPath() const override { return binding_ ? binding_->LoadedPath() : QString(); }
    void ClearHistory() override { history_.Clear(); }

    const PointHistory& History() const { return history_; }
    // Sets the number of positions kept and empties the history.
    void SetHistoryCapacity(int capacity) { history_.SetCapacity(capacity); }

  private:
    bool initialised_ = false;
    std::unique_ptr<SimulatorDllInterface> binding_;
    PointHistory history_;
    VexPosition lastHit_;
};
