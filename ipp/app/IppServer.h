#pragma once
// IppServer: the listening side of tactus-ipp. It serves one client at a time, sessions one
// after the other, all with the same running driver; a client that connects while another
// is served gets one error line ("E0000 ! Error(3, 0008, "Connect", "Protocol error")") and
// is disconnected. It passes the machine's touches, measurements and positions to the
// session of the connected client.
//
// Owns the listening socket and the current connection; the server state, the machine and
// the session log are the caller's and must outlive it. GUI thread. Failures: listen()
// returns false with errorString().

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include "ipp/app/IppConnection.h"

class DriverHost;

class IppServer : public QObject {
    Q_OBJECT
  public:
    IppServer(ipp::ServerState& state, DriverHost& machine, sessionrec::Writer* log,
              QObject* parent = nullptr);
    ~IppServer() override;

    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return server_.errorString(); }
    quint16 port() const { return server_.serverPort(); }
    // Stops listening and drops the client.
    void stop();

  signals:
    void logFailed(const QString& reason);

  private:
    void accept();

    ipp::ServerState& state_;
    DriverHost& machine_;
    sessionrec::Writer* log_;
    QTcpServer server_;
    QPointer<IppConnection> connection_;
};
