#pragma once
// SignalWatcher: turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the GUI thread.
//
// The handler only writes the signal number into a pipe (the self-pipe pattern); a socket
// notifier reads it in the event loop, so all shut-down work runs on the host's UI thread
// where the driver expects it. SIGPIPE is ignored so that a reader that goes away makes
// writes fail instead of ending the process before the driver is closed. One instance per
// process; construction fails silently (no watcher) when the pipe cannot be made.

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject {
    Q_OBJECT
  public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

  signals:
    void signalled(int number);

  private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};
