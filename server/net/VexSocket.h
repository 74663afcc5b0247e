#pragma once
// VexSocket: the connection of the one client the server serves.
//
// Created by the listening socket (VexServerSocket) for every incoming connection and
// owned by it (Qt parent). While it waits in the listening socket's queue it ignores
// its notifications; once accepted it passes every receive to the application as one
// VexMessage and sends the server's lines. Runs on the GUI thread; Qt's socket
// notifications drive it:
//   - readyRead: one receive of at most 4095 bytes, handed to VexApp::OnMessage. The
//     socket's read buffer is limited to 4095 bytes, so a flooding client is held back
//     by TCP flow control rather than by server memory.
//   - the client's close (Qt reports end of stream and a reset alike as "remote host
//     closed" followed by disconnected): VexApp::OnClientDisconnected, the slot is
//     released and this socket deleted later.
//   - any other socket error, or a read notification that finds the stream ended or
//     failed: a message box ("ERROR: OnReceive - SOCKET_ERROR" or
//     "ERROR: OnReceive - 0 bytes read"), then the server closes the connection and
//     releases the slot exactly as on the client's close, so the next client is served.
// Sends never report failure to the caller; see Send().

#include <QElapsedTimer>
#include <QTcpSocket>
#include <memory>

class VexApp;
class VexServerSocket;

class VexSocket : public QTcpSocket {
    Q_OBJECT

  public:
    // `app` is not owned and must outlive this socket.
    explicit VexSocket(VexApp* app, QObject* parent = nullptr);
    // Closes the connection without notifying the application.
    ~VexSocket() override;

    // Sends one line "( text ) code" CR LF. Lines are queued in Qt's write buffer and
    // pushed to the system at once. When the client does not read and more than
    // vexproto::kSendBacklogLimit bytes wait already, the send retries every 100 ms for
    // about 2 s in all (blocking the GUI thread, as the server's sends are synchronous)
    // and then drops the line. After such a drop the connection counts as stalled:
    // further lines that do not fit are dropped at once until the client reads again.
    // Whole lines are queued or dropped, never parts. Without a connection the line is
    // dropped.
    void Send(int code, const QByteArray& text);

    // The listening socket that accepted this connection; nullptr while it waits in the
    // queue. Set by VexServerSocket when it makes this socket the current client.
    VexServerSocket* ServerSocket() const { return serverSocket_; }
    void SetServerSocket(VexServerSocket* server);

    // Lines dropped on this connection (diagnostics).
    int DroppedLines() const { return droppedLines_; }

    // Milliseconds since the last receive that was a request, or since the connection
    // was accepted when none was.
    qint64 MillisecondsSinceRequest() const { return lastRequest_.elapsed(); }
    // Closes an accepted connection from the server's side without a message box:
    // the application is told and the slot released, as when the client closes.
    void CloseIdle();

  private:
    void OnReceive();
    void OnClose();
    void OnError(QAbstractSocket::SocketError error);
    // Shows `text` in a message box, then closes the connection from the server's side.
    void CloseAfterFailure(const char* text);
    // Notifies the application and hands the slot back to the listening socket.
    void EndConnection();

    VexApp* app_;
    VexServerSocket* serverSocket_ = nullptr;
    std::unique_ptr<char[]> receiveBuffer_;
    QElapsedTimer lastRequest_;
    bool ended_ = false;    // the connection was closed; its notifications are ignored
    bool stalled_ = false;  // a line was dropped and the backlog has not drained since
    int droppedLines_ = 0;
};
