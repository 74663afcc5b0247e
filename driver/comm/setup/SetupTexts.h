#pragma once
// The setup dialog's constants in one place: the host resources it shows by number, the
// control identifiers of its pages (also the controls' object names, which tests and tools
// look them up by), the lists' fixed entries, the labels of its own layouts, and the log
// lines of a dialog run. docs/setup-dialog.md describes the dialog for operators.
//
// Log formats follow the C library's wide printf: "%ls" for a wide string.

namespace setuptext {

// --- Host string resources --------------------------------------------------------------------
inline constexpr unsigned kSheetCaption = 1663;
inline constexpr unsigned kCommTabTitle = 1925;
inline constexpr unsigned kFirstListEntry = 16518;  // port, parity and every debug level list
inline constexpr unsigned kParityEntries[] = {5038, 5036, 5037, 5039};  // odd, even, mark, space
inline constexpr unsigned kLevelEntries[] = {2183, 2184, 2182};
inline constexpr unsigned kMsgInvalidAxes = 6063;

// --- Page templates (their identifiers name the pages) ----------------------------------------
inline constexpr int kCommTemplate = 10129;
inline constexpr int kAxisTemplate = 425;
inline constexpr int kDebugTemplate = 904;

// --- Controls -----------------------------------------------------------------------------------
// Communication page.
inline constexpr int kPortList = 1714;
inline constexpr int kBaudList = 1014;
inline constexpr int kParityList = 1015;
inline constexpr int kDataBitsList = 1016;
inline constexpr int kStopBitsList = 1017;
inline constexpr int kCommSummary = 1716;
// Axes page.
inline constexpr int kAxisXList = 10718;
inline constexpr int kAxisYList = 10719;
inline constexpr int kAxisZList = 10720;
// Debug page.
inline constexpr int kDebugLogCheck = 10710;
inline constexpr int kDebugFileText = 10711;
inline constexpr int kDebugWindowCheck = 10713;
inline constexpr int kDebugTitleText = 10712;
inline constexpr int kPosReportList = 10721;
inline constexpr int kCmmLevelList = 10723;
inline constexpr int kCpuLevelList = 10722;
inline constexpr int kCmmLevelLabel = 1727;
inline constexpr int kCpuLevelLabel = 1728;
inline constexpr int kLogResetCheck = 1774;

// --- Fixed list entries -------------------------------------------------------------------------
// Only speeds the serial port takes (SerialPort::SupportsBaudRate); 14400 is not one.
inline constexpr const char* kBaudRates[] = {"300",   "1200",  "2400",  "4800",  "9600",
                                             "19200", "38400", "57600", "115200"};
// Ports offered after the first entry ("COM1" ... ); a larger port number grows the list.
inline constexpr int kListedPorts = 16;
inline constexpr int kHighestPort = 255;
inline constexpr const char* kPortEntryFormat = "COM%1";
// Data bits are listed from 7 on: index = data bits - 7.
inline constexpr int kFirstDataBits = 7;
inline constexpr const char* kDataBitsEntries[] = {"7", "8"};
inline constexpr const char* kStopBitsEntries[] = {"1", "1.5", "2"};
// Axis code c: machine axis c / 2, reversed when c is odd.
inline constexpr const char* kAxisCodeEntries[] = {"Machine X", "Machine X, reversed",
                                                   "Machine Y", "Machine Y, reversed",
                                                   "Machine Z", "Machine Z, reversed"};

// --- Labels of our own layouts ------------------------------------------------------------------
inline constexpr const char* kAxisTabTitle = "Axes";
inline constexpr const char* kDebugTabTitle = "Debug output";
inline constexpr const char* kPortLabel = "Port:";
inline constexpr const char* kBaudLabel = "Baud rate:";
inline constexpr const char* kParityLabel = "Parity:";
inline constexpr const char* kDataBitsLabel = "Data bits:";
inline constexpr const char* kStopBitsLabel = "Stop bits:";
inline constexpr const char* kSummaryLabel = "Settings:";
inline constexpr const char* kLinkLabel = "Connection:";
inline constexpr const char* kTcpLinkFormat = "TCP %1, port %2";
inline constexpr const char* kTcpLinkNote =
    "This machine is connected over TCP. The serial settings below apply to machines on a "
    "serial line.";
inline constexpr const char* kNextStartNote =
    "Changes here do not change the connection in use: the driver sets its connection up "
    "from TACConfigData.xml when it next starts.";
inline constexpr const char* kNoPortText = "Choose the serial port the machine is connected to.";
inline constexpr const char* kBadBaudText =
    "The baud rate '%1' is not a speed the serial port can take. Choose one from the list.";
inline constexpr const char* kAxisXLabel = "Host X axis:";
inline constexpr const char* kAxisYLabel = "Host Y axis:";
inline constexpr const char* kAxisZLabel = "Host Z axis:";
inline constexpr const char* kAxisHint = "Each host axis needs a machine axis of its own.";
inline constexpr const char* kDebugLogText = "Write a debug log file";
inline constexpr const char* kDebugFileLabel = "Log file:";
inline constexpr const char* kDebugWindowText = "Show the terminal window";
inline constexpr const char* kDebugTitleLabel = "Window title:";
inline constexpr const char* kPosReportLabel = "Position reports:";
inline constexpr const char* kCmmLevelText = "Machine messages:";
inline constexpr const char* kCpuLevelText = "Driver messages:";
inline constexpr const char* kLogResetText = "Reset the debug log with the machine";

// --- Log lines of a dialog run ------------------------------------------------------------------
inline constexpr const wchar_t* kLogSetupCall =
    L"-Tactus: driver_cmm_setup_dialog call_back=%x,tip=%ls\n";
inline constexpr const wchar_t* kNoTipName = L"NONE";
inline constexpr const wchar_t* kLogSetupExit = L"-Tactus: Exit from setup dialog\n";
inline constexpr const wchar_t* kLogHostVersion = L"-Tactus: Quillon    version info: %ls\n";
inline constexpr const wchar_t* kLogInterfaceVersion = L"-Tactus: Interface version info: %ls\n";
inline constexpr const wchar_t* kLogNoGui =
    L"-Tactus: Setup dialog not shown: the host runs without a user interface\n";

}  // namespace setuptext
