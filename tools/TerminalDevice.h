#pragma once
// tactus-tool's platform adapter for terminal devices (POSIX pseudo-terminals, open and
// access checks): the only tools/ file that includes their headers.
//
// PseudoTerminal gives a driver a serial line to open: the tool keeps the controlling side
// (non-blocking, for a QSocketNotifier) and holds the device side open itself, raw, so the
// line stays up and keeps its settings whatever the driver does with it. A PseudoTerminal
// owns both descriptors and the optional link to the device, and closes or removes them
// when destroyed. One thread; failures are return
// values with a reason.

#include <QString>
#include <optional>
#include <string>

namespace tool {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal();

    // Creates the pair and, when `link` is given, a symbolic link of that name to the device
    // (replacing one an earlier run left); false with *error set when the system refuses.
    bool Open(QString* error, const QString& link = {});
    // The device a driver opens, e.g. /dev/pts/7.
    const std::string& DevicePath() const { return devicePath_; }
    // The controlling side, for a read notifier.
    int Descriptor() const { return control_; }

    // What the driver wrote (up to `capacity` bytes): the count, 0 when nothing is waiting,
    // -1 on an error.
    int Read(char* buffer, int capacity);
    // Writes everything (waiting while the driver's side is full); false on an error.
    bool Write(const char* data, int length);

  private:
    int control_ = -1;
    int device_ = -1;
    std::string devicePath_;
    QString link_;
};

// Why a driver could not open `path` as its serial line (missing, not readable and
// writable by this user, in exclusive use, not a terminal), or nothing when it can.
std::optional<QString> TerminalDeviceProblem(const std::string& path);

}  // namespace tool
