// Hit latency of the whole chain: from the moment the simulated card latches a touch to the
// moment the host records the hit.
//
// For each drain mode, qlnrun --headless --timestamps loads libTactus.so, which starts
// VexServer with the stand-in simulator running a motion script that touches the same point
// every 0.413 s. The simulator's touch log (VEXSIM_TOUCH_LOG) and qlnrun's hit lines carry
// CLOCK_MONOTONIC times; each hit is paired with the latest touch before it.
//
//   chain_bench [--touches N] [--mode timer|prompt|both] [--poll-time MS]
//               [--request-interval MS]
//
// Modes: "timer" handles received lines only on the driver's poll timer (the driver with
// TACTUS_PROMPT_DRAIN=0); "prompt" is the driver's default, which also handles them as soon as
// the channel has queued them. Options of Google Benchmark (--benchmark_...), which
// bench/run.sh passes to every program, are ignored. Exit status 1 when a run could not be
// made at all; a missed aim is shown in the table, not in the status.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
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

// Seconds between two touches, and the parts of one cycle: up 1 mm, down 1 mm, rest touching.
// The cycle is no multiple of the server's or the driver's period, so successive touches fall
// at every phase of both timers (13 ms further on each time with the default periods).
constexpr double kCycleSeconds = 0.413;
constexpr double kStrokeSpeed = 10.0;  // mm/s: 0.1 s up, 0.1 s down
constexpr double kHoldSeconds = kCycleSeconds - 2.0 / kStrokeSpeed;
// Touches made before the driver is connected are not reported; the script makes this many
// more than asked so that enough fall after the connection.
constexpr int kExtraTouches = 12;
constexpr double kStartPauseSeconds = 3.0;

struct Options {
    int touches = 60;
    bool timer = true;
    bool prompt = true;
    int pollTime = 50;
    int requestInterval = 100;
};

struct Outcome {
    bool ran = false;
    std::string problem;
    std::vector<double> latenciesMs;
    int missed = 0;     // touches after the connection without a hit
    int duplicate = 0;  // further hits paired with a touch that already had one
};

std::string Usage() {
    return "usage: chain_bench [--touches N] [--mode timer|prompt|both] [--poll-time MS] "
           "[--request-interval MS]\n";
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--benchmark_", 0) == 0)
            continue;
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (arg == "--touches") {
            options.touches = std::atoi(value.c_str());
        } else if (arg == "--poll-time") {
            options.pollTime = std::atoi(value.c_str());
        } else if (arg == "--request-interval") {
            options.requestInterval = std::atoi(value.c_str());
        } else if (arg == "--mode") {
            options.timer = value == "timer" || value == "both";
            options.prompt = value == "prompt" || value == "both";
            if (!options.timer && !options.prompt)
                return false;
        } else {
            return false;
        }
    }
    return options.touches >= 1 && options.pollTime >= 1 && options.requestInterval >= 10;
}

QString MotionScript(int touches) {
    QString script = QStringLiteral("scale 50 50 50 360\nhold %1\nstart 0 0 2 0\npause %2\n")
                         .arg(kHoldSeconds)
                         .arg(kStartPauseSeconds);
    for (int i = 0; i < touches; ++i) {
        script += QStringLiteral("move 0 0 1 0 %1\ntouch 0 0 0 0 %1\n").arg(kStrokeSpeed);
    }
    return script;
}

// The monotonic stamp at the end of an event line ("... @T").
std::optional<double> StampOf(const std::string& line) {
    const size_t at = line.rfind(" @");
    if (at == std::string::npos)
        return std::nullopt;
    return std::strtod(line.c_str() + at + 2, nullptr);
}

// Latch times of the touch log ("touch N T x y z w"), in order.
std::vector<double> TouchTimes(const QString& log) {
    std::vector<double> times;
    std::istringstream lines(log.toStdString());
    std::string word;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        int number = 0;
        double time = 0.0;
        if (fields >> word >> number >> time && word == "touch")
            times.push_back(time);
    }
    return times;
}

// Runs one session and pairs its hits with the touches.
Outcome Run(const Options& options, bool prompt, const QString& sourceDir) {
    Outcome outcome;
    QTemporaryDir dir;
    const int port = FreePort();
    if (!dir.isValid() || port == 0) {
        outcome.problem = "no temporary folder or free port";
        return outcome;
    }
    const QString portText = QString::number(port);
    QString machine = ReadText(sourceDir + QStringLiteral("/examples/TACConfigData.xml"));
    const std::pair<const char*, QString> replacements[] = {
        {"<CMMPort-IP>[^<]*</CMMPort-IP>", "<CMMPort-IP>" + portText + "</CMMPort-IP>"},
        {"<RequestInterval>[^<]*</RequestInterval>",
         QStringLiteral("<RequestInterval>%1</RequestInterval>").arg(options.requestInterval)},
    };
    for (const auto& [pattern, text] : replacements) {
        const QRegularExpression expression(QString::fromLatin1(pattern));
        if (!machine.contains(expression)) {
            outcome.problem = "examples/TACConfigData.xml lacks " + std::string(pattern);
            return outcome;
        }
        machine.replace(expression, text);
    }
    const QString vex = QStringLiteral(
                            "<?xml version=\"1.0\"?>\n<VEX>\n  <INTERFACE>SIMULATOR</INTERFACE>\n"
                            "  <TCPPortNumber>%1</TCPPortNumber>\n"
                            "  <WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW>\n"
                            "  <POLL_TIME>%2</POLL_TIME>\n</VEX>\n")
                            .arg(port)
                            .arg(options.pollTime);
    const int scripted = options.touches + kExtraTouches;
    if (!WriteText(dir.filePath("TACConfigData.xml"), machine) ||
        !WriteText(dir.filePath("VEX.XML"), vex) ||
        !WriteText(dir.filePath("touches.vexsim"), MotionScript(scripted))) {
        outcome.problem = "cannot write the session's files";
        return outcome;
    }

    QlnrunSession session;
    const QStringList environment = {
        "SETVAULT_INI=" + dir.filePath("settings.ini"),
        "VEXSIM_SCRIPT=" + dir.filePath("touches.vexsim"),
        "VEXSIM_TOUCH_LOG=" + dir.filePath("touches.log"),
        QStringLiteral("TACTUS_PROMPT_DRAIN=") + (prompt ? "1" : "0"),
    };
    if (!session.start({"--headless", "--timestamps", "--dir", dir.path(), "--answer", "4739=no"},
                       QlnrunSession::environment(environment), dir.filePath("stderr.txt"))) {
        outcome.problem = "qlnrun did not start";
        return outcome;
    }
    const auto connected = session.waitFor("readout .*", 60s);
    if (!connected) {
        outcome.problem = "no position arrived; qlnrun stderr:\n" +
                          ReadText(dir.filePath("stderr.txt")).toStdString();
        return outcome;
    }
    // Let the script run out (it started when the server loaded the simulator, before the
    // first readout), then end the session.
    const auto scriptLength =
        std::chrono::duration<double>(kStartPauseSeconds + scripted * kCycleSeconds + 1.0);
    session.waitFor("\x01", std::chrono::duration_cast<std::chrono::milliseconds>(scriptLength));
    session.send("quit");
    if (session.waitForExit(30s) != 0) {
        outcome.problem = "qlnrun did not end cleanly";
        return outcome;
    }

    const double connectedAt = StampOf(*connected).value_or(0.0);
    std::vector<double> touches;
    for (double t : TouchTimes(ReadText(dir.filePath("touches.log")))) {
        if (t > connectedAt)
            touches.push_back(t);
    }
    std::map<size_t, int> hitsPerTouch;
    for (const std::string& line : session.lines()) {
        if (line.rfind("hit ", 0) != 0)
            continue;
        const std::optional<double> stamp = StampOf(line);
        if (!stamp)
            continue;
        // The latest touch latched before the hit.
        const auto after = std::upper_bound(touches.begin(), touches.end(), *stamp);
        if (after == touches.begin())
            continue;  // a touch from before the connection
        const size_t touch = size_t(after - touches.begin()) - 1;
        if (hitsPerTouch[touch]++ > 0) {
            ++outcome.duplicate;
            continue;
        }
        if (int(outcome.latenciesMs.size()) < options.touches)
            outcome.latenciesMs.push_back((*stamp - touches[touch]) * 1000.0);
    }
    for (size_t touch = 0; touch < touches.size(); ++touch) {
        if (!hitsPerTouch.count(touch))
            ++outcome.missed;
    }
    outcome.ran = !outcome.latenciesMs.empty();
    if (!outcome.ran)
        outcome.problem = "no hit could be paired with a touch";
    return outcome;
}

// Nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank = size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

void PrintRow(const std::string& figure, const std::string& value, const std::string& bound) {
    std::printf("%-50s %-14s %s\n", figure.c_str(), value.c_str(), bound.c_str());
}

std::string Ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    return text;
}

void Report(const char* label, const Outcome& outcome, const std::string& p99Aim, double aim) {
    if (!outcome.ran) {
        PrintRow(std::string(label) + ": not measured", outcome.problem, "");
        return;
    }
    std::vector<double> sorted = outcome.latenciesMs;
    std::sort(sorted.begin(), sorted.end());
    const double p99 = Percentile(sorted, 0.99);
    PrintRow(std::string(label) + ": median", Ms(Percentile(sorted, 0.5)), "");
    PrintRow(std::string(label) + ": p99", Ms(p99),
             p99Aim + (aim > 0.0 && p99 > aim ? "  AIM MISSED" : ""));
    PrintRow(std::string(label) + ": max", Ms(sorted.back()), "");
    PrintRow(std::string(label) + ": hits timed / missed / twice",
             std::to_string(sorted.size()) + " / " + std::to_string(outcome.missed) + " / " +
                 std::to_string(outcome.duplicate),
             "every touch once");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(Usage().c_str(), stderr);
        return 2;
    }
    // The programs are beside this one; examples/ is in the source tree this was built from.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (qEnvironmentVariableIsEmpty("VEX_BIN_DIR"))
        qputenv("VEX_BIN_DIR", QFileInfo(self).absolutePath().toLocal8Bit());
    const QString sourceDir = qEnvironmentVariable("VEX_SOURCE_DIR", QStringLiteral(VEX_SOURCE));

    Outcome timer, prompt;
    if (options.timer)
        timer = Run(options, false, sourceDir);
    if (options.prompt)
        prompt = Run(options, true, sourceDir);

    const int bound = options.pollTime + 2 * options.requestInterval;
    const int aim = options.pollTime + 15;
    std::printf(
        "Hit latency, touch latched -> hit recorded by the host (POLL_TIME %d ms, "
        "RequestInterval %d ms, %d touches %.3f s apart)\n",
        options.pollTime, options.requestInterval, options.touches, kCycleSeconds);
    PrintRow("figure", "value", "bound/aim");
    if (options.timer)
        Report("timer drain (before)", timer,
               "bound " + std::to_string(bound) + " ms (POLL_TIME + 2 x RequestInterval)", 0.0);
    if (options.prompt)
        Report("prompt drain (after)", prompt,
               "aim <= " + std::to_string(aim) + " ms (POLL_TIME + 15 ms)", aim);
    const bool failed = (options.timer && !timer.ran) || (options.prompt && !prompt.ran);
    return failed ? 1 : 0;
}
