#pragma once
// ServerProcess: the real VexServer program in a temporary working directory, for fault
// tests and benchmarks that need the whole program under load.
//
// Start() writes VEX.XML (and VEXENC7480.XML for the card) into a fresh directory, sets
// the simulated machine's motion script, and starts build/bin/VexServer (found through
// VEX_BIN_DIR, else beside the running program) without a display, hidden, on a free
// port. The program's standard output and error go to files in that directory, so a
// chatty server can never block on a full pipe while the caller sits in a socket call.
// The destructor kills a program that is still running.
//
// Needs a QCoreApplication (EnsureQtApplication() makes one); use from one thread.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>

class RawClient;

// Creates the process's QCoreApplication when there is none yet; it lives until exit.
void EnsureQtApplication();

// A port of 127.0.0.1 that was free a moment ago (0 when none could be found).
uint16_t FreeLoopbackPort();

struct ServerOptions {
    QString interfaceName = QStringLiteral("SIMULATOR");
    // Motion script; empty runs the libraries' built-in demo.
    QByteArray script;
    int pollTime = 50;
    // Further VEX.XML children, name and text, e.g. {"BindAddress", "127.0.0.1"}.
    QList<QPair<QString, QString>> extraKeys;
    // Replaces the whole VEX.XML when set (the port is then whatever it says).
    QByteArray serverFileText;
    bool writeServerFile = true;
    // Replaces the card settings written for INTERFACE ENC7480 when set.
    QByteArray cardFileText;
    bool writeCardFile = true;
    // Sets VEXSIM_TOUCH_LOG to touches.log in the working directory.
    bool touchLog = false;
    QStringList arguments;
};

class ServerProcess {
  public:
    using Millis = std::chrono::milliseconds;

    ServerProcess();
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts the program and connects `client` to it on `host`, reading the greeting;
    // on a port taken meanwhile it starts again on another. False when the program does
    // not start, does not listen or does not greet within `timeout`.
    // A receiveBuffer above 0 is the client's SO_RCVBUF (see RawClient::Connect).
    bool StartAndConnect(const ServerOptions& options, RawClient& client, Millis timeout,
                         const char* host = "127.0.0.1", int receiveBuffer = 0);
    // Starts the program without connecting (for programs expected to fail or not to
    // listen on 127.0.0.1).
    bool Start(const ServerOptions& options);

    uint16_t Port() const { return port_; }
    qint64 Pid() const { return process_.processId(); }
    QString WorkingDirectory() const { return dir_.path(); }
    bool IsRunning();
    // Exit code once the program ended by itself; -1 when it crashed or did not end.
    int WaitForExit(Millis timeout);
    void Kill();

    // Everything the program wrote to standard error so far.
    QString Stderr() const;
    // Open descriptors of the running program (entries of /proc/PID/fd); -1 when gone.
    int OpenDescriptors() const;
    // Lines of the touch log (see ServerOptions::touchLog).
    QList<QByteArray> TouchLog() const;

  private:
    bool Prepare(const ServerOptions& options);
    bool Launch(const ServerOptions& options);

    QTemporaryDir dir_;
    QProcess process_;
    uint16_t port_ = 0;
};
