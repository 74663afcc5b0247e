#pragma once
// File names, element names, accepted values and user messages of the server's XML
// settings files (VEX.XML, VEXENC7480.XML, VexSimulator.XML). The files and every key
// are described for users in docs/configuration.md.
//
// The messages are printf-style formats (%s for a text, %d for an integer), used with
// QString::asprintf().

namespace ServerConfigNames {

// Files, opened by bare name from the working directory.
inline constexpr char kServerFile[] = "VEX.XML";
inline constexpr char kEnc7480File[] = "VEXENC7480.XML";
inline constexpr char kSimulatorFile[] = "VexSimulator.XML";

// Device libraries, by the names their vendors ship them under.
inline constexpr char kEnc7480Library[] = "ENC7480.DLL";
inline constexpr char kSimulatorLibrary[] = "VexSimulator.DLL";

// VEX.XML: children of the document element.
inline constexpr char kInterface[] = "INTERFACE";
inline constexpr char kTcpPortNumber[] = "TCPPortNumber";
inline constexpr char kWindowHideShow[] = "WINDOW_HIDE_SHOW";
inline constexpr char kPollTime[] = "POLL_TIME";
// Optional: seconds after which an idle client gives way to a waiting connection.
inline constexpr char kIdleClientTime[] = "IdleClientTime";
// Optional: the local address to listen on (absent or empty: all local interfaces).
inline constexpr char kBindAddress[] = "BindAddress";
// Optional: the folder to load the device library from (absent or empty: the library
// search). The environment variable, when set and not empty, takes its place.
inline constexpr char kDeviceLibraryFolder[] = "DeviceLibraryFolder";
inline constexpr char kDeviceLibraryFolderVariable[] = "VEX_DEVICE_LIBRARY_DIR";

inline constexpr char kInterfaceEnc7480[] = "ENC7480";
inline constexpr char kInterfaceSimulator[] = "SIMULATOR";
inline constexpr char kWindowHide[] = "HIDE";
inline constexpr char kWindowShow[] = "SHOW";

// VEXENC7480.XML: the Card element under the document element holds every key.
inline constexpr char kCard[] = "Card";
inline constexpr char kCardNumber[] = "number";
inline constexpr char kSetTriggerLogic[] = "SetTriggerLogic";
inline constexpr char kCountConfig[] = "CountConfig";
inline constexpr char kEzLogic[] = "EZLogic";
inline constexpr char kSetEzLogic[] = "SetEZLogic";
inline constexpr char kTriggerChannel[] = "TriggerChannel";
inline constexpr char kXCountsPerMm[] = "X_COUNTS_PER_MM";
inline constexpr char kYCountsPerMm[] = "Y_COUNTS_PER_MM";
inline constexpr char kZCountsPerMm[] = "Z_COUNTS_PER_MM";
inline constexpr char kWCountsPerTurn[] = "W_COUNTS_PER_TURN";
inline constexpr char kCalVecDepth[] = "CAL_VEC_DEPTH";
inline constexpr char kPointHistory[] = "POINT_HISTORY";
inline constexpr char kVectorSensitivity[] = "VECTOR_SENSITIVITY";

inline constexpr char kRisingEdge[] = "RISING_EDGE";
inline constexpr char kFallingEdge[] = "FALLING_EDGE";
inline constexpr char kModePulseDirection[] = "MODE_PULSE_DIRECTION";
inline constexpr char kModeOneAbPhase[] = "MODE_ONE_AB_PHASE";
inline constexpr char kModeTwoAbPhase[] = "MODE_TWO_AB_PHASE";
inline constexpr char kModeThreeAbPhase[] = "MODE_THREE_AB_PHASE";
inline constexpr char kModeFourAbPhase[] = "MODE_FOUR_AB_PHASE";
inline constexpr char kDisabled[] = "DISABLED";
inline constexpr char kEnabled[] = "ENABLED";
inline constexpr char kActiveLow[] = "ACTIVE_LOW";
inline constexpr char kActiveHigh[] = "ACTIVE_HIGH";
inline constexpr char kTriggerChannel1[] = "TR_1";
inline constexpr char kTriggerChannel2[] = "TR_2";

// Messages shown at start-up.
inline constexpr char kServerFileError[] =
    "VEX.XML error: file not exist or INTERFACE name not found";
inline constexpr char kUnsupportedInterface[] = "Unsupported INTERFACE is set up in VEX.XML";
inline constexpr char kConfigNotFound[] = "Config file %s is not found. Defaults are used";
// A counts-per-unit divisor of 0: key, file name, the default used instead.
inline constexpr char kZeroCountsPerUnit[] = "%s is 0 in %s; the default %d is used";
// A number outside its range: key, value, file name, lowest, highest, the value used.
inline constexpr char kOutOfRange[] = "%s is %d in %s, outside %d to %d; %d is used";

}  // namespace ServerConfigNames
