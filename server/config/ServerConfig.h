#pragma once
// ServerConfig: the server settings read from VEX.XML, with their values before reading.

#include <QString>

struct ServerConfig {
    static constexpr int kDefaultTcpPort = 1390;
    static constexpr int kWindowHidden = 0;
    static constexpr int kWindowShown = 5;
    static constexpr int kDefaultPollTime = 50;

    QString interfaceName = QStringLiteral("ENC7480");  // "ENC7480" or "SIMULATOR"
    int tcpPort = kDefaultTcpPort;
    int windowMode = kWindowHidden;   // kWindowHidden or kWindowShown
    int pollTime = kDefaultPollTime;  // poll timer interval, milliseconds
    // Local address to listen on; empty listens on every local interface (IPv4 and IPv6).
    QString bindAddress;
    // Folder the device library is loaded from; empty leaves it to the library search
    // (docs/configuration.md). A relative folder is taken from the working directory.
    QString deviceLibraryFolder;
};
