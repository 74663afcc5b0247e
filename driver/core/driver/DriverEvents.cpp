// Event handling of the driver core: the poll step, the line step, the notification step and
// the conversion of reply points into host points.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "driver/comm/channel/AnsiText.h"
#include "driver/comm/channel/CMMIO.h"
#include "driver/comm/log/LogLine.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"
#include "driver/volcomp/VolcompBaseClass.h"
#include "host/QlnServices.h"

using namespace drivertext;

namespace {

using Clock = std::chrono::steady_clock;

bool StartsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Unit length; a zero (or unusable) vector points along +Z.
CPoint3 Normalized(CPoint3 v) {
    const double length = std::sqrt(v.x() * v.x() + v.y() * v.y() + v.z() * v.z());
    if (!(length > 0.0) || !std::isfinite(length))
        return CPoint3(0.0, 0.0, 1.0);
    v /= length;
    return v;
}

// Nothing infinite or undefined may reach the host as a point or an angle.
bool Finite(const CPoint3& p, double w) {
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()) && std::isfinite(w);
}

// W in [0, 360).
double RotaryAngle(double w) {
    double angle = std::fmod(w, 360.0);
    if (angle < 0.0)
        angle += 360.0;
    return angle >= 360.0 ? 0.0 : angle;
}

}  // namespace

// --- Sending ------------------------------------------------------------------------------------

void TactusDriver::SendRequest(const char* request) {
    if (!channel_)
        return;
    channel_->Write(request, static_cast<int>(std::strlen(request)), 0);
    LogLine(kLogSending, request);
    requestWritten_ = true;
    requestWrittenAt_ = Clock::now();
}

bool TactusDriver::SendCommandText(const std::wstring& text) {
    if (!channel_)
        return false;
    const std::string bytes = NarrowToAnsi(text);
    channel_->Write(bytes.data(), static_cast<int>(bytes.size()), 0);
    LogLine(kLogSend, text.c_str());
    if (!bytes.empty()) {
        // The machine answers these (a position or a hit) like a request of the driver's.
        requestWritten_ = true;
        requestWrittenAt_ = Clock::now();
    }
    return true;
}

bool TactusDriver::RequestUnanswered() const {
    return requestWritten_ &&
           Clock::now() - requestWrittenAt_ <= std::chrono::milliseconds(kPositionTimeoutMs);
}

void TactusDriver::RequestHit() {
    if (RequestUnanswered()) {
        // Written now, it could reach the server together with the previous request and
        // both would be lost; the answer to that one is due in a moment.
        if (!hitRequestWaiting_)
            LogLine(kLogHitRequestWaits);
        hitRequestWaiting_ = true;
        return;
    }
    hitRequestWaiting_ = false;
    SendRequest(kRequestHit);
}

void TactusDriver::ReplyRecognised() {
    requestWritten_ = false;
    if (hitRequestWaiting_) {
        RequestHit();
        requestState_ = kHitAnnounced;
    }
}

// --- Poll step ----------------------------------------------------------------------------------

void TactusDriver::DrainChannel() {
    // A line step may hand a result to the host, and the host may run an event loop (a
    // message box) in which the poll timer ticks or a posted drain arrives. The drain that is
    // already running takes every line, in order, so a second one leaves them to it.
    if (draining_)
        return;
    draining_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{draining_};
    // The host may also call back into the driver (even re-initialise it), so the channel
    // is looked up again for every line. A bounded number per run: a flood of lines must
    // not keep the host's UI thread from its other work.
    for (int handled = 0; channel_ && channel_->GetMessageLength() != 0; ++handled) {
        if (handled == kMaxLinesPerDrain) {
            drainAgain_();
            break;
        }
        const int length = channel_->ReadMessage(lineBuffer_.data());
        lineBuffer_[static_cast<std::size_t>(length)] = '\0';
        LogLine(kLogReceived, ReceivedLineText(lineBuffer_.data()).c_str());
        NoteLineHeard();
        LineStep(lineBuffer_.data());
    }
    NoteLostConnection();
}

void TactusDriver::PromptDrain() {
    RereadHostInterface();
    DrainChannel();
}

void TactusDriver::PollStep() {
    RereadHostInterface();
    SuperviseLink();
    if (channel_) {
        DrainChannel();
        // A hit request that waited in vain for an answer goes out now.
        if (hitRequestWaiting_ && !RequestUnanswered())
            RequestHit();
        switch (requestState_) {
            case kNoRequest:
                // A command text of the host's may still be unanswered: ask at the next tick.
                if (RequestUnanswered())
                    break;
                requestState_ = kPositionRequested;
                SendRequest(kRequestPosition);
                break;
            case kPositionRequested: {
                const Clock::time_point now = Clock::now();
                if (!timeoutClock_)
                    timeoutClock_ = now;
                // The clock is restarted only here, so it may have run out long ago while
                // the request outstanding now went out a moment ago: that one is not sent
                // again before it has had its time (sent at once, it would reach the server
                // together with the first, and neither would be answered).
                if (now - *timeoutClock_ > std::chrono::milliseconds(kPositionTimeoutMs) &&
                    !RequestUnanswered()) {
                    LogLine(kLogTimedOut);
                    SendRequest(kRequestPosition);
                    timeoutClock_ = now;
                }
                break;
            }
            default:
                break;
        }
    }
    if (driverState_ == kInitialized)
        AnnounceInitComplete();
    UpdateReadout();
    PickUpRequestedHit();
}

void TactusDriver::AnnounceInitComplete() {
    driverState_ = kIdle;
    QlnMachineInitComplete(hostApp_);
    LogLine(kLogInitComplete);
    QlnStatusMessage(hostApp_, kMsgInitComplete);
}

void TactusDriver::UpdateReadout() {
    if (driverState_ == kInitialized)
        return;
    QlnUpdateReadout(currentPosition_.Array(), hostApp_, rotaryAngle_, 0, 1, 1, -1, kNoProbeValue,
                     kNoProbeValue, kNoProbeValue, 0, kNoProbeValue);
}

void TactusDriver::PickUpRequestedHit() {
    CQLNmachine* record = MachineRecord();
    // Before the first position there is no current position to take: the request waits.
    if (!record || !(record->hitRequestFlags & kHitRequestBit) || hitPending_ || !positionSeen_)
        return;
    hitPending_ = true;
    hitPoint_ = currentPosition_;
    hitVector_ = positionVector_;
}

// --- Line step ----------------------------------------------------------------------------------

int TactusDriver::LineStep(const char* line) {
    int result = 0;
    if (StartsWith(line, kVersionLinePrefix)) {
        int version = 0;
        std::sscanf(line, kVersionLineScan, &version);
        LogLine(kLogServerVersion, version);
    } else if (StartsWith(line, kHitNoticePrefix)) {
        LogLine(kLogHitNotice);
        RequestHit();
        requestState_ = kHitAnnounced;
    } else if (parser_) {
        try {
            ParseReply(line, result);
        } catch (const FormatStringParserException& e) {
            LogLine(kLogParserError, WidenFromAnsi(e.Text()).c_str());
        } catch (const XYZParserException& e) {
            LogLine(kLogParserError, WidenFromAnsi(e.Text()).c_str());
        } catch (...) {
            LogLine(kLogParserUnknown);
        }
    }
    Notify();
    return result;
}

void TactusDriver::ParseReply(const char* line, int& result) {
    parser_->Parse(line);
    const std::array<double, 4> parsed = parser_->GetParsedPosition();
    const std::array<double, 4> parsedVector = parser_->GetParsedVector();
    CPoint3 point(parsed[0], parsed[1], parsed[2]);
    const CPoint3 vector =
        axes_.MachineToHost(Normalized(CPoint3(parsedVector[0], parsedVector[1], parsedVector[2])));

    const bool isHit = parser_->IsHit();
    const bool isComplete = parser_->IsComplete();
    if (isHit || isComplete) {
        requestState_ = kNoRequest;
        ReplyRecognised();
    }

    const bool readoutButton = config_.misc.ReadoutButton;
    const int readoutState = hostApp_ ? hostApp_->readoutState : 0;
    bool handled = false;
    bool dropped = false;
    if (readoutButton ? readoutState == 0 : isHit) {
        LogLine(kLogHitBefore, point.x(), point.y(), point.z());
        ConvertPoint(point);
        LogLine(kLogHitAfter, point.x(), point.y(), point.z());
        if (Finite(point, parsed[3])) {
            result = 1;
            hitPending_ = true;
            LogLine(kLogHitVector, vector.x(), vector.y(), vector.z());
            hitPoint_ = point;
            hitVector_ = vector;
            currentPosition_ = point;
            handled = true;
        } else {
            LogLine(kLogNotFinite, L"hit", point.x(), point.y(), point.z(), parsed[3]);
            dropped = true;
        }
    } else if (readoutButton ? readoutState != 0 : isComplete) {
        LogLine(kLogPosBefore, point.x(), point.y(), point.z());
        ConvertPoint(point);
        LogLine(kLogPosAfter, point.x(), point.y(), point.z());
        if (Finite(point, parsed[3])) {
            positionPending_ = true;
            currentPosition_ = point;
            positionVector_ = vector;
            handled = true;
        } else {
            LogLine(kLogNotFinite, L"pos", point.x(), point.y(), point.z(), parsed[3]);
            dropped = true;
        }
    }
    if (handled) {
        rotaryAngle_ = RotaryAngle(parsed[3]);
        LogLine(kLogRotary, rotaryAngle_);
        if (!positionSeen_)
            lastScanPoint_ = point;  // the first real point is the first previous point
        positionSeen_ = true;
    }
    // A reply that is neither hit nor position completes a position read with what it
    // holds, unless the read waits for the first position or that is unusable.
    if (driverState_ == kReadingPosition &&
        (handled || (!dropped && !readWaitsForPosition_ && Finite(point, parsed[3])))) {
        currentPosition_ = point;
        LogLine(kLogHitBecomesReadout, point.x(), point.y(), point.z());
        hitPending_ = false;
        positionPending_ = true;
    }
}

// --- Point conversion ---------------------------------------------------------------------------

void TactusDriver::ConvertPoint(CPoint3& point) const {
    CPoint3 offset;
    if (CQLNtip_data* tip = QlnActiveTip(hostIface_))
        QlnTipOffset(tip, offset.Array());
    const double unit = hostIface_ ? hostIface_->lengthUnit : 25.4;
    // 25.4 / U turns host units into millimetres; an unusable U gives the origin below
    // rather than infinities.
    const double toMillimetres = unit != 0.0 ? 25.4 / unit : 0.0;
    offset *= -toMillimetres;
    offset = axes_.TipOffset(offset);
    if (volcomp_ && volcomp_->IsReady() == 1)
        volcomp_->CompensateFromCMM(offset, point, point);
    point = axes_.MachineToHost(point);
    point /= std::isfinite(toMillimetres) ? toMillimetres : 0.0;
}

// --- Notification step --------------------------------------------------------------------------

void TactusDriver::ReportResult(CQLNinterface* callback, const double* xyz,
                                const double* ijk) const {
    if (callback)
        callback->reportResult(xyz, ijk, kResultMarker, CQLNresultExtras{}, kResultMarker);
}

long TactusDriver::Notify() {
    RereadHostInterface();
    if (beepInterval_ != 0) {
        const Clock::time_point now = Clock::now();
        if (now - lastBeep_ > std::chrono::milliseconds(beepInterval_)) {
            DriverBeep(kBeepFrequency, kBeepDurationMs);
            lastBeep_ = now;
        }
    }
    if (driverState_ == kInitialized)
        AnnounceInitComplete();
    PickUpRequestedHit();

    if (hitPending_) {
        if (CQLNmachine* record = MachineRecord())
            record->hitRequestFlags &= static_cast<std::uint16_t>(~kHitRequestBit);
        hitPending_ = false;
        if (driverState_ == kExpectingHit) {
            driverState_ = kIdle;
            CQLNinterface* callback = pendingCallback_;
            ReportResult(callback, hitPoint_.Array(), hitVector_.Array());
        } else if (driverState_ == kIdle) {
            if (hostIface_ && hostIface_->hitDeliveryFlag)
                QlnManualHit(hostApp_, hitPoint_.Array(), hitVector_.Array(), probeHeadAngles_,
                             rotaryAngle_, 1, -1, 0, 0, kResultMarker);
        }
        // In any other state (a scan, a position read) the hit is dropped.
    } else if (positionPending_) {
        positionPending_ = false;
        if (driverState_ == kReadingPosition) {
            driverState_ = kIdle;
            ReportResult(pendingCallback_, currentPosition_.Array(), nullptr);
        } else if (driverState_ == kManualScan) {
            ReportResult(pendingCallback_, currentPosition_.Array(), nullptr);
            lastScanPoint_ = currentPosition_;
        } else {
            if (driverState_ == kInitialized)
                AnnounceInitComplete();
            UpdateReadout();
            if (driverState_ != kIdle && pendingCallback_)
                DetectAutomaticHit();
        }
    }
    return 1;
}

void TactusDriver::DetectAutomaticHit() {
    CQLNinterface* callback = pendingCallback_;
    CPoint3 current = currentPosition_;
    CPoint3 previous = lastScanPoint_;
    QlnPreparePoint(hostApp_, current.Array(), callback->frame, kPreparePointMask, 0);
    QlnPreparePoint(hostApp_, previous.Array(), callback->frame, kPreparePointMask, 0);
    const QLNpoint previousCopy{previous.x(), previous.y(), previous.z()};
    if (QlnAutoHitTest(hostIface_, current.Array(), positionVector_.Array(), previousCopy,
                       &beepInterval_)) {
        LogLine(kLogAutoHit, driverState_, currentPosition_.x(), currentPosition_.y(),
                currentPosition_.z(), positionVector_.x(), positionVector_.y(),
                positionVector_.z());
        driverState_ = kIdle;
        ReportResult(callback, currentPosition_.Array(), positionVector_.Array());
    }
    lastScanPoint_ = currentPosition_;
}
