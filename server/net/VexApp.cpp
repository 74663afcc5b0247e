#include "server/net/VexApp.h"

#include "server/net/VexServerSocket.h"

VexApp::VexApp() = default;

VexApp::~VexApp() {
    // The listening socket's destructor reports OnServerStopped; during destruction that
    // reaches this class's own (empty) version, never a derived one already destroyed.
    serverSocket_.reset();
    device_.reset();
}

bool VexApp::StartServer(const QString& address, int port) {
    if (serverSocket_)
        return serverSocket_->isListening();
    serverSocket_ = std::make_unique<VexServerSocket>(this);
    serverSocket_->SetIdleClientTime(idleClientTime_);
    return serverSocket_->Start(address, port);
}

void VexApp::SetIdleClientTime(std::chrono::milliseconds idle) {
    idleClientTime_ = idle;
    if (serverSocket_)
        serverSocket_->SetIdleClientTime(idle);
}

void VexApp::StopServer() {
    if (serverSocket_) {
        serverSocket_->close();
        serverSocket_.reset();
    }
    device_.reset();
}

bool VexApp::HasClient() const {
    return serverSocket_ && serverSocket_->CurrentClient() != nullptr;
}

void VexApp::Send(int code, const QByteArray& text) {
    if (serverSocket_)
        serverSocket_->Send(code, text);
}

QString VexApp::GetServerName() const {
    return serverSocket_ ? serverSocket_->ServerName() : QString();
}

QString VexApp::GetClientName() const {
    return serverSocket_ ? serverSocket_->ClientName() : QString();
}
