#pragma once
// VexServerSocket: the server's listening socket; serves one client at a time.
//
// Owned by the application (VexApp), which it does not own. It owns the current client
// (VexSocket) and every connection waiting in its queue; destroying it closes them all
// and then reports VexApp::OnServerStopped. Runs on the GUI thread; Qt's newConnection
// notification is the accept.
//
// One client at a time: while a client is served, a new connection is not accepted.
// It waits, completed by the system, in the queue (one connection in Qt's queue, then
// the system's backlog of 1; attempts beyond that wait in the client's connect or
// fail there). When the current client leaves, the oldest waiting connection is
// accepted at once and greeted like any other; connections that were closed while
// waiting are discarded. Accepted connections use low delay (no Nagle).
//
// Failure: Start() returns false when the socket cannot listen; nothing else reports.

#include <QString>
#include <QTcpServer>

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

    // The client being served, or nullptr; owned by this socket.
    VexSocket* CurrentClient() const { return client_; }
    // "address (port)": the start address and port until a client is accepted, then
    // the local end of the accepted connection.
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

    VexApp* app_;
    QString address_;
    int port_ = 0;
    QString serverName_;
    QString clientName_;
    VexSocket* client_ = nullptr;
};
