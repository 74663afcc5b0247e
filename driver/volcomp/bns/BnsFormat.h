#pragma once
// Constants of the B&S compensation map files "comp.dat" (text or binary) and "comp.enc"
// (enciphered), and of the key material that unlocks the latter. The formats are described
// byte by byte in docs/compensation-bns.md.

#include <cstddef>

namespace bns {

// File names. The enciphered map is looked for beside the plain one.
inline constexpr const wchar_t* kPlainFileName = L"comp.dat";
inline constexpr const wchar_t* kEncipheredFileName = L"comp.enc";
// Key material for "comp.enc": the file named by this environment variable, else a file of
// this name beside "comp.enc", else the material compiled into the driver.
inline constexpr const char* kKeyFileVariable = "TACTUS_BNS_KEY_FILE";
inline constexpr const char* kKeyFileName = "comp.key";

// Flags value (the first value of a map).
inline constexpr int kFlagExtendedHeader = 128;  // points per table and rotary data follow
inline constexpr int kFlagRotaryData = 4;        // the map carries rotary-table data
inline constexpr int kMachineTypeMask = 123;     // flags AND this is the machine type

// Machine types with their own error terms.
inline constexpr int kTypeOne = 1;
inline constexpr int kTypeTwo = 2;
inline constexpr int kTypeThree = 3;
inline constexpr int kTypeEight = 8;
inline constexpr int kTypeSixteen = 16;

// Table counts and capacities.
inline constexpr int kTableCount = 23;        // tables 0..22
inline constexpr int kExtraTableCount = 6;    // E0..E5, machine type 3 only
inline constexpr int kRotaryTableCount = 6;   // rotary tables 0..5
inline constexpr int kHeaderExtraValues = 3;  // three header values no correction uses
inline constexpr int kDefaultPoints = 50;     // points per table without the extended header
inline constexpr int kMinPoints = 2;          // interpolation needs two points
inline constexpr int kMaxPoints = 200;        // capacity of a table
inline constexpr int kMaxRotaryPoints = 180;  // capacity of a rotary table

// Plain text form: the first line (at most this many characters) decides text or binary.
inline constexpr std::size_t kFirstLineChars = 79;
// A plain file larger than this cannot be a map (the largest binary map is about 56 KiB).
inline constexpr std::size_t kMaxFileBytes = 16u << 20;
// A key file holds two short lines; anything this long is no key file.
inline constexpr std::size_t kMaxKeyFileBytes = 64u << 10;

// Enciphered form: one value per line, hexadecimal cipher text and a line end. The first
// line holds at most 79 characters, every other line at most 99 (98 digits = 49 bytes),
// both counting the line end.
inline constexpr std::size_t kMaxFirstEncipheredLine = 79;
inline constexpr std::size_t kMaxEncipheredLine = 99;

// Lookup: below the first point the weight is this, from the first point.
inline constexpr double kBelowStartWeight = 0.00001;
// Interpolated values smaller than this in magnitude are taken as 0.
inline constexpr double kZeroThreshold = 1e-15;
// The map data check: a value larger than this in magnitude counts as data.
inline constexpr double kDataThreshold = 1e-6;

// Key material: the first pass phrase and the enciphered second pass phrase.
inline constexpr std::size_t kSecretBytes = 40;

}  // namespace bns
