// The server's protocol over real loopback connections: a VexApp with the request
// handler listens on an ephemeral port of 127.0.0.1 and QTcpSocket clients talk to it,
// all on this thread's Qt event loop.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QtCore/qtestsupport_core.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "server/net/VexApp.h"
#include "server/net/VexFormat.h"
#include "server/net/VexProtocol.h"
#include "server/net/VexRequestHandler.h"
#include "server/net/VexServerSocket.h"
#include "server/net/VexSocket.h"
#include "tests/support/LineClient.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

constexpr int kWaitMs = 20000;  // generous: the machine is shared

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_net_test");

// The application side as the server's application object does it: greets every
// accepted client and passes every receive to the request handler.
class TestApp : public VexApp {
  public:
    TestApp()
        : handler(this, {[this] { return records; }, [this] { return alwaysMonitor; },
                         [this](const QString& text) { log << text; }, [this] { ++closePosts; }}) {}

    void OnServerStopped() override { events.push_back("stopped"); }
    void OnClientConnected() override {
        events.push_back("connected");
        Send(vexproto::kCodeVersion, VexFormat(vexproto::kVersionFormat, vexproto::kVersion));
    }
    void OnClientDisconnected() override { events.push_back("disconnected"); }
    void OnMessage(const VexMessage& message) override {
        received.push_back(message.Text());
        receivedBytes += message.Text().size();
        handler.HandleRequest(message.Text());
    }

    int Count(const std::string& event) const {
        return int(std::count(events.begin(), events.end(), event));
    }

    VexRecords records;
    bool alwaysMonitor = false;
    QStringList log;
    int closePosts = 0;
    std::vector<std::string> events;
    std::vector<QByteArray> received;
    qint64 receivedBytes = 0;
    VexRequestHandler handler;
};

using Client = LineClient;

const QByteArray kGreeting = "( VEXVersion:20 ) 240\r\n";
const QByteArray kZeroPosition = "( 0.000000 0.000000 0.000000 0.000000 ) 235\r\n";

class VexNetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(app.StartServer("127.0.0.1", 0));
        port = app.ServerSocket()->BoundPort();
        ASSERT_NE(port, 0);
    }

    // Connects a client and reads its greeting.
    void ConnectGreeted(Client& client) {
        ASSERT_TRUE(client.Connect(port));
        ASSERT_EQ(client.ReadLine(), kGreeting);
    }
    // Sends one request and waits until the server has received all of it.
    void Request(Client& client, const QByteArray& text) {
        const qint64 target = app.receivedBytes + text.size();
        client.Write(text);
        ASSERT_TRUE(QTest::qWaitFor([&] { return app.receivedBytes >= target; }, kWaitMs));
    }
    // Everything the client got until the answer to a "POS" sent now; the last line of
    // the result is that answer.
    QByteArray UntilPositionAnswer(Client& client) {
        Request(client, "POS");
        QByteArray got;
        for (QByteArray line = client.ReadLine(); !line.isEmpty(); line = client.ReadLine()) {
            got += line;
            if (line.endsWith(" ) 235\r\n"))
                break;
        }
        return got;
    }
    bool WaitForEvent(const std::string& event, int count) {
        return QTest::qWaitFor([&] { return app.Count(event) >= count; }, kWaitMs);
    }

    TestApp app;
    quint16 port = 0;
};

TEST(VexMessageLine, FormatAndCutAt1023Bytes) {
    const QByteArray fits(1013, 'a');  // 1013 + "( " + " ) 240\r\n" = 1023 bytes
    struct Row {
        const char* legend;
        QByteArray text;
        int code;
        QByteArray expected;
    } rows[] = {
        {"hit notice", "HIT", 241, "( HIT ) 241\r\n"},
        {"empty text", "", 235, "(  ) 235\r\n"},
        {"text ends at a zero byte", QByteArray("AB\0CD", 5), 240, "( AB ) 240\r\n"},
        {"longest complete line", fits, 240, "( " + fits + " ) 240\r\n"},
        {"one byte more loses the LF", fits + "a", 240, "( " + fits + "a ) 240\r"},
        {"long text cut at 1023", QByteArray(5000, 'b'), 237, "( " + QByteArray(1021, 'b')},
    };
    for (const Row& row : rows)
        EXPECT_EQ(VexMessage(row.text, row.code).Line(), row.expected) << row.legend;
}

// The answers' numbers are built without printf; they must be its "%lf" to the byte:
// negative zero, ties at the seventh decimal (to even), inf, nan, the extremes, and
// random bit patterns and positions.
TEST(VexFormatFixed, WritesWhatPrintfWrites) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0,       -0.0,         -4e-7,        0.0078125, -0.0078125,
                                  1.0000005, 1e300,        -1e308,       4.9e-324,  inf,
                                  -inf,      std::nan(""), -std::nan("")};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const uint64_t bits = rng();
        values.push_back(std::bit_cast<double>(bits));
        values.push_back(double(int64_t(rng() % 4000000000) - 2000000000) / 2048.0);
    }
    for (double v : values) {
        QByteArray fixed;
        AppendFixed6(fixed, v);
        ASSERT_EQ(fixed, VexFormat("%lf", v)) << v;
    }
}

TEST_F(VexNetTest, GreetingComesFirstAndNamesShowBothEnds) {
    EXPECT_EQ(app.GetServerName(), QString("127.0.0.1 (%1)").arg(port)) << "port 0: the port bound";
    Client client;
    ConnectGreeted(client);
    EXPECT_TRUE(app.HasClient());
    EXPECT_EQ(app.GetClientName(), QString("127.0.0.1 (%1)").arg(client.socket.localPort()));
    EXPECT_EQ(app.GetServerName(), QString("127.0.0.1 (%1)").arg(port));
    EXPECT_EQ(app.events, std::vector<std::string>{"connected"});
}

TEST_F(VexNetTest, RequestsAreAnsweredLoggedOrIgnored) {
    const VexPosition position{12.5, -3, 0, 90};
    const VexPosition hit{1.25, 2, -300.125, 45};
    const VexPosition vector{0, -0.6, 0.8, 12};
    const QByteArray positionAnswer = "( 12.500000 -3.000000 0.000000 90.000000 ) 235\r\n";
    struct Row {
        const char* legend;
        QByteArray request;
        bool hitRecorded;
        bool alwaysMonitor;
        QByteArray answer;  // before the answer to the following "POS"
        QStringList log;
        int closePosts;
    } rows[] = {
        {"position", "POS", false, false, positionAnswer, {}, 0},
        {"hit before any hit: seven zeros",
         "HIT",
         false,
         false,
         "( 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 ) 237\r\n",
         {},
         0},
        {"hit with vector, vector w not sent",
         "HIT",
         true,
         false,
         "( 1.250000 2.000000 -300.125000 45.000000 0.000000 -0.600000 0.800000 ) 237\r\n",
         {},
         0},
        {"hit request logged when monitoring",
         "HIT",
         true,
         true,
         "( 1.250000 2.000000 -300.125000 45.000000 0.000000 -0.600000 0.800000 ) 237\r\n",
         {"HIT"},
         0},
        {"lower case", "pos", false, false, "", {}, 0},
        {"trailing space", "POS ", false, false, "", {}, 0},
        {"CR LF terminator", "POS\r\n", false, false, "", {}, 0},
        {"two requests in one receive", "POSPOS", false, false, "", {}, 0},
        {"C string's zero ends it", QByteArray("POS\0", 4), 0, 0, positionAnswer, {}, 0},
        {"a zero byte first: an empty request", QByteArray("\0POS", 4), false, false, "", {}, 0},
        {"logged up to the zero byte", QByteArray("VER\0x", 5), false, false, "", {"VER"}, 0},
        {"version text logged, no answer", "VERSION 2", false, false, "", {"VERSION 2"}, 0},
        {"bare VER logged", "VER", false, false, "", {"VER"}, 0},
        {"exit posts the close, no answer", "EXI", false, false, "", {}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        app.records = {position, row.hitRecorded ? hit : VexPosition{},
                       row.hitRecorded ? vector : VexPosition{}};
        app.alwaysMonitor = row.alwaysMonitor;
        app.log.clear();
        app.closePosts = 0;
        Client client;
        ConnectGreeted(client);
        Request(client, row.request);
        // A "POS" after the request shows that nothing else was sent in between.
        Request(client, "POS");
        const QByteArray expected = row.answer + positionAnswer;
        EXPECT_EQ(client.Read(expected.size()), expected);
        EXPECT_EQ(app.log, row.log);
        EXPECT_EQ(app.closePosts, row.closePosts);
        const int gone = app.Count("disconnected") + 1;
        client.socket.disconnectFromHost();
        ASSERT_TRUE(WaitForEvent("disconnected", gone));
    }
}

TEST_F(VexNetTest, SecondClientWaitsUntilTheFirstLeaves) {
    Client first, second;
    ConnectGreeted(first);
    ASSERT_TRUE(second.Connect(port));  // completed by the system's queue
    second.Write("POS");
    // A round trip of the first client gives the server time to (wrongly) serve the second.
    EXPECT_EQ(UntilPositionAnswer(first), kZeroPosition);
    EXPECT_EQ(UntilPositionAnswer(first), kZeroPosition);
    second.data += second.socket.readAll();
    EXPECT_TRUE(second.data.isEmpty());
    EXPECT_EQ(app.Count("connected"), 1);

    first.socket.disconnectFromHost();
    // The waiting connection is greeted, then its early request is answered.
    EXPECT_EQ(second.ReadLine(), kGreeting);
    EXPECT_EQ(second.ReadLine(), kZeroPosition);
    EXPECT_EQ(app.events, (std::vector<std::string>{"connected", "disconnected", "connected"}));
}

TEST_F(VexNetTest, EveryEndOfConnectionFreesTheSlotForTheNextClient) {
    struct Row {
        const char* legend;
        void (*end)(Client& client, VexSocket& serverSide);
        const char* box;  // message box text on stderr, or nullptr
    } rows[] = {
        {"client closes", [](Client& c, VexSocket&) { c.socket.disconnectFromHost(); }, nullptr},
        {"client resets",
         [](Client& c, VexSocket&) {
             const linger reset{1, 0};
             setsockopt(int(c.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                        sizeof reset);
             c.socket.abort();
         },
         nullptr},
        {"receive fails on the server",
         [](Client&, VexSocket& s) { emit s.errorOccurred(QAbstractSocket::NetworkError); },
         "VexServer: ERROR: OnReceive - SOCKET_ERROR\n"},
    };
    int connections = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Client client;
        ConnectGreeted(client);
        ++connections;
        ASSERT_NE(app.ServerSocket()->CurrentClient(), nullptr);
        ::testing::internal::CaptureStderr();
        row.end(client, *app.ServerSocket()->CurrentClient());
        const bool ended = WaitForEvent("disconnected", connections);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, row.box ? row.box : "");
        ASSERT_TRUE(ended) << "events: " << ::testing::PrintToString(app.events)
                           << ", client state " << client.socket.state();
        EXPECT_FALSE(app.HasClient());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs))
            << "the server's side did not close";
    }
    Client next;
    ConnectGreeted(next);
    EXPECT_EQ(app.Count("connected"), connections + 1);
    EXPECT_EQ(app.Count("disconnected"), connections);
}

TEST_F(VexNetTest, ClientThatStopsReadingNeitherGrowsTheServerNorHangsIt) {
    Client client;
    ConnectGreeted(client);
    VexSocket* serverSide = app.ServerSocket()->CurrentClient();
    const QByteArray text(1000, 'x');
    const QByteArray line = "( " + text + " ) 235\r\n";
    // The client runs no event loop meanwhile: once the system's buffers are full,
    // lines must be dropped instead of queued.
    QElapsedTimer timer;
    timer.start();
    int sent = 0;
    for (; sent < 200000 && serverSide->DroppedLines() < 50; ++sent) {
        app.Send(vexproto::kCodePosition, text);
        ASSERT_LE(serverSide->bytesToWrite(), vexproto::kSendBacklogLimit);
    }
    EXPECT_GE(serverSide->DroppedLines(), 50);
    // One wait of about 2 s, then every further line is dropped at once; a retry without
    // bound would never get here.
    EXPECT_LT(timer.elapsed(), 60000);

    // Reading again: only whole lines arrive, and the connection serves on.
    const qint64 expectedBytes = qint64(sent - serverSide->DroppedLines()) * line.size();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            client.data += client.socket.readAll();
            return client.data.size() >= expectedBytes;
        },
        kWaitMs * 3));
    EXPECT_EQ(client.data.size(), expectedBytes);
    EXPECT_EQ(client.data.count(line), sent - serverSide->DroppedLines());
    client.data.clear();
    EXPECT_EQ(UntilPositionAnswer(client), kZeroPosition);
}

TEST_F(VexNetTest, LargeRequestsAreCutIntoReceivesOfAtMost4095Bytes) {
    struct Row {
        const char* legend;
        int size;
    } rows[] = {
        {"exactly one full receive", 4095},
        {"one byte over a receive", 4096},
        {"long burst", 200000},
    };
    Client client;
    ConnectGreeted(client);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        app.received.clear();
        Request(client, QByteArray(row.size, 'V'));
        qint64 total = 0;
        for (const QByteArray& r : app.received) {
            EXPECT_LE(r.size(), vexproto::kReceiveBufferSize - 1);
            total += r.size();
        }
        EXPECT_EQ(total, row.size);
        // No receive was a request: nothing answered, nothing logged.
        EXPECT_EQ(UntilPositionAnswer(client), kZeroPosition);
        EXPECT_TRUE(app.log.isEmpty());
    }
}

TEST_F(VexNetTest, StopServerClosesTheClientAndReportsStopped) {
    Client client;
    ConnectGreeted(client);
    app.StopServer();
    EXPECT_FALSE(app.HasClient());
    EXPECT_EQ(app.GetServerName(), "");
    EXPECT_EQ(app.events, (std::vector<std::string>{"connected", "stopped"}));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs));
    app.Send(vexproto::kCodeHit, vexproto::kHitText);  // no listening socket: nothing happens
}

TEST_F(VexNetTest, PortInUseFailsToStartAndServesNobody) {
    TestApp other;
    EXPECT_FALSE(other.StartServer("127.0.0.1", port));
    EXPECT_FALSE(other.HasClient());
    other.Send(vexproto::kCodeHit, vexproto::kHitText);
    EXPECT_TRUE(other.events.empty());
}

}  // namespace
