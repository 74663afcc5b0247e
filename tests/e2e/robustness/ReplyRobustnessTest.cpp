// libTactus.so, through its entry points and the host stand-in, against a scripted peer that
// sends what no position server would: random bytes, lines at and beyond the channel's
// 16,000-byte limit, bytes without any line end, and lines that only look like the server's.
// The driver must survive all of it and go on handling correct replies. Also: a host that
// spins an event loop inside a result never gets a nested result, a request is never written
// while the previous one is unanswered, and a lost connection is logged once.
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <random>
#include <regex>
#include <thread>

#include "host/HostCallback.h"
#include "tests/driver/core/driver/DriverFixture.h"

namespace drivertest {
namespace {

using RobustnessTest = DriverFixture;

// Random bytes (any value, line feeds included when `lineFeeds`), reproducible by seed.
std::string RandomBytes(std::mt19937& random, size_t count, bool lineFeeds) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        const char c = char(byte(random));
        if (lineFeeds || c != '\n')
            bytes.push_back(c);
    }
    return bytes;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST_F(RobustnessTest, GarbageRepliesNeverStopTheDriver) {
    std::mt19937 random(20240611);
    std::string randomLines;  // thousands of short lines of random bytes
    for (int i = 0; i < 3000; ++i)
        randomLines += RandomBytes(random, random() % 200, true) + '\n';
    std::string longLines;  // around the channel's 16,000-byte limit, and twice that
    for (size_t length : {15999u, 16000u, 16001u, 32000u})
        longLines += RandomBytes(random, length, false) + '\n';
    const std::string lookalikes = std::string("( HIT ") + RandomBytes(random, 300, false) +
                                   "\n( VEXVersion:99999999999999999999999 ) 240\n"
                                   "( VEXVersion:\n"
                                   "( 1e999 -1e999 nan inf ) 235\n"
                                   "( 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 ) 237\n"
                                   "( 1.0 2.0 3.0 4.0 ) 23" +
                                   std::string(5000, '7') + "\n%n%n%n%s%s%s%ls%ls\n\r\n\n" +
                                   std::string(3, '\0') + "\n";

    struct Case {
        const char* legend;
        std::string bytes;
    };
    // Legend: what the peer sends before the driver must show a correct position again.
    const Case cases[] = {
        {"3000 lines of random bytes", randomLines},
        {"lines of 15999, 16000, 16001 and 32000 random bytes", longLines},
        {"50000 bytes without a line end", RandomBytes(random, 50000, false)},
        {"lines that look like the server's", lookalikes},
    };

    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, 0.0, 0.0, 1.0));
    StartAndSettle();
    ASSERT_TRUE(WaitForReadout(1.0, 2.0, 3.0));
    double x = 10.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        peer->Send(c.bytes);
        // Positions are asked for all the time; a changed answer shows that replies are read
        // again (a line left unfinished takes the first answer with it).
        peer->Answer("POS", PositionLine(x, 2.0, 3.0, 0.0));
        EXPECT_TRUE(WaitUntil(
            [&] {
                const auto readouts = Events(HostEventKind::Readout);
                return !readouts.empty() && readouts.back().values.size() >= 3 &&
                       readouts.back().values[0] == x && readouts.back().values[2] == 3.0;
            },
            60000));
        x += 1.0;
    }

    // A hit notice still fetches the hit.
    QlnRecorder().clear();
    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([] {
        const auto hits = Events(HostEventKind::ManualHit);
        return !hits.empty() && hits.back().values.size() >= 3 && hits.back().values[0] == 7.0;
    }));
}

// A host callback that runs an event loop inside every result, as a host showing a message box
// would. The first result makes the peer send more lines, which arrive meanwhile.
class NestingCallback : public HostCallback {
  public:
    NestingCallback(ScriptedPeer& peer, std::string more) : peer_(peer), more_(std::move(more)) {}

    void reportResult(const double* xyz, const double* ijk, double before,
                      const CQLNresultExtras& extras, double after) override {
        HostCallback::reportResult(xyz, ijk, before, extras, after);
        ++depth_;
        deepest_ = std::max(deepest_, depth_);
        if (xyz)
            xs_.push_back(xyz[0]);
        if (!more_.empty()) {
            peer_.Send(more_);
            more_.clear();
        }
        QEventLoop loop;
        QTimer::singleShot(30, &loop, &QEventLoop::quit);
        loop.exec();
        --depth_;
    }

    const std::vector<double>& xs() const { return xs_; }
    int deepest() const { return deepest_; }

  private:
    ScriptedPeer& peer_;
    std::string more_;
    std::vector<double> xs_;
    int depth_ = 0;
    int deepest_ = 0;
};

TEST_F(RobustnessTest, ResultsNeverNestWhenTheHostRunsAnEventLoop) {
    StartAndSettle();  // the peer does not answer "POS": only the lines below are positions
    std::string first, more;
    for (int i = 1; i <= 20; ++i)
        (i <= 10 ? first : more) += PositionLine(double(i), 0.0, 0.0, 0.0);
    NestingCallback callback(*peer, more);
    const double origin[3] = {0.0, 0.0, 0.0};
    driver_begin_manual_scan(&callback, origin, origin, nullptr);
    peer->Send(first);
    ASSERT_TRUE(WaitUntil([&] { return callback.xs().size() >= 20; }, 60000));
    Idle(100);
    driver_end_manual_scan();

    std::vector<double> expected;
    for (int i = 1; i <= 20; ++i)
        expected.push_back(double(i));
    EXPECT_EQ(callback.xs(), expected) << "every line once, in order";
    EXPECT_EQ(callback.deepest(), 1) << "a result was reported inside another";
}

// The position server takes whatever has arrived as one request, so "POSPOS" or "POSHIT" is
// answered by nothing and the hit is lost. The driver therefore writes a request only after
// the previous one has been answered (or has gone unanswered for a second).
TEST_F(RobustnessTest, SlowAnswerIsNotRequestedAgain) {
    StartAndSettle();  // the peer answers only what this test sends
    using Clock = std::chrono::steady_clock;
    int answered = 0;
    double x = 1.0;
    // Long enough for the driver's time-out clock to run out while an answer is late.
    for (const auto end = Clock::now() + std::chrono::milliseconds(3000); Clock::now() < end;) {
        ASSERT_TRUE(WaitUntil([&] { return peer->Count("POS") > answered; }));
        const int asked = peer->Count("POS");
        Idle(60);  // a few polls late
        ASSERT_EQ(peer->Count("POS"), asked) << "asked again before the answer came";
        peer->Send(PositionLine(x, 0.0, 0.0, 0.0));
        ASSERT_TRUE(WaitForReadout(x, 0.0, 0.0));
        answered = asked;
        x += 1.0;
    }
    EXPECT_EQ(LogText().find("<Tactus: POS request timed-out\n"), std::string::npos);
}

TEST_F(RobustnessTest, HitRequestWaitsForTheAnswerToThePositionRequest) {
    peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, 0.0, 0.0, 1.0));
    StartAndSettle();  // the peer answers "POS" only when this test does
    // Answer the first request; the notice follows the second at once.
    peer->Send(PositionLine(1.0, 2.0, 3.0, 0.0));
    ASSERT_TRUE(WaitUntil([&] { return peer->Count("POS") >= 2; }));
    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([&] {
        return LogText().find(
                   "-Tactus: HIT request waits for the answer to the previous "
                   "request\n") != std::string::npos;
    }));
    EXPECT_EQ(peer->Count("HIT"), 0);
    peer->Send(PositionLine(1.0, 2.0, 3.0, 0.0));
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
    EXPECT_EQ(peer->Count("HIT"), 1);
    EXPECT_EQ(Events(HostEventKind::ManualHit)[0].values[0], 7.0);
}

TEST_F(RobustnessTest, LostConnectionIsLoggedOnceAndTheDriverGoesOn) {
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    StartAndSettle();
    ASSERT_TRUE(WaitForReadout(1.0, 2.0, 3.0));
    const std::string lost = "-Tactus: Connection to server process lost!";
    EXPECT_EQ(Occurrences(LogText(), lost), 0u);
    const int port = peer->Port();
    peer.reset();  // the server goes away
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(LogText(), lost) > 0; }));
    // Unanswered requests time out and are sent again, into the void.
    ASSERT_TRUE(WaitUntil(
        [&] { return LogText().find("<Tactus: POS request timed-out\n") != std::string::npos; }));
    EXPECT_EQ(Occurrences(LogText(), lost), 1u);
    // The host is still served: a position read completes with the last position.
    HostCallback callback;
    driver_read_position(&callback, nullptr);
    ASSERT_EQ(callback.results(), 1);
    EXPECT_EQ(Events(HostEventKind::ReportResult).back().values[0], 1.0);

    // Attempts to reconnect fail while nothing listens; a server that listens there again
    // is found by itself and the readout goes on.
    ASSERT_TRUE(
        WaitUntil([&] { return Occurrences(LogText(), "-Tactus: Reconnect failed: ") >= 2; }));
    peer = std::make_unique<ScriptedPeer>(port);
    peer->Answer("POS", PositionLine(4.0, 5.0, 6.0, 0.0));
    EXPECT_TRUE(WaitForReadout(4.0, 5.0, 6.0));
    EXPECT_EQ(StatusSaid(L"Connection to the machine lost"), 1);
    EXPECT_EQ(StatusSaid(L"Connection to the machine is back"), 1);
}

// Lines come faster than the host's thread takes them (here it is busy for two seconds): the
// queue keeps its bound by dropping the oldest positions, the hit among them survives, the
// newest position is shown, and the drops are logged.
TEST_F(RobustnessTest, FloodDropsOldPositionsButNeverAHit) {
    StartAndSettle();
    std::string flood;
    for (int i = 1; i <= 10000; ++i) {
        flood += PositionLine(double(i), 0.0, 0.0, 0.0);
        if (i == 5000)
            flood += HitLine(7.0, 8.0, 9.0, 0.0, 0.0, 0.0, 1.0);
    }
    QlnRecorder().clear();
    peer->Send(flood);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the host's thread, busy
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
    EXPECT_EQ(Events(HostEventKind::ManualHit)[0].values[0], 7.0);
    EXPECT_TRUE(WaitForReadout(10000.0, 0.0, 0.0));
    EXPECT_TRUE(WaitUntil([&] {
        return std::regex_search(LogText(), std::regex("-Tactus: Receive queue full: [1-9][0-9]* "
                                                       "position lines, 0 other lines and 0 hit"));
    }));
}

// A link that goes quiet is told once (not at every poll), and so is its coming back.
TEST_F(RobustnessTest, QuietLinkIsToldOnceAndSoIsItsReturn) {
    struct Case {
        const char* legend;
        bool greets;          // the server says something before it goes quiet
        const wchar_t* told;  // the end of the status message
    };
    // Legend: what the server does; what the host's status line says.
    const Case cases[] = {
        {"greets, then answers nothing", true, L") for 3 seconds."},
        {"accepts the connection and says nothing", false,
         L"sends nothing: it is serving another client. Waiting for it."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        peer = std::make_unique<ScriptedPeer>();
        machine.port = peer->Port();
        StartAndSettle();
        if (c.greets)
            peer->Send("( VEXVersion:20 ) 240\r\n");
        ASSERT_TRUE(WaitUntil([&] { return StatusSaid(c.told) > 0; }));
        Idle(500);
        EXPECT_EQ(StatusSaid(c.told), 1);
        peer->Send(PositionLine(1.0, 2.0, 3.0, 0.0));
        EXPECT_TRUE(WaitUntil([] { return StatusSaid(L"Connection to the machine is back") > 0; }));
    }
}

}  // namespace
}  // namespace drivertest
