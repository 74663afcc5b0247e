#include "driver/volcomp/dea/DeaCompFile.h"

#include <QFile>
#include <QString>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "driver/volcomp/DataFile.h"
#include "driver/volcomp/ErrorModel.h"

static_assert(std::endian::native == std::endian::little,
              "DEA table files are little-endian doubles and read in place");

using namespace deafile;

namespace {

constexpr std::size_t kRecordDoubles = kRecordBytes / sizeof(double);

// The name as given, else under the fallback folder; a name that exists but is no regular
// file is refused without trying the other.
DataFileOpen OpenTableFile(const std::wstring& fileName, QFile& file, std::wstring& problem) {
    for (const std::wstring& name : {fileName, DeaTutorFolder() + L"/" + fileName}) {
        const DataFileOpen opened = OpenDataFile(QString::fromStdWString(name), file);
        if (opened == DataFileOpen::kNotRegular)
            problem = NotRegularFileText(QString::fromStdWString(name));
        if (opened != DataFileOpen::kMissing)
            return opened;
    }
    return DataFileOpen::kMissing;
}

// The first value the correction uses that is not a finite number, named for the operator
// ("X record, step"), or an empty text. Fields 0 to 2 are not used.
std::wstring NonFiniteValue(const std::vector<double>& data) {
    static constexpr const wchar_t* kRecords[] = {L"X", L"Y", L"Z"};
    static constexpr const wchar_t* kFields[kHeadDoubles] = {
        nullptr, nullptr, nullptr, L"negative limit", L"start", L"squareness", L"step"};
    for (int a = 0; a < kAxes; ++a) {
        const double* record = data.data() + a * kRecordDoubles;
        const std::wstring where = std::wstring(kRecords[a]) + L" record, ";
        for (int i = kNegative; i < kHeadDoubles; ++i)
            if (!std::isfinite(record[i]))
                return where + kFields[i];
        for (int k = 0; k < kComponents * kEntries; ++k)
            if (!std::isfinite(record[kHeadDoubles + k]))
                return where + L"component " + std::to_wstring(k / kEntries) + L" entry " +
                       std::to_wstring(k % kEntries);
    }
    return {};
}

void StoreAxis(const double* record, CompAxisInfo& info,
               std::array<CompensationTables::ShortTable, kComponents>& tables) {
    info.negative = -record[kNegative];
    info.start = record[kStart];
    info.step = record[kStep];
    info.squareness = record[kSquareness];
    info.param2 = record[kKept];
    const double* values = record + kHeadDoubles;
    for (int c = 0; c < kComponents; ++c)
        for (int k = 0; k < kEntries; ++k)
            tables[c][k] = values[c * kEntries + k];
}

}  // namespace

CompensationTables& DeaTables() {
    static CompensationTables tables;
    return tables;
}

std::wstring DeaTutorFolder() {
    const char* env = std::getenv(kTutorDirVariable);
    QString dir = QString::fromLocal8Bit(env && *env ? env : kDefaultTutorDir);
    while (dir.size() > 1 && dir.endsWith(u'/'))
        dir.chop(1);
    return dir.toStdWString();
}

int DeaReadCompFile(const std::wstring& fileName, std::wstring* problem) {
    std::wstring unused;
    std::wstring& report = problem ? *problem : unused;
    report.clear();
    QFile file;
    if (fileName.empty() || OpenTableFile(fileName, file, report) != DataFileOpen::kOpened)
        return kReadNoFile;

    std::vector<double> data(kAxes * kRecordDoubles, 0.0);
    const qint64 wanted = qint64(kAxes * kRecordBytes);
    // A file cut short after one or two records would leave the missing axes with whatever
    // an earlier file put there, so it is refused like an empty one and changes nothing.
    if (file.read(reinterpret_cast<char*>(data.data()), wanted) != wanted)
        return kReadTooShort;
    file.close();
    if (const std::wstring bad = NonFiniteValue(data); !bad.empty()) {
        report = fileName + L": " + bad + L" is not a finite number";
        return kReadNotFinite;
    }

    CompensationTables& t = DeaTables();
    t.longLayout = false;
    for (int a = 0; a < kAxes; ++a) {
        const double* record = data.data() + a * kRecordDoubles;
        if (record[kStart] == record[kNegative])
            return kReadStartIsNegative;
        StoreAxis(record, t.axis[a], t.shortTables[a]);
    }
    return kReadOk;
}

void DeaErrorModel(const double tip[3], double point[3], int direction) {
    double p[4] = {point[0], point[1], point[2], 0.0};
    ShortErrorModel(DeaTables(), kModelArm, kModelSubMode, tip, p, direction);
    point[0] = p[0];
    point[1] = p[1];
    point[2] = p[2];
}
