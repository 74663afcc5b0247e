#pragma once
// VexEnc7480: the device back end for the four-channel encoder counter card.
//
// Reads the X, Y, Z and W counters through the card library, converts counts to
// millimetres and degrees, detects probe hits from the card's latch status word and
// estimates each hit's approach vector from the history of polled positions.
//
// Hit detection is a two-state machine. The detector starts armed. A status word with
// the trigger bits (0 to 3) all clear re-arms it and clears the card's latch flags; an
// armed detector that sees the latch bits (8 to 11) set with a trigger bit set reports
// one hit from the latched counts and disarms. So one probe trigger yields one hit.
//
// Ownership: the device owns its library binding; replacing or destroying it closes an
// initialised card first and then frees the library. Settings come from the card's XML
// file through SetSettings() and SetHistoryCapacity(). GUI thread only; not reentrant.
//
// Failure: Open() throws the binding's error text (QString). Init() returns 0 when the
// card is not ready (or no library is bound); GetPosition() and GetHit() then return
// false. GetHitVector() throws std::out_of_range when the history is empty.

#include <QString>
#include <cstdint>
#include <memory>

#include "server/device/Enc7480DllInterface.h"
#include "server/device/PointHistory.h"
#include "server/device/VexDevice.h"

// The card settings of the device, with the values it uses when none are configured.
struct Enc7480Settings {
    static constexpr int32_t kDefaultCountsPerMm = 50;
    static constexpr int32_t kDefaultCountsPerTurn = 360;

    int triggerLogic = 0;      // 0 rising edge, 1 falling edge
    int countMode = 0;         // 0 pulse/direction, 1 to 3 the AB-phase modes
    int indexPulseEnable = 0;  // 0 disabled, 1 enabled
    int indexPulseLevel = 0;   // 0 active low, 1 active high
    int triggerChannel = 1;    // 1 or 2
    int32_t xCountsPerMm = kDefaultCountsPerMm;
    int32_t yCountsPerMm = kDefaultCountsPerMm;
    int32_t zCountsPerMm = kDefaultCountsPerMm;
    int32_t wCountsPerTurn = kDefaultCountsPerTurn;
    int vectorDepth = 5;             // history index where the vector search starts
    double vectorSensitivity = 0.0;  // minimum hit-to-history distance, millimetres

    friend bool operator==(const Enc7480Settings&, const Enc7480Settings&) = default;
};

class VexEnc7480 : public VexDevice {
  public:
    VexEnc7480() = default;
    ~VexEnc7480() override;

    void Open(const QString& libraryName) override;
    int Init(bool resetCounters) override;
    void Close() override;
    bool IsInitialized() override { return initialised_ != 0; }
    bool GetPosition(VexPosition& out) override;
    bool GetHit(VexPosition& out) override;
    VexPosition GetHitVector() override;
    int GetStatus() override { return lastStatus_; }
    QString LibraryPath() const override { return binding_ ? binding_->LoadedPath() : QString(); }
    void ClearHistory() override { history_.Clear(); }

    const Enc7480Settings& Settings() const { return settings_; }
    // Takes the settings; a counts-per-unit divisor of 0 is replaced by its default so
    // that no position is ever infinite or not a number.
    void SetSettings(const Enc7480Settings& settings);
    const PointHistory& History() const { return history_; }
    // Sets the number of positions kept and empties the history.
    void SetHistoryCapacity(int capacity) { history_.SetCapacity(capacity); }

  private:
    VexPosition CountsToPosition(const int32_t (&counts)[4]) const;

    int initialised_ = 0;
    bool armed_ = true;
    int lastStatus_ = 0;
    Enc7480Settings settings_;
    std::unique_ptr<Enc7480DllInterface> binding_;
    PointHistory history_;
    VexPosition lastHit_;
};
