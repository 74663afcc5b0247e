#pragma once
// HostShell: what qlnrun does as the driver's host. It sets the host stand-in up from the
// command line, loads the driver, calls its entry points for start-up, commands and
// shut-down, and passes every host event the driver causes on as a Qt signal.
//
// Lifecycle: configureHost() and loadDriver() once, then initialize(); execute() any number
// of times; finish() ends the session: it calls driver_close (once, also after a failed
// start-up, so a position server the driver started does not outlive the host) and emits
// finished(). A finish requested while a driver call is running (the driver may sit in a
// modal dialog, whose event loop still delivers signals and input) closes the open dialogs
// and takes effect when the call has returned, never inside it.
//
// Owns the callback object and the tip it hands to the driver; both outlive every request.
// GUI thread only; host events that a driver reports from another thread are passed on
// through the event loop.

#include <QObject>
#include <QString>
#include <deque>
#include <memory>

#include "host/HostCallback.h"
#include "host/HostRecorder.h"
#include "host/HostTip.h"
#include "host/qlnrun/DriverLibrary.h"
#include "host/qlnrun/QlnrunOptions.h"
#include "host/qlnrun/ShellCommand.h"

class HostShell : public QObject {
    Q_OBJECT
  public:
    explicit HostShell(const QlnrunOptions& options, QObject* parent = nullptr);
    ~HostShell() override;

    // Applies the options to the host objects and starts passing host events on.
    void configureHost();
    // False with errorText() when the library or a required entry point is missing.
    bool loadDriver(const QString& path);
    const QString& errorText() const { return error_; }

    // driver_initialize; true when it returned 0.
    bool initialize();
    // Runs one command now; false with a user-facing `error` when it cannot run.
    bool execute(const ShellCommand& command, QString& error);
    // Runs a command from the operator or a script: at once when no driver call is running,
    // otherwise after it (in the order given), except quit, which is never kept waiting.
    // A command that cannot run is reported by commandRefused().
    void submit(const ShellCommand& command);
    // Ends the session with this exit code (see the class comment).
    void finish(int exitCode);

    bool busy() const { return depth_ > 0; }
    bool finished() const { return finished_; }

  signals:
    void hostEvent(const HostEvent& event);
    // A driver call starts (true) or has returned (false).
    void busyChanged(bool busy);
    void finishedWith(int exitCode);
    void commandRefused(const QString& error);

  private:
    template <typename Call>
    void callDriver(Call call);
    void completeFinish();
    void passOn(const HostEvent& event);
    void runWaiting();

    QlnrunOptions options_;
    DriverLibrary driver_;
    HostCallback callback_;
    std::unique_ptr<HostTip> tip_;
    QString error_;
    double lastPoint_[3] = {0.0, 0.0, 0.0};  // latest readout, the target of requests
    std::deque<ShellCommand> waiting_;       // submitted while a driver call was running
    int depth_ = 0;
    bool finishPending_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
};
