// 1,000 clients that connect and go away in every rude way a network allows: an orderly
// close, a reset (SO_LINGER 0), a reset in the middle of a request, a reset before the
// server even accepted, a close with an answer still on its way. Afterwards a new client
// must be greeted and served, and the program's open descriptors must be back to where
// they were before the first of them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_connection_churn_test");

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr Millis kWait{60000};
constexpr int kCycles = 1000;
constexpr char kScript[] = "start 100 50 20 90\npause 100000\n";
constexpr char kPosition[] = "100.000000 50.000000 20.000000 90.000000";

enum class Leave {
    Close,             // greeted, then an orderly close
    Reset,             // greeted, then a reset
    ResetMidRequest,   // greeted, half a request sent, then a reset
    ResetAtOnce,       // a reset right after connecting, before the greeting
    CloseUnanswered,   // greeted, "POS" sent, closed before the answer is read
    CloseAfterRequest  // "HIT" sent at once, closed without waiting for anything
};

struct Kind {
    Leave leave;
    const char* legend;
    bool waitsForGreeting;
};

// Every cycle that does not wait for its greeting is followed by one that does, so at
// most one connection waits while another is served (a third would be refused).
constexpr Kind kKinds[] = {
    {Leave::Close, "orderly close after the greeting", true},
    {Leave::ResetAtOnce, "reset before the greeting", false},
    {Leave::Reset, "reset after the greeting", true},
    {Leave::CloseAfterRequest, "HIT sent, closed at once", false},
    {Leave::ResetMidRequest, "reset in the middle of a request", true},
    {Leave::CloseUnanswered, "closed before the POS answer", true},
};

// Descriptors of the program once its count has settled at or below `limit`, or the
// last count seen when the wait ran out.
int SettledDescriptors(ServerProcess& server, int limit) {
    int count = server.OpenDescriptors();
    for (auto deadline = Clock::now() + Millis(10000); count > limit && Clock::now() < deadline;
         count = server.OpenDescriptors())
        QThread::msleep(50);
    return count;
}

// Descriptors of the program once the count stayed the same for half a second.
int SteadyDescriptors(ServerProcess& server) {
    int count = server.OpenDescriptors();
    int same = 0;
    for (auto deadline = Clock::now() + Millis(10000); same < 5 && Clock::now() < deadline;) {
        QThread::msleep(100);
        const int now = server.OpenDescriptors();
        same = now == count ? same + 1 : 0;
        count = now;
    }
    return count;
}

TEST(ConnectionChurn, ServerServesTheNextClientAndKeepsNoDescriptors) {
    ServerProcess server;
    RawClient first;
    ServerOptions options;
    options.script = kScript;
    ASSERT_TRUE(server.StartAndConnect(options, first, kWait)) << server.Stderr().toStdString();
    // Polls run only while a client is connected, and the churning clients stay for far
    // less than a poll interval: the position must be known before they start.
    std::optional<std::string> position;
    for (auto deadline = Clock::now() + kWait; Clock::now() < deadline && position != kPosition;)
        position = first.Ask("POS", 235, kWait);
    ASSERT_EQ(position.value_or("(no answer)"), kPosition);
    first.Close();
    // The baseline: listening, no client, after one client came and went.
    const int baseline = SteadyDescriptors(server);
    ASSERT_GT(baseline, 0);

    std::map<std::string, int> done;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const Kind& kind = kKinds[cycle % std::size(kKinds)];
        SCOPED_TRACE(testing::Message() << "cycle " << cycle << ": " << kind.legend);
        RawClient client;
        ASSERT_TRUE(client.Connect(server.Port(), kWait));
        if (kind.waitsForGreeting) {
            const auto greeting = client.ReadLine(kWait);
            ASSERT_EQ(greeting.value_or("(none)"), "( VEXVersion:20 ) 240\r\n");
        }
        switch (kind.leave) {
            case Leave::Close:
                client.Close();
                break;
            case Leave::Reset:
            case Leave::ResetAtOnce:
                client.Reset();
                break;
            case Leave::ResetMidRequest:
                ASSERT_TRUE(client.SendAll("PO", kWait));
                client.Reset();
                break;
            case Leave::CloseUnanswered:
                ASSERT_TRUE(client.SendAll("POS", kWait));
                client.Close();
                break;
            case Leave::CloseAfterRequest:
                ASSERT_TRUE(client.SendAll("HIT", kWait));
                client.Close();
                break;
        }
        ++done[kind.legend];
    }

    RawClient next;
    ASSERT_TRUE(next.Connect(server.Port(), kWait));
    // Leftovers of the last cycles may still be served first; the greeting proves the
    // slot came free.
    EXPECT_EQ(next.ReadLine(kWait).value_or("(none)"), "( VEXVersion:20 ) 240\r\n");
    EXPECT_EQ(next.Ask("POS", 235, kWait).value_or("(no answer)"), kPosition);
    next.Close();
    const int after = SettledDescriptors(server, baseline);
    EXPECT_LE(after, baseline) << "descriptors left open by " << kCycles << " clients";
    EXPECT_TRUE(server.IsRunning());

    const QString errors = server.Stderr();
    const int messages = int(errors.count(QLatin1String("ERROR: OnReceive")));
    for (const auto& [legend, count] : done)
        std::printf("%4d x %s\n", count, legend.c_str());
    std::printf("descriptors: %d before, %d after; %d receive-failure messages\n", baseline, after,
                messages);
    EXPECT_FALSE(errors.contains(QLatin1String("Sanitizer"))) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QLatin1String("runtime error"))) << errors.toStdString();
}

// IdleClientTime 1 s. A quiet client keeps the slot while it is alone or busy; once a
// connection waits, a client that sends no request (single bytes are none) gives way to
// it; a third connection meanwhile is refused at once instead of queued.
TEST(ConnectionChurn, AnIdleClientGivesWayOnlyToAWaitingConnection) {
    ServerProcess server;
    RawClient first, second, third;
    ServerOptions options;
    options.script = kScript;
    options.extraKeys.append({QStringLiteral("IdleClientTime"), QStringLiteral("1")});
    ASSERT_TRUE(server.StartAndConnect(options, first, kWait)) << server.Stderr().toStdString();
    EXPECT_FALSE(first.WaitPeerClosed(Millis(2500))) << "a lone idle client was dropped";

    ASSERT_TRUE(first.Ask("POS", 235, kWait));  // idle no more
    ASSERT_TRUE(second.Connect(server.Port(), kWait));
    auto lastRequest = Clock::now();
    for (auto until = Clock::now() + Millis(2500); Clock::now() < until;) {
        ASSERT_TRUE(first.Ask("POS", 235, kWait)) << "a busy client was dropped";
        lastRequest = Clock::now();
        std::this_thread::sleep_for(Millis(100));
    }
    second.Drain();
    EXPECT_EQ(second.Buffer(), "") << "the waiting connection was served beside the client";
    ASSERT_TRUE(third.Connect(server.Port(), kWait));
    EXPECT_TRUE(third.WaitPeerClosed(Millis(10000))) << "a second waiting connection was queued";
    EXPECT_EQ(third.Buffer(), "");
    bool dropped = false;
    while (!dropped && Clock::now() < lastRequest + kWait) {
        ASSERT_TRUE(first.SendAll("P", kWait));
        dropped = first.WaitPeerClosed(Millis(200));
    }
    const auto quiet = std::chrono::duration_cast<Millis>(Clock::now() - lastRequest);
    EXPECT_TRUE(dropped && quiet.count() >= 900) << "idle client kept the slot or lost it early";
    EXPECT_EQ(second.ReadLine(kWait).value_or("(none)"), "( VEXVersion:20 ) 240\r\n");
    EXPECT_EQ(second.Ask("POS", 235, kWait).value_or("(no answer)"), kPosition);
    std::printf("idle client dropped %d ms after its last request\n", int(quiet.count()));
}

}  // namespace
