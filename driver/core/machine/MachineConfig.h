#pragma once
// MachineConfig: what the machine file TACConfigData.xml says about one machine and its
// controller, in the form driver start-up uses it.
//
// ReadMachineFile (MachineFileReader.h) fills one at every driver initialisation; it is a
// plain value that owns nothing, has no thread affinity and no failure state: every value
// holds either what the file wrote or its default. The set `fromFile` of a group names the
// elements whose text the file gave (and, for numbers and booleans, converted); every other
// value is its default. Element names and defaults are in MachineFileFormat.h; what each
// value means is in docs/machine-file.md.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "driver/core/machine/MachineFileFormat.h"

// Element names of a group whose value came from the file.
using ValueOrigins = std::set<std::string, std::less<>>;

// Misc: the machine description. Field names are the element names.
struct MachineMisc {
    std::wstring cmm;  // attribute: the machine name used in log lines
    int AxisX = machinefile::kDefaultAxisX;
    int AxisY = machinefile::kDefaultAxisY;
    int AxisZ = machinefile::kDefaultAxisZ;
    bool HasJogbox = false;
    bool HasRotaryTable = false;
    bool ReadoutButton = false;
    std::uint16_t RequestInterval = machinefile::kDefaultRequestInterval;  // milliseconds
    // RequestInterval as the file wrote it, before it was stored in 16 bits.
    int requestIntervalWritten = machinefile::kDefaultRequestInterval;
    bool ReverseIJKVector = false;
    std::wstring StartEXE;
    std::wstring Transport;
    double ScaleX = machinefile::kDefaultScale;
    double ScaleY = machinefile::kDefaultScale;
    double ScaleZ = machinefile::kDefaultScale;
    double ScaleW = machinefile::kDefaultScale;
    bool AutoResetCounters = false;

    ValueOrigins fromFile;
};

// A GPIB child: read and kept only, the driver opens no GPIB channel.
struct GpibSettings {
    std::wstring Controller;
    std::wstring Jogbox;
    ValueOrigins fromFile;
};

struct SerialSettings {
    std::wstring Device;  // port name, "COM3"
    int Baud = machinefile::kDefaultBaud;
    std::wstring Parity;  // its first character is the parity letter
    int StopBits = machinefile::kDefaultStopBits;
    int Size = machinefile::kDefaultDataBits;
    // Kept for the channel set-up; the line end the serial channel cuts at is fixed.
    char Terminator = static_cast<char>(machinefile::kDefaultTerminator);
    ValueOrigins fromFile;

    // The decimal number from the fourth character of Device on: "COM12" gives 12. 0 when
    // there is none (a name of three characters or fewer, or no digits there).
    int PortNumber() const;
    // First character of Parity, or 0 when Parity is empty (the channel then keeps its own).
    char ParityLetter() const;
};

struct TcpSettings {
    std::wstring address;  // CMMAddress-IP as written (logged so)
    int port = machinefile::kDefaultTcpPort;
    ValueOrigins fromFile;

    // The address the channel connects to: upper-cased, and "127.0.0.1" when it contains
    // "LOCALHOST" in any letter case.
    std::wstring ConnectAddress() const;
};

// One CommInfo child whose tag equals Transport.
using CommInfoChild = std::variant<GpibSettings, SerialSettings, TcpSettings>;

struct MachineCommands {
    std::wstring TakeHit;      // sent by the manual-hit request
    std::wstring GetPosition;  // sent by the position read; also the parser's position command
    std::wstring RotateTable;  // read and kept only
    std::wstring ManualScan;   // read and kept only
};

struct MachineReplies {
    std::wstring HitReply;
    std::wstring PositionReply;
    std::wstring RotateReply;  // read and kept only
    std::wstring ScanReply;    // read and kept only

    // The reply parser's format list: the hit format, then "," and the position format when
    // that is not empty.
    std::wstring FormatList() const;
    // A reply parser is created only for a format list longer than six characters; without
    // it no reply is interpreted.
    bool CreatesParser() const;
};

struct MachineConfig {
    MachineMisc misc;
    std::wstring initializationCommand;  // handed to the reply parser's init sequence
    std::wstring homingCommand;          // read and kept only
    MachineCommands commands;
    MachineReplies replies;
    // Names of the sequence, command and reply texts the file gave: "InitializationSequence",
    // "HomingSequence", "TakeHit", ..., "HitReply", ...
    ValueOrigins textsFromFile;

    // The CommInfo children whose tag equals misc.Transport exactly, in document order; the
    // channel set-up processes every one of them.
    std::vector<CommInfoChild> channels;
    // Tags of every CommInfo child, in document order.
    std::vector<std::wstring> commInfoTags;
    // One sentence for each element the driver does not read or reads only once although
    // it is repeated, e.g. "Misc/Data/Axisx is not read by the driver" (usually a typing
    // error) or "Misc/Data appears 2 times: the last one decides". In document order of
    // their parents, by tag name within one parent.
    std::vector<std::wstring> ignoredElements;

    // Start-up logs "-Tactus: No initialization sequence!" when this is false.
    bool HasInitializationSequence() const { return !initializationCommand.empty(); }
};

// The machine axis (0, 1 or 2) that an axis code feeds, or nothing for a code outside 0 to 5.
std::optional<int> MachineAxisOf(int code);
// An odd axis code reverses the direction of its axis.
inline bool ReversesAxis(int code) {
    return code % 2 != 0;
}
// What is wrong with the three axis codes: codes outside 0 to 5, and two host axes fed by
// one machine axis. Empty when the codes form a usable mapping.
std::vector<std::wstring> AxisCodeProblems(const MachineMisc& misc);
