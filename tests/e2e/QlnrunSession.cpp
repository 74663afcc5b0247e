#include "tests/e2e/QlnrunSession.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QThread>
#include <fstream>
#include <map>

#include "tests/support/TsanSuppressions.h"

namespace {

using Clock = std::chrono::steady_clock;

// A /proc file's text; empty when the process is gone (reading it then fails with ESRCH,
// which std::ifstream reports by throwing).
std::string procText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// pid -> (parent pid, name) of every process, from /proc.
std::map<qint64, std::pair<qint64, std::string>> processTable() {
    std::map<qint64, std::pair<qint64, std::string>> table;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        const std::string text = procText("/proc/" + entry.toStdString() + "/stat");
        const size_t open = text.find('(');
        const size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > text.size())
            continue;
        // After ") " come the state letter and the parent pid.
        const qint64 parent = std::atoll(text.c_str() + close + 4);
        table[pid] = {parent, text.substr(open + 1, close - open - 1)};
    }
    return table;
}

}  // namespace

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool WriteText(const QString& path, const QString& text) {
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool ProcessAlive(qint64 pid) {
    if (pid <= 0)
        return false;
    const std::string text = procText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = text.rfind(')');
    if (text.empty() || close == std::string::npos || close + 2 >= text.size())
        return false;
    if (text[close + 2] == 'Z') {
        waitpid(pid_t(pid), nullptr, WNOHANG);  // ours (as subreaper): collect it
        return false;
    }
    return true;
}

long ResidentKb(qint64 pid, bool peak) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string key = peak ? "VmHWM:" : "VmRSS:";
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    return 0;
}

bool WaitProcessGone(qint64 pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (ProcessAlive(pid)) {
        if (Clock::now() > deadline)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QlnrunSession::QlnrunSession() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

QlnrunSession::~QlnrunSession() {
    if (process_.state() != QProcess::NotRunning) {
        noteDescendants();
        process_.terminate();
        if (!process_.waitForFinished(15000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    for (const auto& [pid, name] : descendants_) {
        if (ProcessAlive(pid)) {
            kill(pid_t(pid), SIGKILL);
            WaitProcessGone(pid, std::chrono::seconds(5));
        }
    }
}

QString QlnrunSession::program() {
    return qEnvironmentVariable("VEX_BIN_DIR", QStringLiteral(".")) + QStringLiteral("/qlnrun");
}

QProcessEnvironment QlnrunSession::environment(const QStringList& assignments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& assignment : assignments) {
        const qsizetype equals = assignment.indexOf(u'=');
        environment.insert(assignment.left(equals), assignment.mid(equals + 1));
    }
    return environment;
}

QString QlnrunSession::tsanOptions(const QString& folder) {
    const QString path = QDir(folder).filePath(QStringLiteral("tsan.supp"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kTsanSuppressions) < 0)
        return QString();
    return ("TSAN_OPTIONS=" + qEnvironmentVariable("TSAN_OPTIONS") + " suppressions=" + path)
        .trimmed();
}

bool QlnrunSession::start(const QStringList& arguments, const QProcessEnvironment& environment,
                          const QString& stderrFile) {
    return start(program(), arguments, environment, stderrFile);
}

bool QlnrunSession::start(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, const QString& stderrFile) {
    process_.setProcessEnvironment(environment);
    process_.setStandardErrorFile(stderrFile);
    process_.setReadChannel(QProcess::StandardOutput);
    process_.start(program, arguments);
    return process_.waitForStarted(10000);
}

void QlnrunSession::send(const std::string& command) {
    const std::string line = command + '\n';
    process_.write(line.data(), qint64(line.size()));
    process_.waitForBytesWritten(5000);
}

void QlnrunSession::closeInput() {
    process_.closeWriteChannel();
}

void QlnrunSession::readLines() {
    while (process_.canReadLine()) {
        QByteArray line = process_.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        lines_.push_back(line.toStdString());
    }
}

std::optional<std::string> QlnrunSession::waitFor(const std::string& pattern,
                                                  std::chrono::milliseconds timeout) {
    const std::regex expression(pattern);
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        readLines();
        while (next_ < lines_.size()) {
            const std::string& line = lines_[next_++];
            if (std::regex_match(line, expression))
                return line;
        }
        if (process_.state() == QProcess::NotRunning || Clock::now() > deadline)
            return std::nullopt;
        noteDescendants();
        process_.waitForReadyRead(100);
    }
}

std::optional<int> QlnrunSession::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (process_.state() != QProcess::NotRunning && Clock::now() < deadline) {
        noteDescendants();
        process_.waitForFinished(100);
    }
    readLines();
    if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process_.exitCode();
}

void QlnrunSession::noteDescendants() {
    const qint64 root = process_.processId();
    if (root <= 0)
        return;
    const auto table = processTable();
    std::set<qint64> family{root};
    bool grew = true;
    while (grew) {
        grew = false;
        for (const auto& [pid, entry] : table) {
            if (family.count(entry.first) && family.insert(pid).second) {
                descendants_.insert({pid, entry.second});
                grew = true;
            }
        }
    }
}

std::vector<qint64> QlnrunSession::descendantsNamed(const std::string& name) const {
    std::vector<qint64> found;
    for (const auto& [pid, entry] : descendants_) {
        if (entry == name)
            found.push_back(pid);
    }
    return found;
}
