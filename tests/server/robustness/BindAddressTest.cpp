// Where the program listens, by VEX.XML's BindAddress. 127.0.0.2 is another address of
// the loopback interface: a server listening on all interfaces answers there, one bound
// to 127.0.0.1 must not.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <optional>

#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_bind_address_test");

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
constexpr Millis kWait{60000};

TEST(BindAddress, ListensWhereConfigured) {
    struct Row {
        const char* legend;
        std::optional<QString> bindAddress;  // none: the key is absent
        bool otherLoopbackAnswers;           // 127.0.0.2
    } rows[] = {
        {"absent: all interfaces, as before", std::nullopt, true},
        {"empty: all interfaces", QString(), true},
        {"127.0.0.1: this computer only", QStringLiteral("127.0.0.1"), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ServerOptions options;
        options.script = "start 1 2 3 4\npause 100000\n";
        if (row.bindAddress)
            options.extraKeys.append({QStringLiteral("BindAddress"), *row.bindAddress});
        ServerProcess server;
        RawClient client;
        ASSERT_TRUE(server.StartAndConnect(options, client, kWait))
            << server.Stderr().toStdString();
        EXPECT_TRUE(client.Ask("POS", 235, kWait).has_value());
        client.Close();

        RawClient other;
        const bool connected = other.Connect(server.Port(), Millis(5000), "127.0.0.2");
        EXPECT_EQ(connected, row.otherLoopbackAnswers);
        if (connected) {
            EXPECT_EQ(other.ReadLine(kWait).value_or("(none)"), "( VEXVersion:20 ) 240\r\n");
        }
        other.Close();
        EXPECT_TRUE(server.IsRunning());
    }
}

// An address of no interface of this computer (TEST-NET-1) is a listening failure like a
// port in use: said on stderr, and the hidden program, which nobody could reach, ends.
TEST(BindAddress, AnAddressThatCannotBeBoundIsReported) {
    ServerOptions options;
    options.script = "start 1 2 3 4\npause 100000\n";
    options.extraKeys.append({QStringLiteral("BindAddress"), QStringLiteral("192.0.2.1")});
    ServerProcess server;
    ASSERT_TRUE(server.Start(options));
    for (auto deadline = Clock::now() + kWait;
         Clock::now() < deadline && !server.Stderr().contains(QLatin1String("Cannot listen"));)
        QThread::msleep(50);
    const QString expected =
        QStringLiteral("VexServer: Cannot listen on TCP port %1: 192.0.2.1: ").arg(server.Port());
    EXPECT_TRUE(server.Stderr().contains(expected)) << server.Stderr().toStdString();
    EXPECT_EQ(server.WaitForExit(kWait), 1);
}

}  // namespace
