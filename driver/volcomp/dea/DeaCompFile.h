#pragma once
// The DEA table file, the driver-wide tables read from it, and the DEA error model that
// evaluates them.
//
// A DEA table file holds three axis records X, Y, Z of 2504 bytes each (313 little-endian
// doubles: seven fields, then six component tables of 51 entries from the axis's negative
// limit onwards); there is no header. Byte layout: docs/compensation-dea.md.
//
// The tables (DeaTables()) are one set for the whole driver, separate from the ASI and CNC
// tables; each read overwrites what it reaches and nothing clears them. Everything runs on
// the host's UI thread without locks. Failures are result codes; nothing throws.

#include <cstddef>
#include <string>

#include "driver/volcomp/CompensationTables.h"

namespace deafile {

inline constexpr int kAxes = 3;
inline constexpr int kComponents = 6;
inline constexpr int kEntries = 51;
// Doubles ahead of the component tables in an axis record.
inline constexpr int kHeadDoubles = 7;
inline constexpr std::size_t kRecordBytes =
    sizeof(double) * (kHeadDoubles + kComponents * kEntries);  // 2504

// Field positions inside an axis record.
enum Field {
    kUnused0,
    kUnused1,
    kKept,        // stored with the axis, not used by the correction
    kNegative,    // the negative limit n; the tables start at -n
    kStart,       // reference of the second Z lookup
    kSquareness,  // micro-radians
    kStep,        // table spacing; 0: the axis has no table
};

// The folder tried when a file name cannot be opened as given: the value of
// kTutorDirVariable when set and not empty, else kDefaultTutorDir.
inline constexpr const char* kTutorDirVariable = "TACTUS_TUTOR_DIR";
inline constexpr const char* kDefaultTutorDir = "/opt/tutor";

// The machine layout the DEA tables describe, in the terms of the 51-entry model.
inline constexpr int kModelArm = 1;
inline constexpr int kModelSubMode = 2;

// DeaReadCompFile results.
inline constexpr int kReadOk = 1;
inline constexpr int kReadNoFile = -1;
inline constexpr int kReadTooShort = -2;
inline constexpr int kReadStartIsNegative = -3;
inline constexpr int kReadNotFinite = -4;

}  // namespace deafile

// The driver's DEA tables, in the 51-entry slots of a CompensationTables: per axis the
// negated negative limit, start, step, squareness and (as param2) the kept field.
CompensationTables& DeaTables();

// The fallback folder (see deafile::kTutorDirVariable), without a trailing separator.
std::wstring DeaTutorFolder();

// Reads a DEA table file into DeaTables(): the name as given, else the fallback folder, a
// '/' and the name. Returns kReadOk; kReadNoFile for an empty name, when neither opens or
// when the name is no regular file; kReadTooShort when the file does not hold three whole
// records and kReadNotFinite when a value the correction uses is not a finite number
// (nothing is changed in these cases); kReadStartIsNegative when a record's start equals
// its negative limit n (the axes before it stay replaced). When `problem` is given it
// receives a text naming the file, record and field of a non-finite value, or the file
// that is no regular file, and is emptied otherwise.
int DeaReadCompFile(const std::wstring& fileName, std::wstring* problem = nullptr);

// Corrects point (three doubles, millimetres relative to the compensation origin) in place
// with DeaTables() for the reversed probe tip `tip`: direction kModelFromMachine adds the
// errors, kModelToMachine subtracts the errors evaluated at the given point. An axis whose
// table does not cover the point contributes nothing. Logs nothing.
void DeaErrorModel(const double tip[3], double point[3], int direction);
