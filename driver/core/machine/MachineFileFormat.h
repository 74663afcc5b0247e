#pragma once
// Names, defaults and driver texts of the machine file TACConfigData.xml. Every element is
// described for integrators in docs/machine-file.md; change both together.

#include <cstddef>
#include <cstdint>

namespace machinefile {

// The driver opens the file by this bare name, so it comes from the host's current directory.
inline constexpr const wchar_t* kFileName = L"TACConfigData.xml";

// Children of the root element (the root's own name is not checked).
inline constexpr const char* kMisc = "Misc";
inline constexpr const char* kMachineNameAttribute = "cmm";
inline constexpr const char* kInitializationSequence = "InitializationSequence";
inline constexpr const char* kHomingSequence = "HomingSequence";
inline constexpr const char* kCommands = "Commands";
inline constexpr const char* kReplies = "Replies";
inline constexpr const char* kCommInfo = "CommInfo";

// Group children and the value element under Commands / Replies children.
inline constexpr const char* kData = "Data";
inline constexpr const char* kCommand = "Command";
inline constexpr const char* kReply = "Reply";

// Misc/Data elements.
inline constexpr const char* kAxisX = "AxisX";
inline constexpr const char* kAxisY = "AxisY";
inline constexpr const char* kAxisZ = "AxisZ";
inline constexpr const char* kHasJogbox = "HasJogbox";
inline constexpr const char* kHasRotaryTable = "HasRotaryTable";
inline constexpr const char* kReadoutButton = "ReadoutButton";
inline constexpr const char* kRequestInterval = "RequestInterval";
inline constexpr const char* kReverseIJKVector = "ReverseIJKVector";
inline constexpr const char* kStartEXE = "StartEXE";
inline constexpr const char* kTransport = "Transport";
inline constexpr const char* kScaleX = "ScaleX";
inline constexpr const char* kScaleY = "ScaleY";
inline constexpr const char* kScaleZ = "ScaleZ";
inline constexpr const char* kScaleW = "ScaleW";
inline constexpr const char* kAutoResetCounters = "AutoResetCounters";

// Commands and Replies children.
inline constexpr const char* kTakeHit = "TakeHit";
inline constexpr const char* kGetPosition = "GetPosition";
inline constexpr const char* kRotateTable = "RotateTable";
inline constexpr const char* kManualScan = "ManualScan";
inline constexpr const char* kHitReply = "HitReply";
inline constexpr const char* kPositionReply = "PositionReply";
inline constexpr const char* kRotateReply = "RotateReply";
inline constexpr const char* kScanReply = "ScanReply";

// CommInfo children; one is used when its tag equals Transport exactly.
inline constexpr const char* kGpib = "GPIB";
inline constexpr const char* kSerial = "SERIAL";
inline constexpr const char* kTcp = "TCP";
inline constexpr const char* kController = "Controller";
inline constexpr const char* kJogbox = "Jogbox";
inline constexpr const char* kDevice = "Device";
inline constexpr const char* kBaud = "Baud";
inline constexpr const char* kParity = "Parity";
inline constexpr const char* kStopBits = "StopBits";
inline constexpr const char* kSize = "Size";
inline constexpr const char* kTerminator = "Terminator";
inline constexpr const char* kAddress = "CMMAddress-IP";
inline constexpr const char* kPort = "CMMPort-IP";

// Defaults of the values a file leaves out or writes in a form that does not convert.
inline constexpr int kDefaultAxisX = 0;
inline constexpr int kDefaultAxisY = 2;
inline constexpr int kDefaultAxisZ = 4;
inline constexpr std::uint16_t kDefaultRequestInterval = 100;  // milliseconds
inline constexpr double kDefaultScale = 1.0;
inline constexpr int kDefaultBaud = 19200;
inline constexpr int kDefaultStopBits = 1;
inline constexpr int kDefaultDataBits = 8;
inline constexpr int kDefaultTerminator = 13;
inline constexpr int kDefaultTcpPort = 1390;

// Axis codes: machine axis = code / 2, an odd code reverses the axis.
inline constexpr int kMaxAxisCode = 5;

// The address text that stands for this computer (any letter case, anywhere in the address)
// and what it becomes.
inline constexpr const wchar_t* kLocalHostName = L"LOCALHOST";
inline constexpr const wchar_t* kLoopbackAddress = L"127.0.0.1";

// The serial port number is read from this character of Device on ("COM12" gives 12).
inline constexpr std::size_t kPortNumberOffset = 3;

// A reply format list of at most this many characters creates no reply parser.
inline constexpr std::size_t kMinReplyFormatListLength = 6;

// Driver texts and host resources of reading the file.
inline constexpr const wchar_t* kOpenErrorLog =
    L"-Tactus: Error opening the file, TACConfigData.xml, for reading!\n";
inline constexpr const wchar_t* kOpenErrorReasonLog = L"-Tactus: %ls\n";
inline constexpr const wchar_t* kNoInitSequenceLog = L"-Tactus: No initialization sequence!\n";
inline constexpr unsigned kOpenErrorResource = 561;

}  // namespace machinefile
