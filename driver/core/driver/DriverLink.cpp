// The driver core's watch over its link to the machine: the state the operator is told of,
// reconnecting after a loss, starting the position server again when it has ended, telling
// a stale server from the one started, and the report of lines a full receive queue dropped.

#include <cstring>
#include <string_view>

#include "driver/comm/channel/CMMIO_IP.h"
#include "driver/comm/channel/CSerial.h"
#include "driver/comm/channel/SerialPort.h"
#include "driver/comm/log/LogLine.h"
#include "driver/comm/log/WideFormat.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"
#include "host/QlnServices.h"

using namespace drivertext;

namespace {

using Clock = std::chrono::steady_clock;
using Link = LinkWatch::State;

constexpr std::size_t kTextChars = 1024;

int WholeSeconds(Clock::duration d) {
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(d).count());
}

}  // namespace

std::wstring TactusDriver::LinkName() const {
    if (const auto* tcp = dynamic_cast<const CMMIO_IP*>(channel_.get()))
        return FormatWide(kTextChars, kLinkTcp, tcp->HostAddress().c_str(), tcp->Port());
    if (const auto* serial = dynamic_cast<const CSerial*>(channel_.get())) {
        const int port = serial->GetPortNumber();
        const std::wstring name = L"COM" + std::to_wstring(port);
        return FormatWide(kTextChars, kLinkSerial, name.c_str(),
                          SerialPort::DevicePath(port).c_str());
    }
    return L"no channel";
}

void TactusDriver::AnnounceLink(Link state) {
    if (!link_.Announce(state))
        return;
    const std::wstring name = LinkName();
    const int silence = WholeSeconds(LinkWatch::kSilence);
    std::wstring status;
    switch (state) {
        case Link::kUp:
            LogLine(kLogLinkBack, name.c_str());
            status = FormatWide(kTextChars, kStatusLinkBack, name.c_str());
            break;
        case Link::kLost:
            LogLine(kLogConnectionLost, name.c_str());
            status = FormatWide(kTextChars, kStatusLinkLost, name.c_str());
            break;
        case Link::kBusy:
            LogLine(kLogLinkBusy, silence, name.c_str());
            status = FormatWide(kTextChars, kStatusLinkBusy, name.c_str());
            break;
        case Link::kSilent:
            LogLine(kLogLinkSilent, silence, name.c_str());
            status = FormatWide(kTextChars, kStatusLinkSilent, name.c_str(), silence);
            break;
        case Link::kNoChannel: {
            std::wstring entries;
            for (const std::wstring& tag : config_.commInfoTags)
                entries += (entries.empty() ? L"" : L", ") + tag;
            if (entries.empty())
                entries = L"none";
            const std::wstring& transport = config_.misc.Transport;
            LogLine(kLogNoChannel, transport.c_str(), entries.c_str());
            status = FormatWide(kTextChars, kStatusNoChannel, transport.c_str(), entries.c_str());
            break;
        }
    }
    QlnStatusMessage(hostApp_, status.c_str());
}

// --- Watching ---------------------------------------------------------------------------------

void TactusDriver::SuperviseLink() {
    WatchServerProcess();
    LogDroppedLines();
    if (reconnecting_) {
        ContinueReconnect();
        return;
    }
    if (!channel_)
        return;
    const Clock::time_point now = Clock::now();
    if (channel_->ConnectionLost()) {
        NoteLostConnection();
        // A server that has ended is started first; the connection is tried once it has had
        // a moment to listen.
        if (link_.RetryDue(now) && !RestartServerIfEnded())
            Reconnect();
        return;
    }
    // Only the position server greets every client it serves, so only a TCP peer that has
    // said nothing at all is taken for a busy server.
    const bool tcp = dynamic_cast<CMMIO_IP*>(channel_.get()) != nullptr;
    const Link quiet = link_.Quietness(now, tcp);
    if (quiet != Link::kUp)
        AnnounceLink(quiet);
}

void TactusDriver::NoteLineHeard() {
    link_.Heard(Clock::now());
    const Link told = link_.Announced();
    // Lines queued before a loss may still be drained after it was told.
    if (told != Link::kUp && told != Link::kNoChannel && !channel_->ConnectionLost())
        AnnounceLink(Link::kUp);
}

void TactusDriver::NoteLostConnection() {
    // The channel stays open and silent when the other side goes away.
    if (!channel_ || !channel_->ConnectionLost() || !link_.LossSeen(Clock::now()))
        return;
    AnnounceLink(Link::kLost);
    RestartServerIfEnded();
}

void TactusDriver::WatchServerProcess() {
    if (!server_.IsStarted())
        return;
    const Clock::time_point now = Clock::now();
    if (!serverEndNoted_) {
        if (server_.IsRunning())
            return;
        serverEndNoted_ = true;
        serverEndedAt_ = now;
        LogLine(kLogServerEnded, server_.ExitText().c_str());
    }
    // Its connection would have ended with it: a connection that goes on is to a server
    // that was there before (the one started could not listen on its port).
    const auto* tcp = dynamic_cast<const CMMIO_IP*>(channel_.get());
    if (staleServerReported_ || !tcp || channel_->ConnectionLost() || reconnecting_ ||
        now - serverEndedAt_ < std::chrono::milliseconds(kStaleServerConfirmMs))
        return;
    staleServerReported_ = true;
    const std::wstring& ended = server_.ExitText();
    LogLine(kLogStaleServer, ended.c_str(), tcp->Port());
    QlnStatusMessage(
        hostApp_, FormatWide(kTextChars, kStatusStaleServer, tcp->Port(), ended.c_str()).c_str());
}

bool TactusDriver::RestartServerIfEnded() {
    if (config_.misc.StartEXE.empty() || !server_.IsStarted() || server_.IsRunning())
        return false;
    WatchServerProcess();  // logs how it ended
    const Clock::time_point now = Clock::now();
    if (!link_.MayStartServer(now)) {
        if (!restartsExhaustedReported_) {
            restartsExhaustedReported_ = true;
            const int wait = WholeSeconds(link_.NextServerStartAllowed() - now);
            LogLine(kLogServerRestartsExhausted, LinkWatch::kMaxServerStarts, wait);
            QlnStatusMessage(hostApp_, FormatWide(kTextChars, kStatusServerRestartsExhausted,
                                                  LinkWatch::kMaxServerStarts, wait)
                                           .c_str());
        }
        return false;
    }
    restartsExhaustedReported_ = false;
    link_.ServerStarted(now);
    const std::wstring ended = server_.ExitText();
    // Without " /R": the counters keep the positions the operator has been measuring in.
    const std::wstring& commandLine = config_.misc.StartEXE;
    if (!server_.Start(commandLine)) {
        LogLine(kLogServerNotCreated, commandLine.c_str(), server_.Error().c_str());
        return false;
    }
    serverEndNoted_ = false;
    staleServerReported_ = false;
    LogLine(kLogServerRestarted, config_.misc.cmm.c_str());
    QlnStatusMessage(hostApp_,
                     FormatWide(kTextChars, kStatusServerRestarted, ended.c_str()).c_str());
    return true;
}

// --- Reconnecting -----------------------------------------------------------------------------

void TactusDriver::Reconnect() {
    LogLine(kLogReconnecting, link_.Attempt(), LinkName().c_str());
    if (auto* tcp = dynamic_cast<CMMIO_IP*>(channel_.get())) {
        // The new connection is made step by step, poll by poll, so the host's UI thread
        // never waits for an address that does not answer; the old channel stays until then.
        reconnecting_ = std::make_unique<CMMIO_IP>(tcp->HostAddress(), tcp->Port());
        reconnectStarted_ = Clock::now();
        if (reconnecting_->BeginOpen() == CMMIO::kOpenFailed) {
            const std::wstring reason = reconnecting_->GetOpenError();
            reconnecting_.reset();
            ReconnectFailed(reason);
            return;
        }
        ContinueReconnect();
        return;
    }
    // A serial line: the same port opened again (quick: opening a device does not wait).
    channel_->Open();
    if (channel_->IsOpen())
        Reconnected();
    else
        ReconnectFailed(channel_->GetErrorText());
}

void TactusDriver::ContinueReconnect() {
    const int result = reconnecting_->FinishOpen(0);
    if (result == CMMIO_IP::kOpenPending) {
        if (Clock::now() - reconnectStarted_ <
            std::chrono::milliseconds(CMMIO_IP::kConnectTimeoutMs))
            return;
        reconnecting_.reset();
        ReconnectFailed(L"no connection within " + std::to_wstring(CMMIO_IP::kConnectTimeoutMs) +
                        L" ms");
        return;
    }
    if (result != 0) {
        const std::wstring reason = reconnecting_->GetOpenError();
        reconnecting_.reset();
        ReconnectFailed(reason);
        return;
    }
    std::unique_ptr<CMMIO_IP> fresh = std::move(reconnecting_);
    fresh->SetTerminator(kTcpTerminator);
    KeepChannel(std::move(fresh));
    Reconnected();
}

void TactusDriver::ReconnectFailed(const std::wstring& reason) {
    const LinkWatch::Ms wait = link_.RetryFailed(Clock::now());
    LogLine(kLogReconnectFailed, reason.c_str(), static_cast<int>(wait.count()));
}

void TactusDriver::Reconnected() {
    link_.Connected(Clock::now());
    LogLine(kLogReconnected, LinkName().c_str());
    // A request written on the old connection is never answered: ask again at once.
    requestState_ = kNoRequest;
    requestWritten_ = false;
    timeoutClock_.reset();
}

// --- The receive queue ------------------------------------------------------------------------

void TactusDriver::LogDroppedLines() {
    if (!channel_)
        return;
    const Clock::time_point now = Clock::now();
    if (now - droppedCheckedAt_ < std::chrono::seconds(1))
        return;
    droppedCheckedAt_ = now;
    const CMMIO::DropCounts dropped = channel_->Dropped();
    if (dropped.Total() == droppedLogged_.Total())
        return;
    LogLine(kLogLinesDropped,
            static_cast<unsigned long long>(dropped.positions - droppedLogged_.positions),
            static_cast<unsigned long long>(dropped.others - droppedLogged_.others),
            static_cast<unsigned long long>(dropped.hits - droppedLogged_.hits));
    droppedLogged_ = dropped;
}

void TactusDriver::InstallClassifier(const std::wstring& formats) {
    // A parser of its own, used only by the channel's reading thread while its queue is
    // full: it tells positions (dropped first) from hits (kept).
    auto parser = std::make_shared<XYZParser>();
    try {
        parser->SetReplyFormats(formats);
    } catch (...) {
        parser.reset();
    }
    classifier_ = [parser](std::string_view message) {
        if (message.substr(0, std::strlen(kHitNoticePrefix)) == kHitNoticePrefix)
            return CMMIO::MessageKind::kHit;
        if (parser) {
            try {
                parser->Parse(std::string(message));
                if (parser->IsHit())
                    return CMMIO::MessageKind::kHit;
                if (parser->IsComplete())
                    return CMMIO::MessageKind::kPosition;
            } catch (...) {
                // Not a reply the formats know.
            }
        }
        return CMMIO::MessageKind::kOther;
    };
    if (channel_)
        channel_->SetMessageClassifier(classifier_);
}
