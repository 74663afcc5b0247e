#pragma once
// VexDevice: the abstract measuring device the server polls.
//
// The application creates exactly one device (card or simulator back end), fills its
// settings from the device's XML file, calls Open() with the bare library name and
// Init(), and from then on the main window's poll timer calls GetHit(), GetHitVector()
// and GetPosition(). Everything runs on the GUI thread; a device takes no locks and is
// not reentrant.
//
// Failure: Open() throws the library binding's error text (a QString ending in "\n" and
// the library or entry-point name). Init() returns 0 when the device is not ready; the
// poll operations then return false. GetHitVector() throws std::out_of_range when the
// history is empty.

#include <QString>

#include "server/device/VexPosition.h"

class VexDevice {
  public:
    virtual ~VexDevice() = default;

    // Loads and binds the device library; the base version does nothing.
    virtual void Open(const QString& libraryName) {}
    // Initialises the device; nonzero means ready.
    virtual int Init(bool resetCounters) = 0;
    virtual void Close() = 0;
    virtual bool IsInitialized() = 0;
    // Writes the current position; false when none could be read.
    virtual bool GetPosition(VexPosition& out) = 0;
    // Writes the hit position when a probe hit is seen; false otherwise.
    virtual bool GetHit(VexPosition& out) = 0;
    // Approach vector of the last hit, from the position history.
    virtual VexPosition GetHitVector() = 0;
    // Forgets the position history, so that the next approach vector is built only from
    // positions read from now on; the base keeps none.
    virtual void ClearHistory() {}
    // Device status word (the card's last latch status); 0 for the base.
    virtual int GetStatus() { return 0; }
    // The absolute path of the library Open() loaded; empty before that (and for the base).
    virtual QString LibraryPath() const { return {}; }
};
