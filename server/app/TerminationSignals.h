#pragma once
// TerminationSignals: SIGTERM and SIGINT as a Qt signal on the GUI thread.
//
// A service manager stops a daemon with SIGTERM and a terminal user with Ctrl+C (SIGINT);
// both must end the server through its normal shut-down, so that the card is closed and
// its library freed. The constructor installs handlers that only write the signal's
// number to a socket pair (the one thing a handler may safely do); a QSocketNotifier on
// the other end emits received() from the event loop. Each handler is installed with
// SA_RESETHAND: a second signal of the same kind ends the process at once, should the
// shut-down hang. The destructor restores the default handlers.
//
// One object per process, created and used on the GUI thread. Failure: when the socket
// pair cannot be made, IsInstalled() is false and the signals keep their default action.

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool IsInstalled() const { return notifier_ != nullptr; }
    // Whether a signal has arrived (and been taken from the socket pair) so far.
    bool Received() const { return received_ != 0; }
    // Its name, "SIGTERM" or "SIGINT"; empty before one arrived.
    QString ReceivedName() const;

  signals:
    void received();

  private:
    void OnReadable();

    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};
