// Touch latency through tactus-ipp: from the moment the simulated card latches a touch to the
// moment an I++ DME client receives its E0000 PtMeas event, beside the latency of the same
// touches to the host in qlnrun, measured in the same run.
//
// Both runs use one motion script that touches the same point every 0.413 s, with the
// stand-in simulator behind VexServer behind libTactus.so. The simulator's touch log
// (VEXSIM_TOUCH_LOG), qlnrun's --timestamps and this program's own client stamp with
// CLOCK_MONOTONIC; each hit or event is paired with the latest touch before it.
//
//   ipp_bench [--touches N]
//
// Options of Google Benchmark (--benchmark_...), which bench/run.sh passes to every program,
// are ignored. Exit status 1 when a run could not be made; a missed aim shows in the table.
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/QlnrunSession.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A cycle that is no multiple of the server's or the driver's period, so touches fall at
// every phase of both timers; 0.1 s up, 0.1 s down, then resting on the surface.
constexpr double kCycleSeconds = 0.413;
constexpr double kStartPauseSeconds = 4.0;
constexpr int kExtraTouches = 12;  // made before the client is there, not counted
constexpr double kAimMs = 2.0;     // beyond qlnrun's latency to its host

struct Outcome {
    std::string problem;
    std::vector<double> latenciesMs;
    int missed = 0;
    int twice = 0;
};

double Seconds(Clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

QString Script(int touches) {
    QString script = QStringLiteral("hold %1\nstart 0 0 2 0\npause %2\n")
                         .arg(kCycleSeconds - 0.2)
                         .arg(kStartPauseSeconds);
    for (int i = 0; i < touches; ++i)
        script += QStringLiteral("move 0 0 1 0 10\ntouch 0 0 0 0 10\n");
    return script + QStringLiteral("pause 2\n");
}

std::vector<double> TouchTimes(const QString& log) {
    std::vector<double> times;
    std::istringstream lines(log.toStdString());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string word;
        int number = 0;
        double time = 0.0;
        if (fields >> word >> number >> time && word == "touch")
            times.push_back(time);
    }
    return times;
}

// Pairs arrival times with the latest touch latched after `from` and before each.
void Pair(const std::vector<double>& arrivals, const QString& touchLog, double from, int wanted,
          Outcome& outcome) {
    std::vector<double> touches;
    for (double t : TouchTimes(touchLog)) {
        if (t > from)
            touches.push_back(t);
    }
    std::map<size_t, int> seen;
    for (double arrival : arrivals) {
        const auto after = std::upper_bound(touches.begin(), touches.end(), arrival);
        if (after == touches.begin())
            continue;
        const size_t touch = size_t(after - touches.begin()) - 1;
        if (seen[touch]++ > 0)
            ++outcome.twice;
        else if (int(outcome.latenciesMs.size()) < wanted)
            outcome.latenciesMs.push_back((arrival - touches[touch]) * 1000.0);
    }
    for (size_t touch = 0; touch < touches.size(); ++touch)
        outcome.missed += seen.count(touch) ? 0 : 1;
    if (outcome.latenciesMs.empty())
        outcome.problem = "no hit could be paired with a touch";
}

// A machine folder with both programs' files on a free port.
bool WriteFolder(const QTemporaryDir& dir, int touches, std::string& problem) {
    const int port = FreePort();
    QString machine = ReadText(qEnvironmentVariable("VEX_SOURCE_DIR", QStringLiteral(VEX_SOURCE)) +
                               "/examples/TACConfigData.xml");
    machine.replace(QRegularExpression("<CMMPort-IP>[^<]*</CMMPort-IP>"),
                    QStringLiteral("<CMMPort-IP>%1</CMMPort-IP>").arg(port));
    const QString vex = QStringLiteral(
                            "<VEX><INTERFACE>SIMULATOR</INTERFACE><TCPPortNumber>%1"
                            "</TCPPortNumber><WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW></VEX>\n")
                            .arg(port);
    if (port == 0 || !dir.isValid() || !machine.contains("CMMPort-IP") ||
        !WriteText(dir.filePath("TACConfigData.xml"), machine) ||
        !WriteText(dir.filePath("VEX.XML"), vex) ||
        !WriteText(dir.filePath("touches.vexsim"), Script(touches + kExtraTouches))) {
        problem = "cannot write the machine folder";
        return false;
    }
    return true;
}

QProcessEnvironment Environment(const QTemporaryDir& dir) {
    return QlnrunSession::environment({"SETVAULT_INI=" + dir.filePath("settings.ini"),
                                       "VEXSIM_SCRIPT=" + dir.filePath("touches.vexsim"),
                                       "VEXSIM_TOUCH_LOG=" + dir.filePath("touches.log")});
}

std::chrono::milliseconds ScriptLength(int touches) {
    return std::chrono::milliseconds(
        qint64((kStartPauseSeconds + (touches + kExtraTouches) * kCycleSeconds + 2.0) * 1000));
}

Outcome RunQlnrun(int touches) {
    Outcome outcome;
    QTemporaryDir dir;
    if (!WriteFolder(dir, touches, outcome.problem))
        return outcome;
    QlnrunSession qlnrun;
    if (!qlnrun.start({"--headless", "--timestamps", "--dir", dir.path(), "--answer", "4739=no"},
                      Environment(dir), dir.filePath("stderr.txt"))) {
        outcome.problem = "qlnrun did not start";
        return outcome;
    }
    const auto first = qlnrun.waitFor("readout .*", 60s);
    if (!first) {
        outcome.problem = "qlnrun got no position";
        return outcome;
    }
    qlnrun.waitFor("\x01", ScriptLength(touches));
    qlnrun.send("quit");
    qlnrun.waitForExit(30s);
    auto stamp = [](const std::string& line) {
        const size_t at = line.rfind(" @");
        return at == std::string::npos ? 0.0 : std::strtod(line.c_str() + at + 2, nullptr);
    };
    std::vector<double> arrivals;
    for (const std::string& line : qlnrun.lines()) {
        if (line.rfind("hit ", 0) == 0)
            arrivals.push_back(stamp(line));
    }
    Pair(arrivals, ReadText(dir.filePath("touches.log")), stamp(*first), touches, outcome);
    return outcome;
}

Outcome RunIpp(int touches) {
    Outcome outcome;
    QTemporaryDir dir;
    if (!WriteFolder(dir, touches, outcome.problem))
        return outcome;
    const int port = FreePort();
    QlnrunSession ipp;
    if (!ipp.start(qEnvironmentVariable("VEX_BIN_DIR") + "/tactus-ipp",
                   {"--dir", dir.path(), "--port", QString::number(port), "--answer", "4739=no"},
                   Environment(dir), dir.filePath("stderr.txt"))) {
        outcome.problem = "tactus-ipp did not start";
        return outcome;
    }
    QTcpSocket client;
    const auto deadline = Clock::now() + 60s;
    do {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, quint16(port));
    } while (!client.waitForConnected(1000) && Clock::now() < deadline &&
             !ipp.waitForExit(200ms));
    if (client.state() != QAbstractSocket::ConnectedState) {
        outcome.problem = "tactus-ipp did not listen";
        return outcome;
    }
    client.write("00001 StartSession()\r\n00002 EnableUser()\r\n");
    // Read as lines arrive, stamping each at once; the session is enabled at "00002 %".
    std::vector<double> arrivals;
    std::optional<double> enabledAt;
    QByteArray pending;
    const auto end = Clock::now() + ScriptLength(touches);
    while (Clock::now() < end) {
        if (!client.waitForReadyRead(100))
            continue;
        const double now = Seconds(Clock::now());
        pending += client.readAll();
        for (qsizetype at = pending.indexOf("\r\n"); at >= 0; at = pending.indexOf("\r\n")) {
            const QByteArray line = pending.left(at);
            pending.remove(0, at + 2);
            if (line.startsWith("E0000 # PtMeas("))
                arrivals.push_back(now);
            else if (line == "00002 %")
                enabledAt = now;
        }
    }
    if (!enabledAt) {
        outcome.problem = "the session did not start";
        return outcome;
    }
    Pair(arrivals, ReadText(dir.filePath("touches.log")), *enabledAt, touches, outcome);
    return outcome;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

void Row(const std::string& figure, const std::string& value, const std::string& note) {
    std::printf("%-50s %-14s %s\n", figure.c_str(), value.c_str(), note.c_str());
}

std::string Ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int touches = 60;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--touches" && i + 1 < argc) {
            touches = std::max(1, std::atoi(argv[++i]));
        } else if (arg.rfind("--benchmark_", 0) != 0) {
            std::fputs("usage: ipp_bench [--touches N]\n", stderr);
            return 2;
        }
    }
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (qEnvironmentVariableIsEmpty("VEX_BIN_DIR"))
        qputenv("VEX_BIN_DIR", QFileInfo(self).absolutePath().toLocal8Bit());

    const Outcome host = RunQlnrun(touches);
    const Outcome ipp = RunIpp(touches);
    std::printf("Touch latency, touch latched -> received (%d touches %.3f s apart)\n", touches,
                kCycleSeconds);
    Row("figure", "value", "baseline/aim");
    bool failed = false;
    for (const auto& [label, outcome] :
         {std::pair<const char*, const Outcome&>{"qlnrun host hit", host},
          std::pair<const char*, const Outcome&>{"tactus-ipp event", ipp}}) {
        if (!outcome.problem.empty()) {
            Row(std::string(label) + ": not measured", outcome.problem, "");
            failed = true;
            continue;
        }
        const bool isIpp = &outcome == &ipp && host.problem.empty();
        for (const auto& [name, fraction] : {std::pair{"median", 0.5}, std::pair{"p99", 0.99}}) {
            const double value = Percentile(outcome.latenciesMs, fraction);
            std::string note;
            if (isIpp) {
                const double base = Percentile(host.latenciesMs, fraction);
                note = "qlnrun " + Ms(base) + ", aim <= +" + Ms(kAimMs) +
                       (value - base <= kAimMs ? " met" : " NOT MET");
            }
            Row(std::string(label) + ": " + name, Ms(value), note);
        }
        Row(std::string(label) + ": touches timed / missed / twice",
            std::to_string(outcome.latenciesMs.size()) + " / " + std::to_string(outcome.missed) +
                " / " + std::to_string(outcome.twice),
            "every touch once");
    }
    return failed ? 1 : 0;
}
