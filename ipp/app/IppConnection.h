#pragma once
// IppConnection: one client's TCP connection to tactus-ipp. It cuts the received bytes into
// lines (refusing a line longer than the protocol allows without keeping it), hands them to
// its IppSession, sends the session's response lines with CR LF, runs the session's
// move-report clock and records both directions in the session log when one is open.
//
// Owns its socket and its session; the server state, the machine and the log belong to the
// server and outlive it. A client that stops reading while more than kMaxUnsent bytes wait
// for it is disconnected, so a stalled client cannot grow the server's memory. Emits
// finished() once when the connection is gone; the server then deletes it. GUI thread.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "ipp/session/IppSession.h"

class QTcpSocket;

namespace sessionrec {
class Writer;
}

class IppConnection : public QObject, public ipp::SessionOutput {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxUnsent = 4 * 1024 * 1024;

    // `log` may be null (no session log).
    IppConnection(QTcpSocket* socket, ipp::ServerState& state, ipp::Machine& machine,
                  sessionrec::Writer* log, QObject* parent = nullptr);
    ~IppConnection() override;

    ipp::IppSession& session() { return session_; }
    // Closes the connection at once (the server is ending).
    void abort();

    // SessionOutput
    void SendLine(const std::string& line) override;
    void StartMoveTimer(double seconds) override;
    void StopMoveTimer() override;
    double Now() const override;

  signals:
    void finished();
    // The session log could not be written; the server stops logging.
    void logFailed(const QString& reason);

  private:
    void readAvailable();
    void record(bool toServer, const QByteArray& bytes);
    void end();

    QTcpSocket* socket_;
    sessionrec::Writer* log_;
    ipp::IppSession session_;
    QTimer moveTimer_;
    QElapsedTimer clock_;
    QByteArray pending_;       // received bytes of the line not yet complete
    QByteArray longStart_;     // the start of a line too long to keep
    bool discarding_ = false;  // inside a line that is too long
    bool ended_ = false;       // nothing more is read or sent
    bool finished_ = false;    // finished() was emitted
};
