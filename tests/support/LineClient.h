#pragma once
// LineClient: a test's own TCP client of the position server, reading its CR LF lines.
//
// Lives on the test's thread; every wait spins that thread's event loop (QTest::qWaitFor),
// so a server in the same process goes on working meanwhile. Nothing throws: on a time-out
// Connect returns false, ReadLine an empty line and Read whatever came.

#include <QtCore/qtestsupport_core.h>
#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

struct LineClient {
    // Generous: the machines that run the tests are shared.
    static constexpr int kWaitMs = 30000;

    QTcpSocket socket;
    QByteArray data;  // received, not yet handed out

    bool Connect(quint16 port) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(kWaitMs);
    }
    // The next complete line, CR LF included; empty when none came in time.
    QByteArray ReadLine() {
        const bool ok = QTest::qWaitFor(
            [this] {
                data += socket.readAll();
                return data.contains("\r\n");
            },
            kWaitMs);
        if (!ok)
            return {};
        const qsizetype end = data.indexOf("\r\n") + 2;
        const QByteArray line = data.left(end);
        data.remove(0, end);
        return line;
    }
    // The next `n` bytes, or what came within the time-out.
    QByteArray Read(qsizetype n) {
        (void)QTest::qWaitFor(
            [&] {
                data += socket.readAll();
                return data.size() >= n;
            },
            kWaitMs);
        const QByteArray got = data.left(n);
        data.remove(0, got.size());
        return got;
    }
    void Write(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
};
