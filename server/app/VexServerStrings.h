#pragma once
// Texts of the VexServer program: window titles, menu items and the start-up messages
// shown in message boxes (docs/vexserver.md lists them for operators). Configuration
// file texts live with the configuration readers.

#include "server/config/ServerConfig.h"

inline constexpr char kWindowTitle[] = "Vexline";
inline constexpr char kAboutTitle[] = "About Vexline";
inline constexpr char kAboutMenuItem[] = "&About Vexline...";  // string 101
inline constexpr char kSocketsInitFailed[] =
    "Windows sockets initialization failed.";  // string 103
inline constexpr char kCardDllFailed[] = "Card DLL %1 failed to load: %2";
inline constexpr char kDeviceNotInitialized[] = "The device %1 is not initialized";
// Written to stderr and the log when the listening socket cannot be started.
inline constexpr char kListenFailed[] = "Cannot listen on TCP port %1: %2";
// Written to stderr once the server listens: product version, interface, the library's
// path, the listening address and port.
inline constexpr char kStartedLine[] =
    "version %1, interface %2, library %3, listening on %4 port %5";
inline constexpr char kAlwaysMonitorText[] = "Always monitor hits (even without connection)";

// Poll timer identifier of the main window (kept for the log and documentation).
inline constexpr int kPollTimerId = 45;
// Shortest poll interval used, in milliseconds: a POLL_TIME below it (0 or negative) is
// raised to it rather than spinning the GUI thread or never polling. The settings reader
// clamps POLL_TIME to the same floor (and reports it); this guards callers that set the
// interval themselves.
inline constexpr int kMinPollInterval = ServerConfig::kMinPollTime;

// Indicator colours as 0x00BBGGRR values.
inline constexpr unsigned kIndicatorRed = 0x0000FF;
inline constexpr unsigned kIndicatorGreen = 0x00FF00;
inline constexpr unsigned kIndicatorYellow = 0x00FFFF;
inline constexpr unsigned kIndicatorGrey = 0xC8C8C8;
