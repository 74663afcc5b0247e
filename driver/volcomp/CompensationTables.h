#pragma once
// The driver-wide error tables of the ASI and CNC methods and their reader.
//
// A table file holds three axis records (X, Y, Z), optionally a fourth one with the second
// Y-rail tables, in one of two layouts: 251 entries per component (12112-byte records) or
// 51 entries (2512-byte records); "SyncValue.dat" beside it (in the current directory)
// adds the second-drive offsets. Byte layouts: docs/compensation.md.
//
// There is one set of tables for the whole driver (CompTables()), shared by every ASI and
// CNC object; ReadCompensationFile overwrites what it reaches and nothing clears it. All
// of it runs on the host's UI thread; there is no lock. Failures are result codes.

#include <array>
#include <cstddef>
#include <string>

namespace compfile {

inline constexpr int kAxes = 3;
inline constexpr int kComponents = 6;
inline constexpr int kLongEntries = 251;
inline constexpr int kShortEntries = 51;
inline constexpr int kLongSpan = kLongEntries - 1;
inline constexpr int kShortSpan = kShortEntries - 1;
// Doubles ahead of the component tables in every axis record.
inline constexpr int kRecordHeadDoubles = 8;
inline constexpr std::size_t kLongRecordBytes =
    sizeof(double) * (kRecordHeadDoubles + kComponents * kLongEntries);  // 12112
inline constexpr std::size_t kShortRecordBytes =
    sizeof(double) * (kRecordHeadDoubles + kComponents * kShortEntries);  // 2512

inline constexpr const wchar_t* kSyncFileName = L"SyncValue.dat";
inline constexpr int kSyncDoubles = 1508;
inline constexpr std::size_t kSyncFileBytes = sizeof(double) * kSyncDoubles;  // 12064
inline constexpr int kSyncS2XIndex = 1506;
inline constexpr int kSyncX2CIndex = 1507;
inline constexpr double kDefaultS2X = 1000.0;
inline constexpr double kDefaultX2C = 100.0;

// ReadCompensationFile results.
inline constexpr int kReadOk = 1;
inline constexpr int kReadNoFile = -1;
inline constexpr int kReadTooShort = -2;
inline constexpr int kReadStartIsNegative = -3;
inline constexpr int kReadNotFinite = -4;

}  // namespace compfile

// The fixed fields of one axis record, as stored by the reader.
struct CompAxisInfo {
    double origin = 0.0;
    double param1 = 0.0;    // Z record: LZ1
    double param2 = 0.0;    // Z record: RZ1
    double param3 = 0.0;    // X record: the arm number; Y record: the 51-entry sub-mode
    double negative = 0.0;  // the stored negative limit, negated (millimetres)
    double start = 0.0;
    double squareness = 0.0;  // micro-radians
    double step = 0.0;        // 0: the axis has no table
};

struct CompensationTables {
    using LongTable = std::array<double, compfile::kLongEntries>;
    using ShortTable = std::array<double, compfile::kShortEntries>;

    // True for the 251-entry layout.
    bool longLayout = false;
    std::array<CompAxisInfo, compfile::kAxes> axis{};
    // Slots X, Y, Z and the fourth record; each six component tables.
    std::array<std::array<LongTable, compfile::kComponents>, 4> longTables{};
    std::array<std::array<ShortTable, compfile::kComponents>, compfile::kAxes> shortTables{};
    bool hasFourth = false;
    double w = 0.0;  // rail distance from the fourth record's start field
    bool syncLoaded = false;
    LongTable sync{};
    double s2x = compfile::kDefaultS2X;
    double x2c = compfile::kDefaultX2C;

    // The arm number of the X record (rounded as value + 0.05) and the sub-mode of the Y
    // record (truncated); 0 when the stored value is not a usable number.
    int Arm() const;
    int SubMode() const;
};

// The driver's tables.
CompensationTables& CompTables();

// Reads a table file into CompTables(). Returns kReadOk, kReadNoFile when it cannot be
// opened or is no regular file, kReadTooShort when it holds neither three whole 251-entry
// records nor three whole 51-entry records, kReadNotFinite when a value of a record is not
// a finite number (nothing is changed in these cases), kReadStartIsNegative when an axis
// record's start equals its stored negative limit (earlier axes stay replaced). Logs what
// it reads. Also reads "SyncValue.dat" for a 251-entry file. When `problem` is given it
// receives a text naming the file, record and field of a non-finite value or the file that
// is no regular file, and is emptied otherwise.
int ReadCompensationFile(const std::wstring& fileName, std::wstring* problem = nullptr);

// True when an entry of the X or Y tables of components 0, 1, 3, 4 or 5 (251-entry slots)
// exceeds 1e-6 in magnitude.
bool HasTableData();
