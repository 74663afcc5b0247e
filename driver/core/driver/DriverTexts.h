#pragma once
// The driver's own constants in one place: its version texts, the host resources it shows,
// the requests it sends to the position server, its timing, and the text of every log line
// the driver core writes. docs/driver.md lists the log lines for integrators and
// docs/protocol.md the requests; change them together.
//
// Log formats follow the C library's wide printf: a wide string argument is "%ls", an 8-bit
// one "%s"; docs/driver.md writes both as "%s", which is what the lines look like.

namespace drivertext {

// --- Identity ------------------------------------------------------------------------------
inline constexpr const wchar_t* kVersion =
    L"Tactus.dll Nov 24 2009 release version 1.27 for Quillon v4.4";
inline constexpr const wchar_t* kRenamedEntryName = L"Tactus";

// --- Host resources and host constants -----------------------------------------------------
inline constexpr unsigned kHostTimerToStop = 500003;
inline constexpr unsigned kMsgStarting = 5523;          // status at start-up
inline constexpr unsigned kMsgResetCounters = 4739;     // Yes/No: reset the axis counters?
inline constexpr unsigned kMsgCommFailed = 5493;        // the channel could not be opened
inline constexpr unsigned kMsgInitComplete = 5516;      // status once announced to the host
inline constexpr unsigned kMsgManualScan = 5531;        // status when a manual scan begins
inline constexpr int kReadoutStateFollowing = 1;        // hostApp->readoutState at start-up
inline constexpr unsigned kHitRequestFlagsAtStart = 2;  // machine record at start-up
inline constexpr unsigned kHitRequestBit = 0x1;         // operator asks for a hit
inline constexpr int kLearnModeOption = 4;              // driver_special_learnmode_option
inline constexpr int kNoLearnModeOption = 1;
inline constexpr int kPreparePointMask = 2047;
inline constexpr double kResultMarker = -9876.54;  // around reportResult's eleven zeros
inline constexpr double kNoProbeValue = -999.0;    // unused values of the position readout
// setMode codes of a finished scan request.
inline constexpr int kModeScan = 2;
inline constexpr int kModeMove = 1;
inline constexpr int kModeProbe = 16;

// --- Position server start ------------------------------------------------------------------
inline constexpr const wchar_t* kResetOption = L" /R";
// How long start-up keeps trying to connect to a server it has just started, and the pause
// between two attempts.
inline constexpr int kServerStartWaitMs = 5000;
inline constexpr int kServerRetryPauseMs = 100;
// How long driver_close waits for the server to end after asking it to, before forcing it
// (short enough for the host to end within 2 s whatever the server does).
inline constexpr int kServerStopWaitMs = 1000;
// A started server found ended while the connection goes on is a stale server only when
// the connection is still there this long after: the end of the server's own connection may
// be seen a moment after its process end.
inline constexpr int kStaleServerConfirmMs = 1000;

// --- Requests and replies -------------------------------------------------------------------
inline constexpr const char* kRequestPosition = "POS";
inline constexpr const char* kRequestHit = "HIT";
inline constexpr const char* kVersionLinePrefix = "( VEXVersion:";
inline constexpr const char* kVersionLineScan = "( VEXVersion:%d";
inline constexpr const char* kHitNoticePrefix = "( HIT";
// A "POS" without an answer is sent again after this many milliseconds.
inline constexpr long kPositionTimeoutMs = 1000;
inline constexpr char kSerialTerminator = 13;
inline constexpr char kTcpTerminator = 10;
// The shortest poll period the driver runs (a shorter RequestInterval is raised to it).
inline constexpr int kMinPollIntervalMs = 10;
// Set to 0 in the host's environment, received lines wait for the poll timer instead of
// being handled as soon as they have arrived (the measurement baseline of the benchmarks).
inline constexpr const char* kPromptDrainVariable = "TACTUS_PROMPT_DRAIN";
// Lines the drain step handles in one run; the rest follow in the next run, so the host's
// UI thread gets its turn in between however fast lines arrive.
inline constexpr int kMaxLinesPerDrain = 200;
inline constexpr int kBeepFrequency = 1000;
inline constexpr int kBeepDurationMs = 50;

// --- Start-up log lines -----------------------------------------------------------------------
inline constexpr const wchar_t* kLogHostVersion = L"-Tactus: Quillon    version info: %ls\n";
inline constexpr const wchar_t* kLogInterfaceVersion = L"-Tactus: Interface version info: %ls\n";
inline constexpr const wchar_t* kLogInitializeCall =
    L"-Tactus: driver_initialize call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogResetCounters = L"-Tactus: ResetCounters/auto %d(%d)\n";
inline constexpr const wchar_t* kLogServerCreated = L"-Tactus: Created server process for %ls!\n";
inline constexpr const wchar_t* kLogServerNotCreated =
    L"-Tactus: Could not start server process %ls: %ls\n";
inline constexpr const wchar_t* kLogServerKilled =
    L"-Tactus: Killed server process! hResult = %d\n";
inline constexpr const wchar_t* kLogCommFailed = L"-Tactus: Comm initialization failed!\n";
inline constexpr const wchar_t* kLogSerialOpen =
    L"-Tactus: Open New Communication: %d, %d, %lc, %d, %d\n";
inline constexpr const wchar_t* kLogSerialSetPort = L"-Tactus: Set Port Returned: %d\n";
inline constexpr const wchar_t* kLogSerialOpened = L"-Tactus: Open Returned: %d\n";
inline constexpr const wchar_t* kLogTcpConnecting =
    L"-Tactus: Connecting to server process via IP=%ls Port=%d\n";
inline constexpr const wchar_t* kLogTcpConnected =
    L"-Tactus: Connected to server process: IP=%ls Port=%d\n";
inline constexpr const wchar_t* kLogTcpFailedShort =
    L"FAILED TO OPEN TCP Socket!!!!! CMM:%ls, %d.\n";
inline constexpr const wchar_t* kLogTcpFailed =
    L"-Tactus: Connection to server process FAILED! IP=%ls Port=%d\n";
inline constexpr const wchar_t* kLogNoParser =
    L"-Tactus: Reply formats not usable, replies are not interpreted!\n";
inline constexpr const wchar_t* kLogScaleAxis =
    L"InitializeScaleAxis\n   axis %d, %d, %d and %d, %d, %d\n";
inline constexpr const wchar_t* kLogScaleAxisValues = L"    %lf, %lf, %lf\n";
inline constexpr const wchar_t* kLogAxisProblem = L"-Tactus: Axis codes: %ls\n";
inline constexpr const wchar_t* kLogNoTimer =
    L"-Tactus: No event loop on this thread, positions are not polled!\n";
inline constexpr const wchar_t* kLogClose = L"-Tactus: driver_close\n";

// --- Event handling log lines -----------------------------------------------------------------
inline constexpr const wchar_t* kLogSending = L">Tactus:    Sending: %s\n";
inline constexpr const wchar_t* kLogSend = L">Tactus:    Send %ls\n";
inline constexpr const wchar_t* kLogReceived = L"<Tactus: Received: %ls\n";
inline constexpr const wchar_t* kLogTimedOut = L"<Tactus: POS request timed-out\n";
inline constexpr const wchar_t* kLogInitComplete = L"-Tactus: Sending MachineInitComplete().\n";
inline constexpr const wchar_t* kLogServerVersion = L"-Tactus: VexServer version: %d\n";
inline constexpr const wchar_t* kLogHitNotice = L"-Tactus: HIT interrrupt\n";
inline constexpr const wchar_t* kLogHitBefore = L"<Tactus: hit (before comp) =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogHitAfter = L"<Tactus: hit (after comp)  =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogHitVector = L"<Tactus: hit vector        =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogPosBefore = L"<Tactus: pos (before comp) =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogPosAfter = L"<Tactus: pos (after comp)  =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogRotary = L"<Tactus: W (RT angle)  =%lf\n";
inline constexpr const wchar_t* kLogNotFinite =
    L"<Tactus: %ls not finite after conversion, dropped =%lf,%lf,%lf W=%lf\n";
inline constexpr const wchar_t* kLogHitBecomesReadout =
    L"-Tactus: hit becomes a readout =%lf,%lf,%lf\n";
inline constexpr const wchar_t* kLogParserError = L"%ls";
inline constexpr const wchar_t* kLogParserUnknown = L"XYZParser unknown exception";
inline constexpr const wchar_t* kLogAutoHit =
    L"-Tactus: AUTO HIT[%d](%.4lf,%.4lf,%.4lf)(%.4lf,%.4lf,%.4lf)\n";
inline constexpr const wchar_t* kLogPollFailed = L"-Tactus: poll step failed: %s\n";
inline constexpr const wchar_t* kLogHitRequestWaits =
    L"-Tactus: HIT request waits for the answer to the previous request\n";
inline constexpr const wchar_t* kLogPromptDrainOff =
    L"-Tactus: Received lines wait for the poll timer (TACTUS_PROMPT_DRAIN=0)\n";

// --- The link to the machine: log lines and the host's status texts -------------------------
// Names of the link in the texts below.
inline constexpr const wchar_t* kLinkTcp = L"server at %ls port %d";
inline constexpr const wchar_t* kLinkSerial = L"serial port %ls (%s)";
inline constexpr const wchar_t* kLogConnectionLost =
    L"-Tactus: Connection to server process lost! (%ls) Reconnecting.\n";
inline constexpr const wchar_t* kStatusLinkLost =
    L"Connection to the machine lost (%ls). Reconnecting...";
inline constexpr const wchar_t* kLogLinkBusy =
    L"-Tactus: Connected, but nothing received for %d s: the server serves another client? "
    L"(%ls)\n";
inline constexpr const wchar_t* kStatusLinkBusy =
    L"The %ls accepted the connection but sends nothing: it is serving another client. "
    L"Waiting for it.";
inline constexpr const wchar_t* kLogLinkSilent = L"-Tactus: No reply for %d s (%ls)\n";
inline constexpr const wchar_t* kStatusLinkSilent =
    L"No answer from the machine (%ls) for %d seconds.";
inline constexpr const wchar_t* kLogLinkBack = L"-Tactus: Link to the machine is back (%ls)\n";
inline constexpr const wchar_t* kStatusLinkBack = L"Connection to the machine is back (%ls).";
inline constexpr const wchar_t* kLogNoChannel =
    L"-Tactus: No channel opened: Transport \"%ls\" names no CommInfo entry (entries: %ls)\n";
inline constexpr const wchar_t* kStatusNoChannel =
    L"No connection to the machine: Transport \"%ls\" names none of the CommInfo entries "
    L"(%ls). Positions are not read.";
inline constexpr const wchar_t* kLogReconnecting = L"-Tactus: Reconnecting, attempt %d (%ls)\n";
inline constexpr const wchar_t* kLogReconnectFailed =
    L"-Tactus: Reconnect failed: %ls; next attempt in %d ms\n";
inline constexpr const wchar_t* kLogReconnected = L"-Tactus: Reconnected (%ls)\n";
inline constexpr const wchar_t* kLogServerEnded = L"-Tactus: Server process ended: %ls\n";
inline constexpr const wchar_t* kLogServerRestarted =
    L"-Tactus: Started server process again for %ls (counters kept)\n";
inline constexpr const wchar_t* kStatusServerRestarted =
    L"The position server had ended (%ls); it was started again, counters kept.";
inline constexpr const wchar_t* kLogServerRestartsExhausted =
    L"-Tactus: Server process started %d times within a minute; not again for %d s\n";
inline constexpr const wchar_t* kStatusServerRestartsExhausted =
    L"The position server keeps ending (%d starts within a minute); it is not started again "
    L"for %d seconds. See its messages.";
inline constexpr const wchar_t* kLogStaleServer =
    L"-Tactus: The server process started now has ended (%ls), but a server on port %d "
    L"answers: it was running before\n";
inline constexpr const wchar_t* kStatusStaleServer =
    L"Connected to a position server that was already running on port %d; the one started "
    L"now ended (%ls), so the counters were not reset. End the old server and initialise "
    L"again.";
inline constexpr const wchar_t* kLogSerialOpenFailed = L"-Tactus: %ls\n";
inline constexpr const wchar_t* kLogLinesDropped =
    L"-Tactus: Receive queue full: %llu position lines, %llu other lines and %llu hit lines "
    L"dropped in the last second\n";

// --- Command log lines (the entry point's name and its callback and tip) ----------------------
inline constexpr const wchar_t* kLogMoveAbsolute =
    L"-Tactus: driver_move_absolute call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMoveAbsoluteValues =
    L"-Tactus: absolute movept=%lf,%lf,%lf speed=%lf\n";
inline constexpr const wchar_t* kLogMoveRelative =
    L"-Tactus: driver_move_relative call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMoveRelativeValues =
    L"-Tactus: relative movept=%lf,%lf,%lf speed=%lf\n";
inline constexpr const wchar_t* kLogCircularMove =
    L"-Tactus: driver_circular_move call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogCircularMoveValues =
    L"-Tactus: circular movept=%lf,%lf,%lf cntrpt=%lf,%lf,%lf large_arc=%ls speed=%lf\n";
inline constexpr const wchar_t* kLogMovePh9 = L"-Tactus: driver_move_ph9 call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMoveRotab =
    L"-Tactus: driver_move_rotab call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMoveRotabValues =
    L"-Tactus: move rotab angle=%lf direction=%d speed=%lf\n";
inline constexpr const wchar_t* kLogChangeTool =
    L"-Tactus: driver_change_tool call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogBeginDccScan =
    L"-Tactus: driver_begin_dcc_scan call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogReadPh9 = L"-Tactus: driver_read_ph9 call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogGoManual = L"-Tactus: driver_go_manual call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogInManual = L"-Tactus: driver_in_manual call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogStopProbe =
    L"-Tactus: driver_stop_probe call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMeasurePoint =
    L"-Tactus: driver_measure_point call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogMeasurePointValues =
    L"-Tactus: meas vals=%lf,%lf,%lf,%lf,%lf,%lf speed=%lf touchspeed=%lf prehit=%lf "
    L"retract=%lf check=%lf\n";
inline constexpr const wchar_t* kLogManualHit =
    L"-Tactus: driver_manual_hit call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogReadPosition =
    L"-Tactus: driver_read_positiondriver_read_position call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kLogBeginManualScan =
    L"-Tactus: driver_begin_manual_scan call_back=%lx, tip=%ls\n";
inline constexpr const wchar_t* kLogEndManualScan =
    L"-Tactus: driver_end_manual_scan call_back=%lx,tip=%ls\n";
inline constexpr const wchar_t* kNoTipName = L"NONE";

}  // namespace drivertext
