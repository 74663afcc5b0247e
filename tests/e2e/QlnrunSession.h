#pragma once
// Test harness: one qlnrun --headless process, its event lines, and every process it starts.
//
// Lines are read from qlnrun's stdout and kept in order; waitFor() consumes them up to the
// first line that matches, so successive waits see successive events. Descendant processes
// (the position server the driver starts) are noted while waiting. The destructor makes
// sure nothing survives a failed test: qlnrun gets SIGTERM, then SIGKILL, and every noted
// descendant SIGKILL. The test process becomes a child subreaper so that an orphaned server
// is reparented to it and can be reaped.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <chrono>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

class QlnrunSession {
  public:
    QlnrunSession();
    ~QlnrunSession();

    // The qlnrun program in VEX_BIN_DIR.
    static QString program();
    // The test's environment plus the given variables.
    static QProcessEnvironment environment(const QStringList& assignments);
    // "TSAN_OPTIONS=..." naming a suppressions file written to `folder`, for the programs
    // qlnrun starts under ThreadSanitizer (no effect in other builds); empty when the file
    // cannot be written.
    static QString tsanOptions(const QString& folder);

    bool start(const QStringList& arguments, const QProcessEnvironment& environment,
               const QString& stderrFile);
    // Another program in qlnrun's place (a shell pipeline around it, say).
    bool start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, const QString& stderrFile);
    void send(const std::string& command);
    void closeInput();

    // The next line matching `pattern` (whole line), or nothing when qlnrun ends or time runs
    // out first.
    std::optional<std::string> waitFor(const std::string& pattern,
                                       std::chrono::milliseconds timeout);
    // Exit code, or nothing when qlnrun is still running after `timeout` or crashed.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

    // Every line read so far.
    const std::vector<std::string>& lines() const { return lines_; }
    qint64 pid() const { return process_.processId(); }
    // Descendants named `name` noted so far (running or not).
    std::vector<qint64> descendantsNamed(const std::string& name) const;
    // Notes the current descendants now.
    void noteDescendants();

  private:
    void readLines();

    QProcess process_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
    std::set<std::pair<qint64, std::string>> descendants_;
};

// A whole text file as UTF-8; empty when it cannot be read.
QString ReadText(const QString& path);
// Writes `text` as UTF-8 in place of the file; false when not all of it was written.
bool WriteText(const QString& path, const QString& text);
// A TCP port of 127.0.0.1 nobody listens on now (0 when none could be found); the program
// told to use it binds it a moment later.
int FreePort();

// True while the process exists and is not a zombie; reaps it when it is our zombie child.
bool ProcessAlive(qint64 pid);
// Resident memory of a process in kB: its VmRSS, or with `peak` its VmHWM; 0 when gone.
long ResidentKb(qint64 pid, bool peak = false);
// Waits until ProcessAlive(pid) is false.
bool WaitProcessGone(qint64 pid, std::chrono::milliseconds timeout);
