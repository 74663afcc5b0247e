#pragma once
// TactusDriver: the driver core behind the exported entry points (driver/core/DriverExports.h).
//
// One process-wide instance (TheDriver()) holds every driver-wide value: the host objects,
// the machine file's values, the one channel, reply parser, compensation object, poll timer
// and started server process (all owned from Initialize() to Close()), and the state of the
// request and event handling. Initialize() sets everything up; the poll timer then drains
// the channel, asks for positions and hands positions and hits to the host; the command
// methods start measurements that the event handling completes through the host callback
// object. docs/driver.md describes the behaviour for integrators.
//
// Threads: every method runs on the host's UI thread, which also runs the Qt event loop of
// the poll timer, so nothing here overlaps and nothing is locked. The channel's reading
// thread only queues lines; after each one it posts a drain step to the UI thread's event
// queue (PostedStep), so a line is handled at once rather than at the next poll. The drain
// is never entered twice: a drain that starts while one is running further up the stack (a
// host call spinning an event loop) leaves the lines to it.
//
// The link is watched from the poll step (DriverLink.cpp): a lost connection or serial line
// is re-opened with a bounded back-off, a position server the driver started and that has
// ended is started again (without resetting the counters, a few times a minute at most),
// and each change of the link's state is told to the host once, in words, on its status
// line.
//
// Failures are reported by results (Initialize), host messages and the debug log; nothing
// throws out of a public method except std::bad_alloc.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/comm/channel/CMMIO.h"
#include "driver/core/CPoint3.h"
#include "driver/core/driver/AxisMapping.h"
#include "driver/core/driver/LinkWatch.h"
#include "driver/core/driver/PollTimer.h"
#include "driver/core/driver/PostedStep.h"
#include "driver/core/driver/ServerProcess.h"
#include "driver/core/machine/MachineConfig.h"

class CMMIO_IP;
class CQLNapplication;
class CQLNhostInterface;
class CQLNinterface;
class CQLNmachine;
class CQLNtip_data;
class VolcompBaseClass;
class XYZParser;

class TactusDriver {
  public:
    // Values of driverState.
    enum State {
        kIdle = 0,
        kInitialized = 1,  // start-up finished, not yet announced to the host
        kReadingPosition = 6,
        kExpectingHit = 8,
        kManualScan = 11,
    };
    // Values of requestState.
    enum RequestState { kNoRequest = 0, kPositionRequested = 1, kHitAnnounced = 2 };

    TactusDriver();
    ~TactusDriver();
    TactusDriver(const TactusDriver&) = delete;
    TactusDriver& operator=(const TactusDriver&) = delete;

    // Library attach: the host application object the host exports.
    void Attach(CQLNapplication* app);
    // Re-reads hostIface from hostApp (the first thing most entry points do).
    void RereadHostInterface();

    // --- Lifecycle ---
    // Start-up; 0 on success, 1 on failure (machine file, channel).
    int Initialize();
    // Shut-down; acts once after each Initialize() (a second call does nothing).
    void Close();
    void AddEntries();
    int SpecialLearnModeOption();
    // mapping[0..2] machine axes of X, Y, Z, mapping[3..5] their codes, both as the driver
    // uses them (a code outside 0 to 5 as the identity).
    void GetAxisPointMapping(int mapping[6]) const;
    // Logs the axis assignment (start-up and after the setup dialog changed the codes).
    void InitializeScaleAxis();

    // --- Event handling ---
    // The timer's step: drain the channel, keep a position request going, announce
    // start-up, refresh the readout, pick up a hit the operator asked for.
    void PollStep();
    // The posted step: drain the channel now (the timer's other duties wait for its tick).
    void PromptDrain();
    // One received line (its bytes, without the terminating zero); 1 when it was a hit.
    int LineStep(const char* line);
    // HandleCommNotification: delivers pending hits and positions; returns 1.
    long Notify();

    // --- Motion and measurement ---
    void MoveAbsolute(CQLNinterface* callback, const double target[3], CQLNtip_data* tip,
                      double speed);
    void MoveRelative(CQLNinterface* callback, const double offset[3], CQLNtip_data* tip,
                      double speed);
    void CircularMove(CQLNinterface* callback, const double end[3], const double centre[3],
                      int largeArc, CQLNtip_data* tip, double speed);
    void MovePh9(CQLNinterface* callback, CQLNtip_data* tip);
    void MoveRotab(CQLNinterface* callback, double angle, int direction, CQLNtip_data* tip,
                   double speed);
    void ChangeTool(CQLNinterface* callback, CQLNtip_data* tip);
    void BeginDccScan(CQLNinterface* callback, CQLNtip_data* tip);
    void ReadPh9(CQLNinterface* callback);
    void GoManual(CQLNinterface* callback);
    int InManual();
    void StopProbe();
    void MeasurePoint(CQLNinterface* callback, const double target[3], const double approach[3],
                      CQLNtip_data* tip, double speed, double touchSpeed, double prehit,
                      double retract, double check);
    void ManualHit(CQLNinterface* callback, CQLNtip_data* tip);
    void ReadPosition(CQLNinterface* callback, CQLNtip_data* tip);
    void BeginManualScan(CQLNinterface* callback, CQLNtip_data* tip);
    void EndManualScan();

    // --- For the setup dialog ---
    // True once a start-up got as far as the machine record set-up.
    bool IsConfigured() const { return configured_; }
    AxisMapping& Axes() { return axes_; }
    const MachineConfig& Config() const { return config_; }
    CQLNapplication* HostApp() const { return hostApp_; }
    CQLNhostInterface* HostIface() const { return hostIface_; }

  private:
    // Start-up pieces.
    void PrepareHost();
    void LoadSettings();
    void OpenDebugOutput();
    void StartServer();
    bool SetUpChannels();
    bool OpenSerial(const SerialSettings& serial);
    bool OpenTcp(const TcpSettings& tcp);
    void CreateParser();
    void StartCompensation();
    void StartPollTimer();
    void StartPromptDrain();
    // Releases what a previous start-up set up (server process included).
    void ReleaseAll();
    void StopServer();
    void KeepChannel(std::unique_ptr<CMMIO> channel);

    // Link supervision (DriverLink.cpp).
    void SuperviseLink();
    void NoteLineHeard();
    void NoteLostConnection();
    void AnnounceLink(LinkWatch::State state);
    std::wstring LinkName() const;
    void WatchServerProcess();
    // True when it started the server (the connection is tried a moment later).
    bool RestartServerIfEnded();
    void Reconnect();
    void ContinueReconnect();
    void ReconnectFailed(const std::wstring& reason);
    void Reconnected();
    void LogDroppedLines();
    void InstallClassifier(const std::wstring& formats);

    // Event handling pieces.
    void DrainChannel();
    void SendRequest(const char* request);
    bool SendCommandText(const std::wstring& text);
    bool RequestUnanswered() const;
    void RequestHit();
    void ReplyRecognised();
    void AnnounceInitComplete();
    void UpdateReadout();
    void PickUpRequestedHit();
    void ParseReply(const char* line, int& result);
    void ConvertPoint(CPoint3& point) const;
    void ReportResult(CQLNinterface* callback, const double* xyz, const double* ijk) const;
    void CompleteAtOnce(CQLNinterface* callback, const double* xyz) const;
    // A measurement request begins: it waits for its result in `state`.
    void EnterRequest(CQLNinterface* callback, int state);
    void DetectAutomaticHit();
    CQLNmachine* MachineRecord() const;
    std::wstring TipName(CQLNtip_data* tip) const;

    // Host objects.
    CQLNapplication* hostApp_ = nullptr;
    CQLNhostInterface* hostIface_ = nullptr;

    // Owned from start-up to shut-down.
    PostedStep promptDrain_;
    std::unique_ptr<CMMIO> channel_;
    std::unique_ptr<XYZParser> parser_;
    VolcompBaseClass* volcomp_ = nullptr;  // released through CloseVolcomp
    PollTimer pollTimer_;
    ServerProcess server_;

    // Machine file values.
    MachineConfig config_;
    AxisMapping axes_;
    char terminator_ = 13;
    bool configured_ = false;
    bool closed_ = false;

    // Link supervision.
    LinkWatch link_;
    std::unique_ptr<CMMIO_IP> reconnecting_;  // a connection being made to replace channel_
    std::chrono::steady_clock::time_point reconnectStarted_{};
    CMMIO::MessageClassifier classifier_;  // what a full receive queue may drop first
    CMMIO::DropCounts droppedLogged_;      // of channel_, as last logged
    std::chrono::steady_clock::time_point droppedCheckedAt_{};
    bool serverEndNoted_ = false;  // the started server was found ended
    std::chrono::steady_clock::time_point serverEndedAt_{};
    bool staleServerReported_ = false;
    bool restartsExhaustedReported_ = false;
    std::function<void()> drainAgain_ = [] {};  // asks for another drain run soon

    // Event handling.
    bool draining_ = false;  // a drain of the channel is running
    int driverState_ = kIdle;
    int requestState_ = kNoRequest;
    // The position server reads whatever has arrived as one request ("POSHIT" is no request),
    // so a request is written only once the previous one has been answered (a reply was
    // recognised) or given up (kPositionTimeoutMs); a hit request waits meanwhile.
    bool requestWritten_ = false;
    std::chrono::steady_clock::time_point requestWrittenAt_{};
    bool hitRequestWaiting_ = false;
    CQLNinterface* pendingCallback_ = nullptr;
    bool hitPending_ = false;
    bool positionPending_ = false;
    CPoint3 currentPosition_;
    CPoint3 positionVector_;
    CPoint3 hitPoint_;
    CPoint3 hitVector_;
    CPoint3 lastScanPoint_;
    // A position or hit has arrived since start-up; until then currentPosition_ is no
    // measured point.
    bool positionSeen_ = false;
    // A position read that waits for the first position rather than completing at once.
    bool readWaitsForPosition_ = false;
    double rotaryAngle_ = 0.0;
    double probeHeadAngles_[3] = {0.0, 0.0, 0.0};
    int beepInterval_ = 0;
    std::chrono::steady_clock::time_point lastBeep_{};
    // Start of the current "POS" period; empty until the first outstanding request is seen.
    std::optional<std::chrono::steady_clock::time_point> timeoutClock_;
    // One received line: room for the longest message a channel delivers and a zero.
    std::vector<char> lineBuffer_;
};

// The process-wide driver core (never destroyed: the host may call in until it exits).
TactusDriver& TheDriver();
