#include "driver/volcomp/CompensationTables.h"

#include <QFile>
#include <QString>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/DataFile.h"

static_assert(std::endian::native == std::endian::little,
              "table files are little-endian doubles and read in place");

using namespace compfile;

namespace {

// A stored double turned into an int the way the file's fields are meant (truncated),
// without undefined behaviour for values no int can hold.
int TruncatedInt(double value) {
    if (!(value > double(INT_MIN) - 1.0 && value < double(INT_MAX) + 1.0))
        return 0;
    return int(value);
}

// One axis record as it lies in the file: eight fields, then six tables of `entries`.
struct RecordView {
    const double* doubles;
    int entries;

    double Field(int i) const { return doubles[i]; }
    double Entry(int component, int k) const {
        return doubles[kRecordHeadDoubles + component * entries + k];
    }
};

// Field positions inside an axis record.
enum Field { kOrigin, kParam1, kParam2, kParam3, kNegative, kStart, kSquareness, kStep };
constexpr const wchar_t* kFieldNames[kRecordHeadDoubles] = {
    L"origin",         L"parameter 1", L"parameter 2", L"parameter 3",
    L"negative limit", L"start",       L"squareness",  L"step"};
constexpr const wchar_t* kRecordNames[] = {L"X", L"Y", L"Z", L"fourth"};

// The first value of a record that is not a finite number, named for the operator, or an
// empty text: a nan or an infinity would turn every corrected point into one.
std::wstring NonFiniteValue(const RecordView& record, const wchar_t* recordName) {
    const std::wstring where = std::wstring(recordName) + L" record, ";
    for (int i = 0; i < kRecordHeadDoubles; ++i)
        if (!std::isfinite(record.Field(i)))
            return where + kFieldNames[i] + L" is not a finite number";
    for (int c = 0; c < kComponents; ++c)
        for (int k = 0; k < record.entries; ++k)
            if (!std::isfinite(record.Entry(c, k)))
                return where + L"component " + std::to_wstring(c) + L" entry " +
                       std::to_wstring(k) + L" is not a finite number";
    return {};
}

// The first record of `data` (`records` of `entries`) holding a value that is not finite,
// as "FILE: RECORD record, FIELD is not a finite number", or an empty text.
std::wstring NonFiniteIn(const std::wstring& fileName, const std::vector<double>& data, int records,
                         int entries, int firstRecord = 0) {
    const std::size_t recordDoubles = kRecordHeadDoubles + kComponents * std::size_t(entries);
    for (int r = 0; r < records; ++r) {
        const std::wstring found = NonFiniteValue(
            RecordView{data.data() + r * recordDoubles, entries}, kRecordNames[firstRecord + r]);
        if (!found.empty())
            return fileName + L": " + found;
    }
    return {};
}

// Reads up to `records` records of `recordBytes`; returns how many whole records came in.
int ReadRecords(QFile& file, std::size_t recordBytes, int records, std::vector<double>& into) {
    into.assign(records * recordBytes / sizeof(double), 0.0);
    const qint64 got =
        file.read(reinterpret_cast<char*>(into.data()), qint64(records * recordBytes));
    return got <= 0 ? 0 : int(std::size_t(got) / recordBytes);
}

void ReadSyncFile(CompensationTables& t) {
    QFile file;
    const DataFileOpen opened = OpenDataFile(QString::fromStdWString(kSyncFileName), file);
    if (opened == DataFileOpen::kMissing) {
        t.syncLoaded = false;
        return;
    }
    std::vector<double> values(kSyncDoubles, 0.0);
    const bool whole = opened == DataFileOpen::kOpened &&
                       file.read(reinterpret_cast<char*>(values.data()), qint64(kSyncFileBytes)) ==
                           qint64(kSyncFileBytes);
    // The doubles between the sync values and S2X are not used.
    int bad = -1;
    for (int k = 0; whole && bad < 0 && k < kSyncDoubles; ++k)
        if ((k < kLongEntries || k >= kSyncS2XIndex) && !std::isfinite(values[k]))
            bad = k;
    if (opened == DataFileOpen::kNotRegular)
        LogLine(L"%ls\n", NotRegularFileText(QString::fromStdWString(kSyncFileName)).c_str());
    else if (bad >= 0)
        LogLine(L"%ls: value %d is not a finite number\n", kSyncFileName, bad);
    if (!whole || bad >= 0) {
        LogLine(L"SyncValue.dat exists but was corrupted!\n");
        t.syncLoaded = false;
        return;
    }
    for (int k = 0; k < kLongEntries; ++k) {
        t.sync[k] = values[k];
        LogLine(L"SyncValue at Data No. %d: %lf\n", k, values[k]);
    }
    t.s2x = values[kSyncS2XIndex];
    t.x2c = values[kSyncX2CIndex];
    LogLine(L"SyncS2X:%lf mm\n", t.s2x);
    LogLine(L"SyncX2C:%lf mm\n", t.x2c);
    t.syncLoaded = true;
    LogLine(L"SyncValue.dat OK\n");
}

// Lists the rows of a record's tables; the rest of a table whose component 0 repeats
// three times in a row is filler and not listed.
void ListRows(const RecordView& record) {
    for (int k = 0; k < record.entries; ++k) {
        LogLine(L" %8.4f %8.4f %8.4f %8.2f%8.2f %8.2f\n", record.Entry(0, k), record.Entry(1, k),
                record.Entry(2, k), record.Entry(3, k), record.Entry(4, k), record.Entry(5, k));
        if (k >= 2 && record.Entry(0, k) == record.Entry(0, k - 1) &&
            record.Entry(0, k) == record.Entry(0, k - 2))
            break;
    }
}

void StoreInfo(const RecordView& record, CompAxisInfo& info) {
    info.origin = record.Field(kOrigin);
    info.param1 = record.Field(kParam1);
    info.param2 = record.Field(kParam2);
    info.param3 = record.Field(kParam3);
    info.negative = -record.Field(kNegative);
    info.start = record.Field(kStart);
    info.squareness = record.Field(kSquareness);
    info.step = record.Field(kStep);
}

template <std::size_t N>
void CopyTables(const RecordView& record, std::array<std::array<double, N>, kComponents>& slot) {
    for (int c = 0; c < kComponents; ++c)
        for (int k = 0; k < int(N); ++k)
            slot[c][k] = record.Entry(c, k);
}

int StoreLongLayout(CompensationTables& t, const std::vector<double>& data,
                    const std::vector<double>& fourth) {
    LogLine(L"  COMPENS.DAT (251 max. for each component)");
    ReadSyncFile(t);
    const std::size_t recordDoubles = kLongRecordBytes / sizeof(double);
    for (int a = 0; a < kAxes; ++a) {
        const RecordView record{data.data() + a * recordDoubles, kLongEntries};
        LogLine(L"No. %d Axis \n", a);
        if (record.Field(kStart) == record.Field(kNegative))
            return kReadStartIsNegative;
        CompAxisInfo& info = t.axis[a];
        StoreInfo(record, info);
        LogLine(L" Parameters: %16.10f %16.10f %13.5f \n", info.param1, info.param2, info.param3);
        LogLine(L" squareness: %10.6f (mu-rad) \n", info.squareness);
        LogLine(L" step      : %10.1f (mm) \n", info.step);
        LogLine(L" start     : %10.1f (mm) \n", info.start);
        LogLine(L" negative  : %10.1f (mm) \n", info.negative);
        LogLine(L" origin    : %10.1f (mm) \n", info.origin);
        ListRows(record);
        LogLine(L" ===================================================\n");
        CopyTables(record, t.longTables[a]);
    }
    if (t.hasFourth && t.w > 0.0)
        CopyTables(RecordView{fourth.data(), kLongEntries}, t.longTables[3]);
    return kReadOk;
}

int StoreShortLayout(CompensationTables& t, const std::vector<double>& data) {
    LogLine(L"  COMPENS.DAT  \n");
    const std::size_t recordDoubles = kShortRecordBytes / sizeof(double);
    for (int a = 0; a < kAxes; ++a) {
        const RecordView record{data.data() + a * recordDoubles, kShortEntries};
        LogLine(L"No. %d Axis \n", a);
        if (record.Field(kStart) == record.Field(kNegative))
            return kReadStartIsNegative;
        CompAxisInfo& info = t.axis[a];
        StoreInfo(record, info);
        LogLine(L" squareness: %10.6f (mu-rad) \n", info.squareness);
        LogLine(L" step      : %10.1f (mm) \n", info.step);
        LogLine(L" start     : %10.1f (mm) \n", info.start);
        LogLine(L" negative  : %10.1f (mm) \n", info.negative);
        ListRows(record);
        CopyTables(record, t.shortTables[a]);
    }
    return kReadOk;
}

}  // namespace

int CompensationTables::Arm() const {
    return TruncatedInt(axis[0].param3 + 0.05);
}

int CompensationTables::SubMode() const {
    return TruncatedInt(axis[1].param3);
}

CompensationTables& CompTables() {
    static CompensationTables tables;
    return tables;
}

int ReadCompensationFile(const std::wstring& fileName, std::wstring* problem) {
    std::wstring unused;
    std::wstring& report = problem ? *problem : unused;
    report.clear();
    QFile file;
    const DataFileOpen opened = OpenDataFile(QString::fromStdWString(fileName), file);
    if (opened == DataFileOpen::kNotRegular)
        report = NotRegularFileText(QString::fromStdWString(fileName));
    if (opened != DataFileOpen::kOpened)
        return kReadNoFile;
    CompensationTables& t = CompTables();

    std::vector<double> data;
    const int longRecords = ReadRecords(file, kLongRecordBytes, kAxes, data);
    if (longRecords > 0) {
        // One or two whole records: a 251-entry file cut short. Its missing axes would
        // silently go uncorrected, so the file is refused as damaged and the tables in
        // use stay as they are.
        if (longRecords < kAxes)
            return kReadTooShort;
        std::vector<double> fourth;
        const bool hasFourth = ReadRecords(file, kLongRecordBytes, 1, fourth) == 1;
        file.close();
        report = NonFiniteIn(fileName, data, kAxes, kLongEntries);
        if (report.empty() && hasFourth)
            report = NonFiniteIn(fileName, fourth, 1, kLongEntries, kAxes);
        if (!report.empty()) {
            LogLine(L"%ls\n", report.c_str());
            return kReadNotFinite;
        }
        t.longLayout = true;
        t.hasFourth = hasFourth;
        t.w = hasFourth ? fourth[kStart] : 0.0;
        return StoreLongLayout(t, data, fourth);
    }

    if (!file.seek(0))
        return kReadNoFile;
    // Fewer than three whole 51-entry records is as damaged as none.
    if (ReadRecords(file, kShortRecordBytes, kAxes, data) < kAxes)
        return kReadTooShort;
    file.close();
    report = NonFiniteIn(fileName, data, kAxes, kShortEntries);
    if (!report.empty()) {
        LogLine(L"%ls\n", report.c_str());
        return kReadNotFinite;
    }
    t.longLayout = false;
    return StoreShortLayout(t, data);
}

bool HasTableData() {
    const CompensationTables& t = CompTables();
    for (int a = 0; a < 2; ++a)
        for (int c : {0, 1, 3, 4, 5})
            for (double v : t.longTables[a][c])
                if (std::fabs(v) > 1e-6)
                    return true;
    return false;
}
