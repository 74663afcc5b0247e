#pragma once
// Helpers for the compensation tests: synthetic table, sync and grid files written in a
// scratch current directory, and a view of the debug log lines written since a point.

#include <sys/stat.h>  // mkfifo: data files that must not be opened

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/comm/log/LogLine.h"
#include "host/HostConfig.h"
#include "host/HostRecorder.h"

namespace volcomptest {

inline void WriteBytes(const QString& path, const std::vector<char>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    file.write(bytes.data(), qint64(bytes.size()));
}

template <typename T>
void Append(std::vector<char>& bytes, T value) {
    const auto* raw = reinterpret_cast<const char*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

// One axis record of a table file. Tables are filled from functions of the table position
// (lower + k * step, where lower is start for 251 entries and -negativeStored for 51).
struct AxisRecord {
    double origin = 0.0;
    double param1 = 0.0;
    double param2 = 0.0;
    double param3 = 0.0;
    double negativeStored = 1000.0;
    double start = 0.0;
    double squareness = 0.0;
    double step = 0.0;
    std::array<std::vector<double>, 6> tables;
};

class CompFile {
  public:
    explicit CompFile(int entries) : entries_(entries) {
        for (AxisRecord& r : records_)
            for (auto& t : r.tables)
                t.assign(entries, 0.0);
    }

    AxisRecord& Axis(int a) { return records_[a]; }
    int Entries() const { return entries_; }
    double Lower(int a) const {
        return entries_ == 251 ? records_[a].start : -records_[a].negativeStored;
    }
    double PositionOf(int a, int k) const { return Lower(a) + k * records_[a].step; }

    // Fills table component c of record a with fn(position).
    void Fill(int a, int c, const std::function<double(double)>& fn) {
        for (int k = 0; k < entries_; ++k)
            records_[a].tables[c][k] = fn(PositionOf(a, k));
    }

    // Writes `records` records (3, or 4 with the fourth one); `extraBytes` more of filler.
    void Write(const QString& path, int records = 3, std::size_t cutBytes = 0) const {
        std::vector<char> bytes;
        for (int a = 0; a < records; ++a) {
            const AxisRecord& r = records_[a];
            for (double v : {r.origin, r.param1, r.param2, r.param3, r.negativeStored, r.start,
                             r.squareness, r.step})
                Append(bytes, v);
            for (const auto& t : r.tables)
                for (double v : t)
                    Append(bytes, v);
        }
        bytes.resize(bytes.size() - cutBytes);
        WriteBytes(path, bytes);
    }

  private:
    int entries_;
    std::array<AxisRecord, 4> records_;
};

// "SyncValue.dat": 251 sync values, unused doubles, S2X and X2C.
inline void WriteSyncFile(const std::function<double(int)>& sync, double s2x, double x2c,
                          std::size_t cutBytes = 0) {
    std::vector<char> bytes;
    for (int k = 0; k < 1508; ++k)
        Append(bytes, k < 251 ? sync(k) : k == 1506 ? s2x : k == 1507 ? x2c : 0.0);
    bytes.resize(bytes.size() - cutBytes);
    WriteBytes("SyncValue.dat", bytes);
}

struct GridFile {
    std::string comment = "GridMethodErrorCompFile synthetic";
    std::int32_t xCount = 3;
    std::int32_t yCount = 2;
    double xStart = 0.0;
    double yStart = 0.0;
    double xStep = 100.0;
    double yStep = 50.0;
    double z1 = 0.0;
    double z2 = 0.0;
    // Errors of grid g (1 or 2) at cell (i, j).
    std::function<std::array<double, 2>(int g, int i, int j)> cell = [](int, int, int) {
        return std::array<double, 2>{0.0, 0.0};
    };

    void Write(const QString& path = "compgrid.dat", std::size_t cutBytes = 0) const {
        std::vector<char> bytes(40, '\0');
        std::memcpy(bytes.data(), comment.data(), std::min<std::size_t>(comment.size(), 40));
        Append(bytes, xCount);
        Append(bytes, yCount);
        for (double v : {xStart, yStart, xStep, yStep, z1, z2})
            Append(bytes, v);
        const int grids = std::abs(z1 - z2) > 1.0 ? 2 : 1;
        for (int g = 1; g <= grids; ++g)
            for (int i = 0; i < xCount; ++i)
                for (int j = 0; j < yCount; ++j)
                    for (double v : cell(g, i, j))
                        Append(bytes, v);
        bytes.resize(bytes.size() - cutBytes);
        WriteBytes(path, bytes);
    }
};

// Makes a fresh scratch directory the current directory while it lives.
class ScopedWorkDir {
  public:
    ScopedWorkDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(previous_); }
    QString Path() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
    QString previous_;
};

// The debug log is opened once per test program (opening pauses on purpose); a LogView
// sees what was written after it was made.
inline const QString& LogPath() {
    static const QString path = [] {
        const QString p = QDir::temp().filePath(
            QStringLiteral("volcomp-test-%1.log").arg(QCoreApplication::applicationPid()));
        TheDebugLog().OpenLogFile(p.toStdWString().c_str(), 0, nullptr);
        // Runs before the log's own statics go away; the open file may be unlinked.
        std::atexit([] { QFile::remove(LogPath()); });
        return p;
    }();
    return path;
}

class LogView {
  public:
    LogView() : start_(QFile(LogPath()).size()) {}
    std::string Text() const {
        QFile file(LogPath());
        file.open(QIODevice::ReadOnly);
        file.seek(start_);
        return file.readAll().toStdString();
    }
    bool Has(const std::string& part) const { return Text().find(part) != std::string::npos; }
    int Count(const std::string& part) const {
        const std::string text = Text();
        int n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

  private:
    qint64 start_;
};

// Quiet host: message boxes answered at once, nothing on stderr, a clean recorder.
inline void ResetHost() {
    QlnConfig().reset();
    QlnConfig().interactiveMessageBoxes = false;
    QlnConfig().echoMessageBoxes = false;
    QlnRecorder().clear();
}

}  // namespace volcomptest
