#pragma once
// What an I++ DME session needs from the machine and from its connection, as two small
// interfaces, so the session's logic runs the same under the server, the tests and the
// fuzzer.
//
// Both are called on the thread that runs the session and must not call back into it from
// inside a call; the session never owns them.

#include <string>

#include "ipp/session/CoordSystems.h"

namespace ipp {

struct Tool;

class Machine {
  public:
    virtual ~Machine() = default;

    // The latest position of the probe, millimetres in machine axes.
    virtual Vec3 Position() const = 0;
    // Waits for the operator's next touch; it comes back as IppSession::OnMeasured.
    virtual void BeginMeasurement() = 0;
    // Stops waiting; no OnMeasured follows for the measurement begun before.
    virtual void CancelMeasurement() = 0;
    // The stylus the operator has mounted now (RefTool and NoTool: none).
    virtual void SetActiveTool(const Tool& tool) = 0;
};

class SessionOutput {
  public:
    virtual ~SessionOutput() = default;

    // One response line, without CR LF.
    virtual void SendLine(const std::string& line) = 0;
    // (Re)starts the move-report clock: OnMoveTimer every `seconds`, the first one
    // `seconds` from now. StopMoveTimer stops it.
    virtual void StartMoveTimer(double seconds) = 0;
    virtual void StopMoveTimer() = 0;
    // Seconds of a monotonic clock.
    virtual double Now() const = 0;
};

}  // namespace ipp
