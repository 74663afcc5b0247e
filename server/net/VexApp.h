#pragma once
// VexApp: the application interface through which the server's sockets report events.
//
// The server's application object derives from it and overrides the notifications.
// VexApp owns the listening socket (which owns the current client) and the measuring
// device; both live from start-up until StopServer() or the destructor. Everything runs
// on the GUI thread, where the socket notifications arrive from Qt's event loop.
// Failures are not reported through this interface: StartServer()'s result may be
// ignored, sends never report (see VexSocket::Send).
//
// The notifications come in this order of the virtual operations: OnServerStopped from
// the listening socket's destruction, OnClientConnected after a client was accepted
// (the application sends the greeting there), OnClientDisconnected when the connection
// ended (closed by the client or by the server after a receive failure), OnMessage for
// every receive.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <memory>

#include "server/device/VexDevice.h"
#include "server/net/VexMessage.h"
#include "server/net/VexProtocol.h"
#include "server/net/VexStopwatch.h"

class VexServerSocket;

class VexApp {
  public:
    VexApp();
    // Deletes the listening socket (and with it the current client), then the device.
    virtual ~VexApp();

    VexApp(const VexApp&) = delete;
    VexApp& operator=(const VexApp&) = delete;

    // The listening socket was destroyed.
    virtual void OnServerStopped() {}
    // A client was accepted and is now the one being served.
    virtual void OnClientConnected() {}
    // The current client's connection ended; the slot is free again.
    virtual void OnClientDisconnected() {}
    // Reserved: nothing in the server raises it.
    virtual void OnServerReset() {}
    // Reserved hooks kept for the order of the operations; nothing calls them.
    virtual void OnReserved1(int) {}
    virtual void OnReserved2(int) {}
    // One receive from the current client, wrapped with code 0.
    virtual void OnMessage(const VexMessage& message) = 0;

    // Creates the listening socket and starts listening on `address` ("" = all local
    // interfaces) and `port` (0 = any free port). Does nothing when a listening socket
    // already exists. Returns whether listening started; the server runs on without a
    // listener when it did not.
    bool StartServer(const QString& address, int port);
    // How long a client may go without a request while another connection waits
    // (VexServerSocket); takes effect on the listening socket now or when it starts.
    void SetIdleClientTime(std::chrono::milliseconds idle);
    // Closes and deletes the listening socket (and the client), then deletes the device.
    void StopServer();
    bool HasClient() const;
    // Sends one line to the current client; nothing happens without a listening socket.
    void Send(int code, const QByteArray& text);
    // "address (port)" texts of the listening socket; empty without one.
    QString GetServerName() const;
    QString GetClientName() const;

    // The listening socket, or nullptr; owned by this object.
    VexServerSocket* ServerSocket() const { return serverSocket_.get(); }
    // The device, or nullptr; owned by this object.
    VexDevice* Device() const { return device_.get(); }
    void SetDevice(std::unique_ptr<VexDevice> device) { device_ = std::move(device); }

    VexStopwatch& Stopwatch() { return stopwatch_; }
    // Number of requests received since the last reset; kept by the application.
    int ReceivedCount() const { return receivedCount_; }
    void SetReceivedCount(int count) { receivedCount_ = count; }

  protected:
    std::unique_ptr<VexServerSocket> serverSocket_;
    std::unique_ptr<VexDevice> device_;
    VexStopwatch stopwatch_;
    int receivedCount_ = 0;
    std::chrono::milliseconds idleClientTime_ = vexproto::kDefaultIdleClientTime;
};
