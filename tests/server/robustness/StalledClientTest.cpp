// A client that stops reading while the server keeps producing lines for it: it sends
// "HIT" requests one by one, paced so that most arrive as receives of their own, and
// reads nothing, with a fixed receive buffer, while the machine touches a surface about
// every 0.65 s. The server's output for it backs up (several MB of socket buffers, then
// the server's own 64 KiB), its send waits a bounded time and then drops lines, and its
// poll timer must keep running through it all.
//
// Only one client is served at a time, so nobody else can ask the server during the
// stall. The evidence that polling went on is the simulator's touch log: a touch is
// written there only when the server next calls the device library, so a touch that
// latched during the stall and is in the log before the stall ends was seen by a poll
// made during the stall. The moment the server's output overflowed shows from outside:
// while its send waits, it stops reading and the client's requests pile up unread at
// the server (its socket's receive queue). The stall lasts 10 s, longer if needed so
// that at least 6 s follow that moment, and the touches polled from 3 s after it (the
// bounded wait with a margin) to the end must be there. Afterwards the stalled client
// reads again and must get fresh, changing positions and one of the latest hits; then it
// leaves and the next client must be served the same way.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_stalled_client_test");

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
using Seconds = std::chrono::duration<double>;

constexpr Millis kWait{60000};
constexpr double kStall = 10.0;     // seconds without reading, at least
constexpr double kMaxStall = 20.0;  // when the output never overflows
constexpr double kAfterOverflow = 6.0;
constexpr double kSendGiveUp = 3.0;  // the server's bounded send wait (~2 s) and a margin
constexpr int kTouchPoints = 16;
// The stalled client's receive buffer: fixed, so that the server's output overflows within
// seconds rather than after the system grew it to many MB.
constexpr int kReceiveBuffer = 256 * 1024;
// Bytes of requests the server may have waiting unread before the flood holds back.
constexpr long kUnreadLimit = 6000;

// Touches at x = -900010, -900020, ... (so every hit tells which touch it was, and the
// answers are long: 96 bytes for "HIT"), approached from above, one every 0.65 s; then
// back to the start and again.
QByteArray TouchScript() {
    const QByteArray far = "-900000";
    QByteArray script = "start " + far + " " + far + " -899990 " + far + "\n";
    for (int k = 1; k <= kTouchPoints; ++k) {
        const QByteArray x = QByteArray::number(-900000 - 10 * k);
        script += "move " + x + " " + far + " -899990 " + far + " 100\n";
        script += "touch " + x + " " + far + " " + far + " " + far + " 40\n";
    }
    script += "move " + far + " " + far + " -899990 " + far + " 400\nrepeat\n";
    return script;
}

struct Touch {
    double time;  // monotonic seconds, the clock of std::chrono::steady_clock
    double x;
};

std::vector<Touch> Touches(const ServerProcess& server) {
    std::vector<Touch> touches;
    for (const QByteArray& line : server.TouchLog()) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() >= 5 && f[0] == "touch")
            touches.push_back({f[2].toDouble(), f[3].toDouble()});
    }
    return touches;
}

// Bytes the server received on the connection from `clientPort` and has not read yet
// (its socket's receive queue in /proc/net/tcp6 or tcp); -1 when the connection is not
// listed. Lets the test flood no faster than the server reads, however slow its build.
long ServerUnreadBytes(uint16_t serverPort, uint16_t clientPort) {
    const auto hexPort = [](uint16_t port) {
        return ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    };
    const QByteArray local = hexPort(serverPort), remote = hexPort(clientPort);
    for (const char* table : {"/proc/net/tcp6", "/proc/net/tcp"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            // sl, local, remote, state (01 established), tx_queue:rx_queue
            if (f.size() > 4 && f[1].endsWith(local) && f[2].endsWith(remote) && f[3] == "01")
                return f[4].mid(f[4].indexOf(':') + 1).toLong(nullptr, 16);
        }
    }
    return -1;
}

double Now() {
    return Seconds(Clock::now().time_since_epoch()).count();
}

// Reads until nothing has arrived for half a second and throws it away; the bytes read.
long DrainUntilQuiet(RawClient& client) {
    long total = 0;
    for (auto deadline = Clock::now() + kWait; Clock::now() < deadline;) {
        bool ended = false;
        const long n = client.Drain(&ended);
        total += n;
        if (ended)
            break;
        if (n == 0) {
            QThread::msleep(500);
            const long more = client.Drain();
            total += more;
            if (more == 0)
                break;
        }
        client.Buffer().clear();
    }
    client.Buffer().clear();
    return total;
}

// Like a driver: a request without an answer within 2 s is sent again. Right after a
// stall the server may still drop an answer (its output has not drained yet) or join
// the request to unread bytes.
std::optional<std::string> AskAgainAndAgain(RawClient& client, const char* request, int code) {
    for (auto deadline = Clock::now() + kWait; Clock::now() < deadline;) {
        if (auto answer = client.Ask(request, code, Millis(2000)))
            return answer;
    }
    return std::nullopt;
}

// Positions change from one request to the next (the machine never stands still for
// long) and the last hit is one of the latest touches.
void ExpectLive(RawClient& client, const ServerProcess& server, const char* who) {
    SCOPED_TRACE(who);
    std::vector<std::string> positions;
    for (int i = 0; i < 6; ++i) {
        const auto p = AskAgainAndAgain(client, "POS", 235);
        ASSERT_TRUE(p.has_value()) << "no answer to POS";
        if (positions.empty() || positions.back() != *p)
            positions.push_back(*p);
        QThread::msleep(150);
    }
    EXPECT_GE(positions.size(), 3u) << "positions did not follow the machine";
    // Before the first hit the answer is zeros.
    std::optional<std::string> hit;
    double x = 0.0;
    for (auto deadline = Clock::now() + kWait; x == 0.0 && Clock::now() < deadline;) {
        hit = AskAgainAndAgain(client, "HIT", 237);
        ASSERT_TRUE(hit.has_value()) << "no answer to HIT";
        x = QByteArray::fromStdString(*hit).split(' ').front().toDouble();
        if (x == 0.0)
            QThread::msleep(100);
    }
    // The log, read after the answer, holds every touch the server can have seen; a poll
    // may miss a touch on a loaded machine, so one of the latest three will do.
    const std::vector<Touch> touches = Touches(server);
    bool recent = false;
    for (std::size_t k = touches.size() >= 3 ? touches.size() - 3 : 0; k < touches.size(); ++k)
        recent = recent || touches[k].x == x;
    EXPECT_TRUE(recent) << "the hit " << *hit << " is not one of the latest touches";
}

TEST(StalledClient, PollingGoesOnAndTheServerRecovers) {
    ServerProcess server;
    RawClient stalled;
    ServerOptions options;
    options.script = TouchScript();
    options.touchLog = true;
    ASSERT_TRUE(server.StartAndConnect(options, stalled, kWait, "127.0.0.1", kReceiveBuffer))
        << server.Stderr().toStdString();
    ExpectLive(stalled, server, "before the stall");

    // The stall: requests, never a read. Every 50 ms the test looks at the touch log and
    // at whether the server still reads.
    const double start = Now();
    long requests = 0, refused = 0;
    double overflow = -1.0;  // when the server first stopped reading, seconds into the stall
    std::size_t logged = Touches(server).size();
    double lastNewLine = start, longestQuiet = 0.0, lastLook = -1.0;
    bool reading = true;
    const uint16_t clientPort = stalled.LocalPort();
    for (;;) {
        const double t = Now() - start;
        if (t >= (overflow < 0 ? kMaxStall : std::max(kStall, overflow + kAfterOverflow)))
            break;
        if (Now() - lastLook >= 0.05) {
            lastLook = Now();
            const long unread = ServerUnreadBytes(server.Port(), clientPort);
            ASSERT_GE(unread, 0) << "the stalled connection is gone";
            reading = unread < kUnreadLimit;
            if (!reading && overflow < 0)
                overflow = t;
            const std::size_t now = Touches(server).size();
            if (now != logged) {
                longestQuiet = std::max(longestQuiet, Now() - lastNewLine);
                lastNewLine = Now();
                logged = now;
            }
        }
        if (!reading) {
            std::this_thread::sleep_for(Millis(1));
            continue;
        }
        const long n = stalled.TrySend("HIT");
        ASSERT_GE(n, 0) << "the server dropped the stalled connection";
        n == 3 ? ++requests : ++refused;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    const double end = Now();
    longestQuiet = std::max(longestQuiet, end - lastNewLine);
    const double from = start + (overflow < 0 ? kStall / 2 : overflow + kSendGiveUp);
    int polledLate = 0;
    for (const Touch& t : Touches(server))
        polledLate += t.time >= from && t.time <= end;
    EXPECT_GE(polledLate, 2) << "the device was not polled in the last " << end - from
                             << " s of the stall";
    EXPECT_TRUE(server.IsRunning());

    // The client reads again: what was queued for it arrives, then fresh answers.
    const long backlog = DrainUntilQuiet(stalled);
    ExpectLive(stalled, server, "the stalled client reading again");
    stalled.Close();

    RawClient next;
    ASSERT_TRUE(next.Connect(server.Port(), kWait));
    EXPECT_EQ(next.ReadLine(kWait).value_or("(none)"), "( VEXVersion:20 ) 240\r\n");
    ExpectLive(next, server, "the next client");
    EXPECT_TRUE(server.IsRunning());
    const QString errors = server.Stderr();
    EXPECT_FALSE(errors.contains(QLatin1String("Sanitizer"))) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QLatin1String("runtime error"))) << errors.toStdString();

    std::printf(
        "stall of %.1f s: %ld HIT requests written (%ld refused); the server's output "
        "overflowed %.2f s into it; %ld bytes read afterwards; %d touches polled in the "
        "last %.1f s; longest time without a new touch in the log %.2f s\n",
        end - start, requests, refused, overflow, backlog, polledLate, end - from, longestQuiet);
    ASSERT_TRUE(next.SendAll("EXI", kWait));
    EXPECT_EQ(server.WaitForExit(kWait), 0);
}

}  // namespace
