// Feeds the compensation file readers (table file, "SyncValue.dat", "compgrid.dat") and
// then the error models with arbitrary data; nothing may crash or read out of bounds.
//
// Input: one selector byte, then data. Selector bits 0-1 pick the file: 0 the data as a
// raw table file, 1 a 251-entry file and 2 a 51-entry file built from the data (record
// heads from the start, table entries repeating the data, so short inputs reach every
// record), 3 the data as a raw grid file. Bit 4 adds a fourth record, bit 5 a sync file
// built the same way, bit 6 cuts that sync file short.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/GridCompensation.h"

namespace {

void WriteFile(const char* name, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(name, "wb");
    if (!f)
        std::abort();
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// `size` bytes: the data first, then the data again and again (zeros without data).
std::vector<std::uint8_t> Repeat(const std::uint8_t* data, std::size_t n, std::size_t size) {
    std::vector<std::uint8_t> out(size, 0);
    for (std::size_t i = 0; n > 0 && i < size; ++i)
        out[i] = data[i % n];
    return out;
}

// Table records whose heads are consecutive 64-byte pieces of the data and whose tables
// repeat the data.
std::vector<std::uint8_t> Records(const std::uint8_t* data, std::size_t n, std::size_t recordBytes,
                                  int records) {
    std::vector<std::uint8_t> out;
    for (int r = 0; r < records; ++r) {
        std::vector<std::uint8_t> record = Repeat(data, n, recordBytes);
        const std::size_t head = 64 * std::size_t(r);
        for (std::size_t i = 0; i < 64 && head + i < n; ++i)
            record[i] = data[head + i];
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

void Evaluate(const std::uint8_t* data, std::size_t n) {
    const CompensationTables& t = CompTables();
    std::vector<double> probes = {0.0,
                                  1.0,
                                  -1.0,
                                  1e308,
                                  -1e308,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    for (const CompAxisInfo& a : t.axis)
        for (double v : {a.start, a.negative, a.start + 250 * a.step, a.negative + 50 * a.step,
                         a.start + 0.5 * a.step, a.start - a.step})
            probes.push_back(v);
    if (n >= 8) {
        double v;
        std::memcpy(&v, data + n - 8, 8);
        probes.push_back(v);
    }
    const double tips[2][3] = {{0.0, 0.0, 0.0}, {12.5, -80.0, -250.0}};
    for (std::size_t i = 0; i < probes.size(); ++i) {
        for (int dir : {kModelFromMachine, kModelToMachine}) {
            double p[4] = {probes[i], probes[(i + 3) % probes.size()],
                           probes[(i + 5) % probes.size()], probes[i]};
            AsiErrorModel(tips[i % 2], p, dir);
            double q[4] = {probes[(i + 1) % probes.size()], probes[i],
                           probes[(i + 2) % probes.size()], 0.0};
            CncErrorModel(tips[(i + 1) % 2], q, dir);
        }
    }
    HasTableData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool inScratchDir = [] {
        static char pattern[] = "/tmp/compfile-fuzz-XXXXXX";
        if (!mkdtemp(pattern) || chdir(pattern) != 0)
            return false;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(pattern, ignored);
        });
        return true;
    }();
    if (!inScratchDir || size < 1)
        return 0;
    const std::uint8_t selector = data[0];
    ++data;
    --size;

    std::remove("SyncValue.dat");
    if (selector & 0x20) {
        std::vector<std::uint8_t> sync = Repeat(data, size, compfile::kSyncFileBytes);
        if (selector & 0x40)
            sync.resize(sync.size() / 2);
        WriteFile("SyncValue.dat", sync);
    }
    const int records = selector & 0x10 ? 4 : 3;
    switch (selector & 3) {
        case 0:
            WriteFile("c.dat", std::vector<std::uint8_t>(data, data + size));
            break;
        case 1:
            WriteFile("c.dat", Records(data, size, compfile::kLongRecordBytes, records));
            break;
        case 2:
            WriteFile("c.dat", Records(data, size, compfile::kShortRecordBytes, 3));
            break;
        default: {
            WriteFile("compgrid.dat", std::vector<std::uint8_t>(data, data + size));
            GridCompensation grid;
            grid.Load();
            for (double v : {0.0, -1e9, 1e9, std::numeric_limits<double>::quiet_NaN()}) {
                double p[3] = {v, -v, v};
                grid.Apply({}, p, GridCompensation::kFromMachine);
                grid.Apply({}, p, GridCompensation::kToMachine);
            }
            return 0;
        }
    }
    if (ReadCompensationFile(L"c.dat") == compfile::kReadOk)
        Evaluate(data, size);
    return 0;
}
