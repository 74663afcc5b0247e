#include "driver/volcomp/dea/DeaCompFile.h"

#include <QFile>
#include <QString>
#include <bit>
#include <cstdlib>
#include <vector>

#include "driver/volcomp/ErrorModel.h"

static_assert(std::endian::native == std::endian::little,
              "DEA table files are little-endian doubles and read in place");

using namespace deafile;

namespace {

constexpr std::size_t kRecordDoubles = kRecordBytes / sizeof(double);

bool OpenTableFile(const std::wstring& fileName, QFile& file) {
    file.setFileName(QString::fromStdWString(fileName));
    if (file.open(QIODevice::ReadOnly))
        return true;
    file.setFileName(QString::fromStdWString(DeaTutorFolder() + L"/" + fileName));
    return file.open(QIODevice::ReadOnly);
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

int DeaReadCompFile(const std::wstring& fileName) {
    QFile file;
    if (fileName.empty() || !OpenTableFile(fileName, file))
        return kReadNoFile;

    std::vector<double> data(kAxes * kRecordDoubles, 0.0);
    const qint64 wanted = qint64(kAxes * kRecordBytes);
    // A file cut short after one or two records would leave the missing axes with whatever
    // an earlier file put there, so it is refused like an empty one and changes nothing.
    if (file.read(reinterpret_cast<char*>(data.data()), wanted) != wanted)
        return kReadTooShort;
    file.close();

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
