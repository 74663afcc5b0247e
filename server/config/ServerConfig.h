#pragma once
// ServerConfig: the server settings read from VEX.XML, with their values before reading.

#include <QString>

#include "server/net/VexProtocol.h"

struct ServerConfig {
    static constexpr int kDefaultTcpPort = 1390;
    static constexpr int kWindowHidden = 0;
    static constexpr int kWindowShown = 5;
    static constexpr int kDefaultPollTime = 50;
    // POLL_TIME outside this range is clamped to it (and reported): 0 would spin the GUI
    // thread, and a poll every few seconds would miss every touch.
    static constexpr int kMinPollTime = 10;
    static constexpr int kMaxPollTime = 10000;
    // IdleClientTime, seconds: a client that has sent no request for this long gives way
    // to a connection that waits (docs/configuration.md). 0 never drops a client.
    static constexpr int kDefaultIdleClientTime = int(vexproto::kDefaultIdleClientTime.count());
    static constexpr int kMaxIdleClientTime = 3600;

    QString interfaceName = QStringLiteral("ENC7480");  // "ENC7480" or "SIMULATOR"
    int tcpPort = kDefaultTcpPort;
    int windowMode = kWindowHidden;               // kWindowHidden or kWindowShown
    int pollTime = kDefaultPollTime;              // poll timer interval, milliseconds
    int idleClientTime = kDefaultIdleClientTime;  // seconds; 0 = never

    // Local address to listen on; empty listens on every local interface (IPv4 and IPv6).
    QString bindAddress;
    // Folder the device library is loaded from; empty leaves it to the library search
    // (docs/configuration.md). A relative folder is taken from the working directory.
    QString deviceLibraryFolder;
};
