// Motion and measurement requests of the host. Motion is manual on this machine, so motion
// requests are only logged and completed at once; measurements wait for the machine.

#include <cstdint>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"
#include "host/QlnServices.h"

using namespace drivertext;

namespace {

unsigned long Address(const void* object) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(object));
}

}  // namespace

std::wstring TactusDriver::TipName(CQLNtip_data* tip) const {
    return tip ? QlnTipName(tip) : std::wstring(kNoTipName);
}

void TactusDriver::CompleteAtOnce(CQLNinterface* callback, const double* xyz) const {
    ReportResult(callback, xyz, nullptr);
}

void TactusDriver::EnterRequest(CQLNinterface* callback, int state) {
    // A request made before the start-up announcement went out must not swallow it.
    if (driverState_ == kInitialized)
        AnnounceInitComplete();
    pendingCallback_ = callback;
    driverState_ = state;
    // Automatic hits compare each position with the one before; the first comparison of
    // this request is with where the probe is now, not with where an earlier scan left it.
    if (state == kExpectingHit || state == kManualScan)
        lastScanPoint_ = currentPosition_;
}

void TactusDriver::MoveAbsolute(CQLNinterface* callback, const double target[3], CQLNtip_data* tip,
                                double speed) {
    RereadHostInterface();
    LogLine(kLogMoveAbsolute, Address(callback), TipName(tip).c_str());
    const CPoint3 p(target);
    LogLine(kLogMoveAbsoluteValues, p.x(), p.y(), p.z(), speed);
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::MoveRelative(CQLNinterface* callback, const double offset[3], CQLNtip_data* tip,
                                double speed) {
    RereadHostInterface();
    LogLine(kLogMoveRelative, Address(callback), TipName(tip).c_str());
    const CPoint3 p(offset);
    LogLine(kLogMoveRelativeValues, p.x(), p.y(), p.z(), speed);
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::CircularMove(CQLNinterface* callback, const double end[3],
                                const double centre[3], int largeArc, CQLNtip_data* tip,
                                double speed) {
    RereadHostInterface();
    LogLine(kLogCircularMove, Address(callback), TipName(tip).c_str());
    const CPoint3 e(end);
    const CPoint3 c(centre);
    LogLine(kLogCircularMoveValues, e.x(), e.y(), e.z(), c.x(), c.y(), c.z(),
            largeArc ? L"TRUE" : L"FALSE", speed);
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::MovePh9(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogMovePh9, Address(callback), TipName(tip).c_str());
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::MoveRotab(CQLNinterface* callback, double angle, int direction,
                             CQLNtip_data* tip, double speed) {
    RereadHostInterface();
    LogLine(kLogMoveRotab, Address(callback), TipName(tip).c_str());
    LogLine(kLogMoveRotabValues, angle, direction, speed);
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::ChangeTool(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogChangeTool, Address(callback), TipName(tip).c_str());
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::BeginDccScan(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogBeginDccScan, Address(callback), TipName(tip).c_str());
    if (!callback)
        return;
    callback->setMode(kModeScan, 1);
    callback->setMode(kModeMove, 0);
    callback->setMode(kModeProbe, 0);
    CompleteAtOnce(callback, nullptr);
}

void TactusDriver::ReadPh9(CQLNinterface* callback) {
    RereadHostInterface();
    LogLine(kLogReadPh9, Address(callback), kNoTipName);
    CompleteAtOnce(callback, probeHeadAngles_);
}

void TactusDriver::GoManual(CQLNinterface* callback) {
    RereadHostInterface();
    LogLine(kLogGoManual, Address(callback), kNoTipName);
    const CPoint3 origin;
    CompleteAtOnce(callback, origin.Array());
}

int TactusDriver::InManual() {
    RereadHostInterface();
    LogLine(kLogInManual, 0ul, kNoTipName);
    return 1;
}

void TactusDriver::StopProbe() {
    RereadHostInterface();
    LogLine(kLogStopProbe, Address(pendingCallback_), kNoTipName);
    driverState_ = kIdle;
    pendingCallback_ = nullptr;
    beepInterval_ = 0;
}

void TactusDriver::MeasurePoint(CQLNinterface* callback, const double target[3],
                                const double approach[3], CQLNtip_data* tip, double speed,
                                double touchSpeed, double prehit, double retract, double check) {
    RereadHostInterface();
    LogLine(kLogMeasurePoint, Address(callback), TipName(tip).c_str());
    const CPoint3 t(target);
    const CPoint3 a(approach);
    LogLine(kLogMeasurePointValues, t.x(), t.y(), t.z(), a.x(), a.y(), a.z(), speed, touchSpeed,
            prehit, retract, check);
    EnterRequest(callback, kExpectingHit);
}

void TactusDriver::ManualHit(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogManualHit, Address(callback), TipName(tip).c_str());
    SendCommandText(config_.commands.TakeHit);
    EnterRequest(callback, kExpectingHit);
}

void TactusDriver::ReadPosition(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogReadPosition, Address(callback), TipName(tip).c_str());
    SendCommandText(config_.commands.GetPosition);
    EnterRequest(callback, kReadingPosition);
    readWaitsForPosition_ = false;
    // With several reply formats positions stream in anyway: the last one is current.
    // Before the first one has arrived there is none, and the first completes the read.
    if (parser_ && parser_->HasMultipleFormats()) {
        if (positionSeen_) {
            driverState_ = kIdle;
            CompleteAtOnce(callback, currentPosition_.Array());
        } else {
            readWaitsForPosition_ = true;
        }
    }
}

void TactusDriver::BeginManualScan(CQLNinterface* callback, CQLNtip_data* tip) {
    RereadHostInterface();
    LogLine(kLogBeginManualScan, Address(callback), TipName(tip).c_str());
    QlnStatusMessage(hostApp_, kMsgManualScan);
    EnterRequest(callback, kManualScan);
}

void TactusDriver::EndManualScan() {
    RereadHostInterface();
    LogLine(kLogEndManualScan, 0ul, kNoTipName);
    driverState_ = kIdle;
    if (CQLNinterface* callback = pendingCallback_) {
        callback->setMode(kModeScan, 1);
        callback->setMode(kModeMove, 0);
        callback->setMode(kModeProbe, 0);
    }
    pendingCallback_ = nullptr;
}
