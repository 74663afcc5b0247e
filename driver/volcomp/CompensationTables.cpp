#include "driver/volcomp/CompensationTables.h"

#include <QFile>
#include <QString>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "driver/comm/log/LogLine.h"

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

// Reads up to `records` records of `recordBytes`; returns how many whole records came in.
int ReadRecords(QFile& file, std::size_t recordBytes, int records, std::vector<double>& into) {
    into.assign(records * recordBytes / sizeof(double), 0.0);
    const qint64 got =
        file.read(reinterpret_cast<char*>(into.data()), qint64(records * recordBytes));
    return got <= 0 ? 0 : int(std::size_t(got) / recordBytes);
}

void ReadSyncFile(CompensationTables& t) {
    QFile file(QString::fromStdWString(kSyncFileName));
    if (!file.open(QIODevice::ReadOnly)) {
        t.syncLoaded = false;
        return;
    }
    std::vector<double> values(kSyncDoubles, 0.0);
    if (file.read(reinterpret_cast<char*>(values.data()), qint64(kSyncFileBytes)) !=
        qint64(kSyncFileBytes)) {
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

int ReadCompensationFile(const std::wstring& fileName) {
    QFile file(QString::fromStdWString(fileName));
    if (fileName.empty() || !file.open(QIODevice::ReadOnly))
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
        t.longLayout = true;
        t.hasFourth = hasFourth;
        t.w = hasFourth ? fourth[kStart] : 0.0;
        return StoreLongLayout(t, data, fourth);
    }

    file.close();
    if (!file.open(QIODevice::ReadOnly))
        return kReadNoFile;
    // Fewer than three whole 51-entry records is as damaged as none.
    if (ReadRecords(file, kShortRecordBytes, kAxes, data) < kAxes)
        return kReadTooShort;
    file.close();
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
