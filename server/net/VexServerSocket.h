#pragma once
// VexServerSocket: the server's listening socket; serves one client at a time.
//
// Owned by the application (VexApp), which it does not own. It owns the current client
// (VexSocket) and every connection waiting in its queue; destroying it closes them all
// and then reports VexApp::OnServerStopped. Runs on the GUI thread; Qt's newConnection
// notification is the accept.
//
// One client at a time: while a client is served, a new connection is not served. One
// connection may wait (vexproto::kMaxWaiting), completed by the system and held here; a further
// one is refused, closed at once, so that squatters cannot fill a queue in front of the
// driver (the system's own backlog is 1 and is emptied as connections arrive). When the
// current client leaves, the oldest waiting connection is accepted at once and greeted
// like any other; connections that were closed while waiting are discarded. Accepted
// connections use low delay (no Nagle).
//
// A lone client is never dropped, however quiet (one that only listens for hit notices
// is legitimate). But while a connection waits, a client that has sent no request
// (VexRequestHandler::IsRequest) for the idle time (SetIdleClientTime(), default 30 s)
// is closed, as on a receive failure but without a message box, so the waiting one is
// served.
//
// Failure: Start() returns false when the socket cannot listen; nothing else reports.

#include "server/net/VexProtocol.h"

#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <chrono>
#include <deque>

class QTimer;

class VexApp;
class VexSocket;

class VexServerSocket : public QTcpServer {
    Q_OBJECT

  public:
    // `app` is not owned and must outlive this socket.
    explicit VexServerSocket(VexApp* app);
    // Deletes the current client (closing its connection), then calls OnServerStopped.
    ~VexServerSocket() override;

    // Listens on `address` ("" = all local interfaces, IPv4 and IPv6; otherwise an IP
    // address or a host name) and `port` (0 = a free port, see BoundPort()).
    bool Start(const QString& address, int port);

    // Sends one line on the current client; nothing happens without one.
    void Send(int code, const QByteArray& text);

    // How long a client may go without a request while a connection waits; 0 or less
    // never drops it.
    void SetIdleClientTime(std::chrono::milliseconds idle);
    // Connections refused because one was waiting already (diagnostics).
    int RefusedConnections() const { return refused_; }

    // The client being served, or nullptr; owned by this socket.
    VexSocket* CurrentClient() const { return client_; }
    // "address (port)": the start address and the port listened on (the one the system
    // chose for port 0) until a client is accepted, then the local end of the accepted
    // connection.
    QString ServerName() const { return serverName_; }
    // "address (port)" of the current (or last) client's end.
    QString ClientName() const { return clientName_; }
    // The port actually listened on; 0 when not listening.
    quint16 BoundPort() const { return serverPort(); }

    // Called by the current client when its connection ended: frees the slot, deletes
    // the socket later and accepts the next waiting connection, if any.
    void ReleaseClient(VexSocket* client);

  protected:
    void incomingConnection(qintptr socketDescriptor) override;

  private:
    void OnAccept();
    // Forgets waiting connections whose client gave up.
    void DropGoneWaiting();
    // Closes the current client when it has been idle too long while a connection
    // waits; otherwise sets the timer for the moment it would be.
    void CheckIdleClient();

    VexApp* app_;
    std::deque<QPointer<VexSocket>> waiting_;
    QTimer* idleTimer_;
    std::chrono::milliseconds idleTime_ = vexproto::kDefaultIdleClientTime;
    int refused_ = 0;
    QString address_;
    int port_ = 0;
    QString serverName_;
    QString clientName_;
    VexSocket* client_ = nullptr;
};
