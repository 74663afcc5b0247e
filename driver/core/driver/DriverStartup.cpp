// Start-up and shut-down of the driver core, and its small entry points.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <type_traits>
#include <variant>

#include "driver/comm/channel/AnsiText.h"
#include "driver/comm/channel/CMMIO.h"
#include "driver/comm/channel/CMMIO_IP.h"
#include "driver/comm/channel/CSerial.h"
#include "driver/comm/log/LogLine.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/driver/TactusDriver.h"
#include "driver/core/machine/MachineFileReader.h"
#include "driver/core/machine/MachineFileReport.h"
#include "driver/core/settings/DriverSettings.h"
#include "driver/core/settings/SettingsStore.h"
#include "driver/volcomp/VolcompFactory.h"
#include "host/QlnServices.h"

using namespace drivertext;

TactusDriver& TheDriver() {
    static TactusDriver* driver = new TactusDriver;
    return *driver;
}

TactusDriver::TactusDriver() : lineBuffer_(CMMIO::kLineBufferSize + 1, '\0') {}

TactusDriver::~TactusDriver() {
    ReleaseAll();
}

void TactusDriver::Attach(CQLNapplication* app) {
    hostApp_ = app;
    RereadHostInterface();
}

void TactusDriver::RereadHostInterface() {
    hostIface_ = hostApp_ ? hostApp_->hostIface : nullptr;
}

CQLNmachine* TactusDriver::MachineRecord() const {
    return QlnMachineRecord(hostIface_, 1);
}

// --- driver_initialize ------------------------------------------------------------------------

int TactusDriver::Initialize() {
    RereadHostInterface();
    // A host that initialises again without closing gets a clean start instead of a second
    // timer and channel next to the first ones; after a close, the next close acts again,
    // so a server started now never outlives the host's session.
    ReleaseAll();
    closed_ = false;

    PrepareHost();
    LoadSettings();
    QlnSetResourceModule(qlnResourceModule);
    QlnStatusMessage(hostApp_, kMsgStarting);
    OpenDebugOutput();

    LogLine(kLogHostVersion, QlnVersionText().c_str());
    LogLine(kLogInterfaceVersion, kVersion);
    LogLine(kLogInitializeCall, 0ul, kNoTipName);

    const std::wstring section = DriverSettingsSection(hostApp_);
    listSettings(driverSettingsTable, section.c_str());
    if (CQLNmachine* record = MachineRecord())
        record->debugLogReset = driverSettings.DebugLogReset ? 1 : 0;

    MachineFileResult file = ReadMachineFile(machinefile::kFileName);
    if (!file.ok) {
        ReportMachineFileFailure(hostApp_, hostIface_, file.error);
        return 1;
    }
    config_ = std::move(file.config);
    axes_ = AxisMapping(config_.misc.AxisX, config_.misc.AxisY, config_.misc.AxisZ);

    if (!config_.misc.StartEXE.empty())
        StartServer();

    if (!SetUpChannels()) {
        LogLine(kLogCommFailed);
        QlnMessageBox(hostIface_, kMsgCommFailed, kQlnBoxOk);
        QlnStatusMessage(hostApp_, kMsgCommFailed);
        return 1;
    }
    if (!channel_)
        AnnounceLink(LinkWatch::State::kNoChannel);

    if (CQLNmachine* record = MachineRecord())
        record->readoutButtonMode = config_.misc.ReadoutButton ? 1 : 0;
    if (hostApp_)
        hostApp_->readoutState = kReadoutStateFollowing;

    LogMissingInitializationSequence(config_);
    CreateParser();

    if (CQLNmachine* record = MachineRecord()) {
        record->hitRequestFlags = kHitRequestFlagsAtStart;
        record->probeState = 0;
        record->jogState = 0;
    }
    configured_ = true;

    InitializeScaleAxis();
    StartCompensation();
    StartPollTimer();
    driverState_ = kInitialized;
    return 0;
}

void TactusDriver::PrepareHost() {
    QlnKillTimer(hostApp_, kHostTimerToStop);
    if (hostApp_)
        hostApp_->requestCounter = 0;
    QlnSetResourceModule(qlnResourceModule);
    if (hostIface_)
        hostIface_->driverActive = 1;
    if (CQLNmachine* record = MachineRecord())
        record->motionState = 0;
    if (CQLNmachine* current = QlnCurrentMachine(hostIface_, 0))
        current->motionState = 0;
}

void TactusDriver::LoadSettings() {
    const std::wstring section = DriverSettingsSection(hostApp_);
    registerSettings(driverSettingsTable, section.c_str());
    const bool loaded = loadSettings(driverSettingsTable, section.c_str());
    ApplySettingsVersionRule(loaded, section.c_str());
}

void TactusDriver::OpenDebugOutput() {
    if (driverSettings.DebugLog)
        OpenDriverLogFile(TheDebugLog(), driverSettings.DebugFile, driverSettings.DebugLogMaxSize,
                          hostApp_);
    if (driverSettings.DebugWindow)
        TheDebugLog().ShowTerminal(driverSettings.DebugTitle.c_str(), false, 0, 0);
}

void TactusDriver::StartServer() {
    const MachineMisc& misc = config_.misc;
    bool reset = misc.AutoResetCounters;
    if (!reset)
        reset = QlnMessageBox(hostIface_, kMsgResetCounters, kQlnBoxYesNo) == kQlnAnswerYes;
    LogLine(kLogResetCounters, reset ? 1 : 0, misc.AutoResetCounters ? 1 : 0);

    std::wstring commandLine = misc.StartEXE;
    if (reset)
        commandLine += kResetOption;
    if (server_.Start(commandLine))
        LogLine(kLogServerCreated, misc.cmm.c_str());
    else
        LogLine(kLogServerNotCreated, commandLine.c_str(), server_.Error().c_str());
}

void TactusDriver::KeepChannel(std::unique_ptr<CMMIO> channel) {
    // Only one channel is driven; a later matching CommInfo child (or a new connection)
    // replaces an earlier one, which is closed first.
    channel_ = std::move(channel);
    droppedLogged_ = CMMIO::DropCounts{};
    link_.Connected(std::chrono::steady_clock::now());
    if (classifier_)
        channel_->SetMessageClassifier(classifier_);
    if (promptDrain_.IsRunning())
        channel_->SetArrivalNotifier(promptDrain_.Requester());
}

bool TactusDriver::SetUpChannels() {
    bool ok = true;
    for (const CommInfoChild& child : config_.channels) {
        std::visit(
            [&](const auto& settings) {
                using T = std::decay_t<decltype(settings)>;
                if constexpr (std::is_same_v<T, GpibSettings>)
                    ok = false;  // no GPIB channel exists
                else if constexpr (std::is_same_v<T, SerialSettings>)
                    ok = OpenSerial(settings) && ok;
                else
                    ok = OpenTcp(settings) && ok;
            },
            child);
    }
    return ok;
}

bool TactusDriver::OpenSerial(const SerialSettings& serial) {
    terminator_ = serial.Terminator;
    auto channel = std::make_unique<CSerial>();
    const int port = serial.PortNumber();
    const char parity = serial.ParityLetter();
    LogLine(kLogSerialOpen, port, serial.Baud, static_cast<wint_t>(parity ? parity : ' '),
            serial.Size, serial.StopBits);
    const int setPort =
        channel->SetPortParameters(port, serial.Baud, parity, serial.Size, serial.StopBits, 0);
    LogLine(kLogSerialSetPort, setPort);
    const int opened = channel->Open();
    LogLine(kLogSerialOpened, opened);
    if (!opened) {
        // Where and why, for the operator: the device path and the system's reason.
        const std::wstring reason = channel->GetErrorText();
        LogLine(kLogSerialOpenFailed, reason.c_str());
        QlnStatusMessage(hostApp_, reason.c_str());
    }
    if (!setPort || !opened)
        return false;
    channel->SetTerminator(kSerialTerminator);
    KeepChannel(std::move(channel));
    return true;
}

bool TactusDriver::OpenTcp(const TcpSettings& tcp) {
    LogLine(kLogTcpConnecting, tcp.address.c_str(), tcp.port);
    const std::wstring address = tcp.ConnectAddress();
    auto channel = std::make_unique<CMMIO_IP>(address, tcp.port);
    // Each attempt is bounded (an address that does not answer, a full accept queue), and so
    // is the whole: a server started a moment ago may not listen yet, so while it runs it
    // gets a few seconds, the attempts included.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kServerStartWaitMs);
    channel->Open();
    while (!channel->IsOpen() && server_.IsRunning() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kServerRetryPauseMs));
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        channel->OpenWithin(static_cast<int>(
            std::min<long>(std::max<long>(left.count(), 1), CMMIO_IP::kConnectTimeoutMs)));
    }
    if (!channel->IsOpen()) {
        LogLine(kLogTcpFailedShort, address.c_str(), tcp.port);
        LogLine(kLogTcpFailed, address.c_str(), tcp.port);
        return false;
    }
    channel->SetTerminator(kTcpTerminator);
    LogLine(kLogTcpConnected, address.c_str(), tcp.port);
    channel->SetTerminator(terminator_);
    channel->SetTerminator(kTcpTerminator);
    KeepChannel(std::move(channel));
    // A server that ended although a connection was made: someone else listens there (the
    // poll step tells the operator once that is certain).
    WatchServerProcess();
    return true;
}

namespace {

// Start-up's own report of a parser failure: the parser's message on a line of its own.
void LogParserMessage(const std::string& text) {
    std::wstring line = WidenFromAnsi(text);
    if (line.empty() || line.back() != L'\n')
        line += L'\n';
    LogLine(kLogParserError, line.c_str());
}

}  // namespace

void TactusDriver::CreateParser() {
    const std::wstring formats = config_.replies.FormatList();
    InstallClassifier(config_.replies.CreatesParser() ? formats : std::wstring());
    if (!config_.replies.CreatesParser())
        return;
    auto parser = std::make_unique<XYZParser>();
    // A reply-format list the parser cannot read leaves the driver without a parser (as a
    // missing list does): it connects and runs, but interprets no reply.
    try {
        parser->SetReplyFormats(formats);
    } catch (const XYZParserException& e) {
        LogParserMessage(e.Text());
        LogLine(kLogNoParser);
        return;
    } catch (const FormatStringParserException& e) {
        LogParserMessage(e.Text());
        LogLine(kLogNoParser);
        return;
    }
    // The command lists are only held by the parser; a malformed one is logged and left
    // empty without costing the reply formats.
    try {
        parser->SetInitSequence(config_.initializationCommand);
    } catch (const XYZParserException& e) {
        LogParserMessage(e.Text());
    }
    try {
        parser->SetPositionCommands(config_.commands.GetPosition);
    } catch (const XYZParserException& e) {
        LogParserMessage(e.Text());
    }
    const MachineMisc& misc = config_.misc;
    parser->SetScales(misc.ScaleX, misc.ScaleY, misc.ScaleZ, misc.ScaleW);
    parser->SetVectorDivide(0);
    parser->SetReverseVector(misc.ReverseIJKVector ? 1 : 0);
    parser_ = std::move(parser);
    if (misc.ReadoutButton)
        if (CQLNmachine* record = MachineRecord())
            record->readoutButtonMode = 1;
}

void TactusDriver::InitializeScaleAxis() {
    LogLine(kLogScaleAxis, axes_.ConfiguredIndex(0), axes_.ConfiguredIndex(1),
            axes_.ConfiguredIndex(2), axes_.Code(0), axes_.Code(1), axes_.Code(2));
    LogLine(kLogScaleAxisValues, 0.0, 0.0, 0.0);
    if (axes_.IsValid())
        return;
    MachineMisc codes;
    codes.AxisX = axes_.Code(0);
    codes.AxisY = axes_.Code(1);
    codes.AxisZ = axes_.Code(2);
    for (const std::wstring& problem : AxisCodeProblems(codes))
        LogLine(kLogAxisProblem, problem.c_str());
}

void TactusDriver::StartCompensation() {
    CQLNmachine* record = MachineRecord();
    CQLNmachine* current = QlnCurrentMachine(hostIface_, 0);
    const int rotaryTable = record ? record->rotaryTablePresent : 0;
    const int rotaryValue2 = QlnHasRotaryTable(record) && current ? current->rotaryValue2 : 0;
    volcomp_ = InitializeVolcomp(driverSettings.VolCompMethod, hostApp_, hostIface_,
                                 driverSettings.UsingOldWcompens32 ? 1 : 0, rotaryTable,
                                 rotaryValue2, driverSettings.WCompensMode,
                                 driverSettings.VolOffset, driverSettings.CompensFileName.c_str(),
                                 driverSettings.ARM2CompMode ? 1 : 0);
}

void TactusDriver::StartPollTimer() {
    const int interval = std::max<int>(config_.misc.RequestInterval, kMinPollIntervalMs);
    const bool started = pollTimer_.Start(interval, [this] {
        // Nothing may escape into the host's event loop.
        try {
            PollStep();
        } catch (const std::exception& e) {
            LogLine(kLogPollFailed, e.what());
        }
    });
    if (!started)
        LogLine(kLogNoTimer);
    else
        StartPromptDrain();
}

void TactusDriver::StartPromptDrain() {
    const char* setting = std::getenv(kPromptDrainVariable);
    if (setting && std::string_view(setting) == "0") {
        LogLine(kLogPromptDrainOff);
        return;
    }
    const bool started = promptDrain_.Start([this] {
        try {
            PromptDrain();
        } catch (const std::exception& e) {
            LogLine(kLogPollFailed, e.what());
        }
    });
    if (!started)
        return;
    drainAgain_ = promptDrain_.Requester();
    // Lines that arrived before this are drained by the first poll.
    if (channel_)
        channel_->SetArrivalNotifier(promptDrain_.Requester());
}

// --- driver_close -----------------------------------------------------------------------------

void TactusDriver::StopServer() {
    if (!server_.IsStarted())
        return;
    LogLine(kLogServerKilled, server_.Stop(kServerStopWaitMs));
}

void TactusDriver::Close() {
    RereadHostInterface();
    if (closed_)
        return;
    closed_ = true;
    StopServer();
    pollTimer_.Stop();
    promptDrain_.Stop();
    drainAgain_ = [] {};
    reconnecting_.reset();
    channel_.reset();
    LogLine(kLogClose);
    parser_.reset();
    if (volcomp_) {
        CloseVolcomp(volcomp_);
        volcomp_ = nullptr;
    }
}

void TactusDriver::ReleaseAll() {
    StopServer();
    pollTimer_.Stop();
    promptDrain_.Stop();
    drainAgain_ = [] {};
    reconnecting_.reset();
    channel_.reset();
    classifier_ = nullptr;
    link_ = LinkWatch{};
    serverEndNoted_ = false;
    staleServerReported_ = false;
    restartsExhaustedReported_ = false;
    parser_.reset();
    if (volcomp_) {
        CloseVolcomp(volcomp_);
        volcomp_ = nullptr;
    }
    pendingCallback_ = nullptr;
    driverState_ = kIdle;
    requestState_ = kNoRequest;
    requestWritten_ = false;
    hitRequestWaiting_ = false;
    hitPending_ = false;
    positionPending_ = false;
    positionSeen_ = false;
}

// --- Small entry points -----------------------------------------------------------------------

void TactusDriver::AddEntries() {
    registerSettings(driverSettingsTable, DriverSettingsSection(hostApp_).c_str());
}

int TactusDriver::SpecialLearnModeOption() {
    RereadHostInterface();
    return hostIface_ && hostIface_->learnModeFlag ? kLearnModeOption : kNoLearnModeOption;
}

void TactusDriver::GetAxisPointMapping(int mapping[6]) const {
    for (int a = 0; a < 3; ++a) {
        mapping[a] = axes_.Index(a);
        mapping[3 + a] = axes_.UsedCode(a);
    }
}
