// The host under a flood: how many lines per second the driver hands on while a server sends
// valid position lines as fast as they are taken, how quickly the host's UI thread still
// answers a command, and the host's peak resident memory.
//
// qlnrun --headless loads libTactus.so, which starts the stand-in server of the driver tests
// (tactus_fake_vexserver, in its flooding mode) and connects to it. Its lines count x from 1
// to 1000 and over again, so every line the driver handles changes the readout and reaches
// standard output as one readout event. Meanwhile a `read` is sent every 0.5 s and timed to
// its result.
//
//   flood_bench [--seconds N]
//
// Options of Google Benchmark (--benchmark_...), which bench/run.sh passes to every program,
// are ignored. Prints rows "%-50s %-14s %s" (figure, value, note) for the summary table.
// Exit status 1 when the run could not be made.
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/QlnrunSession.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void Row(const std::string& figure, const std::string& value, const std::string& note) {
    std::printf("%-50s %-14s %s\n", figure.c_str(), value.c_str(), note.c_str());
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg.rfind("--benchmark_", 0) != 0) {
            std::fprintf(stderr, "usage: flood_bench [--seconds N]\n");
            return 1;
        }
    }
    // qlnrun is beside this program.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (qEnvironmentVariableIsEmpty("VEX_BIN_DIR"))
        qputenv("VEX_BIN_DIR", QFileInfo(self).absolutePath().toLocal8Bit());
    QTemporaryDir dir;
    const int port = FreePort();
    const QString server = QStringLiteral("%1/tactus_fake_vexserver %2 0 %3 flood-distinct")
                               .arg(qEnvironmentVariable("VEX_BIN_DIR"))
                               .arg(port)
                               .arg(dir.filePath("server.txt"));
    QString machine = ReadText(QStringLiteral(VEX_SOURCE "/examples/TACConfigData.xml"));
    machine.replace(QRegularExpression(QStringLiteral("<CMMPort-IP>[^<]*</CMMPort-IP>")),
                    QStringLiteral("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
    machine.replace(QRegularExpression(QStringLiteral("<StartEXE>[^<]*</StartEXE>")),
                    "<StartEXE>" + server + "</StartEXE>");
    if (!dir.isValid() || !WriteText(dir.filePath("TACConfigData.xml"), machine) ||
        !WriteText(dir.filePath("settings.ini"), "[USER_Tactus]\nVersion=1.2700000000\n")) {
        std::fprintf(stderr, "flood_bench: cannot write the machine folder\n");
        return 1;
    }
    QlnrunSession session;
    if (!session.start({"--headless", "--dir", dir.path(), "--answer", "4739=no"},
                       QlnrunSession::environment({"SETVAULT_INI=" + dir.filePath("settings.ini")}),
                       dir.filePath("qlnrun-stderr.txt")) ||
        !session.waitFor("init-complete", 30s)) {
        std::fprintf(stderr, "flood_bench: qlnrun did not start\n");
        return 1;
    }

    long readouts = 0;
    size_t counted = 0;
    std::vector<double> readMs;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const auto asked = Clock::now();
        session.send("read");
        if (session.waitFor("result .*", 10s))
            readMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        session.waitFor("(?!)", 500ms);  // reads what arrives meanwhile
        const std::vector<std::string>& lines = session.lines();
        for (; counted < lines.size(); ++counted)
            readouts += lines[counted].rfind("readout ", 0) == 0;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long peakKb = ResidentKb(session.pid(), true);
    session.send("quit");
    if (!session.waitForExit(30s) || readMs.empty()) {
        std::fprintf(stderr, "flood_bench: the session did not end normally\n");
        return 1;
    }
    std::sort(readMs.begin(), readMs.end());
    Row("flood: lines drained per second", Format("%.0f /s", readouts / elapsed),
        "UI thread answering reads");
    Row("flood: read answered, median", Format("%.1f ms", readMs[readMs.size() / 2]),
        std::to_string(readMs.size()) + " reads");
    Row("flood: read answered, max", Format("%.1f ms", readMs.back()), "aim <= 1000 ms");
    Row("flood: peak resident memory of qlnrun", Format("%.1f MB", peakKb / 1024.0),
        "aim <= 100 MB");
    return 0;
}
