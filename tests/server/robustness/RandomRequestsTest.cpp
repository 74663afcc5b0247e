// VexServer flooded with garbage by its one client: 100,000 requests of random bytes
// (fixed seed), 1 to 20,000 bytes long, mixed with partial and near-miss request words,
// written in bursts without pauses while the answers are drained. Afterwards a plain
// "POS" must be answered with the machine's position and the program must still run.
// Under `make sanitize` the program is build-asan's own, so memory errors end it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_random_requests_test");

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr Millis kWait{60000};
constexpr int kRequests = 100000;
constexpr uint32_t kSeed = 20240229;

// The machine stands still, so every correct answer is known.
constexpr char kScript[] = "start 100 50 20 90\npause 100000\n";
constexpr char kPosition[] = "100.000000 50.000000 20.000000 90.000000";

// Near misses of the request words, and "POS" with a C string's zero byte, which is a
// complete request: every 235 answer must carry the machine's position. "EXI" is never
// sent in any form.
using namespace std::string_literals;
const std::vector<std::string> kWords = {
    "P"s,  "PO"s,  "POS "s, "POS\r\n"s, "pos"s,  "POSPOS"s,    "\0POS"s, "POS\0"s, "H"s,
    "HI"s, "HIT"s, "hit"s,  "HIT\n"s,   "HITS"s, "VERSION 2"s, "VE"s,    "E"s};

// Requests in bursts of 1000; after each burst one near-miss word goes alone between
// two pauses, so that some of them are single receives (and "HIT" gets answered).
struct Stream {
    std::string bytes;
    std::vector<std::size_t> burstEnds;
    std::size_t longest = 0;
};

// Lengths: mostly short, some around the receive size, a few far beyond it.
std::size_t RandomLength(std::mt19937& rng) {
    const uint32_t pick = rng() % 100;
    if (pick < 90)
        return 1 + rng() % 64;
    if (pick < 99)
        return 65 + rng() % (4096 - 64);
    return 4097 + rng() % (20000 - 4096);
}

Stream MakeStream() {
    std::mt19937 rng(kSeed);
    Stream s;
    for (int i = 0; i < kRequests; ++i) {
        if (rng() % 100 < 15) {
            const std::string& word = kWords[rng() % kWords.size()];
            s.bytes += word;
        } else {
            const std::size_t length = RandomLength(rng);
            s.longest = std::max(s.longest, length);
            for (std::size_t k = 0; k < length; ++k)
                s.bytes += char(rng() & 0xFF);
        }
        if ((i + 1) % 1000 == 0)
            s.burstEnds.push_back(s.bytes.size());
    }
    // However the receives happen to be cut, none may read "EXI": that would end the
    // server as asked, which is not what this test is about.
    for (std::size_t at = s.bytes.find("EXI"); at != std::string::npos;
         at = s.bytes.find("EXI", at))
        s.bytes[at + 1] = 'x';
    return s;
}

std::size_t CountLines(const std::string& text, const char* ending) {
    std::size_t count = 0;
    for (std::size_t at = text.find(ending); at != std::string::npos;
         at = text.find(ending, at + 1))
        ++count;
    return count;
}

TEST(RandomRequests, ServerSurvivesAndAnswersTheNextPos) {
    const Stream stream = MakeStream();
    ASSERT_GT(stream.longest, 4u * 4095u) << "the requests must reach far past one receive";

    ServerProcess server;
    RawClient client;
    ServerOptions options;
    options.script = kScript;
    ASSERT_TRUE(server.StartAndConnect(options, client, kWait)) << server.Stderr().toStdString();
    // The first poll fills the position; before it the answer is zeros.
    std::optional<std::string> answer;
    for (auto deadline = Clock::now() + kWait; Clock::now() < deadline;) {
        answer = client.Ask("POS", 235, kWait);
        if (!answer || *answer == kPosition)
            break;
    }
    ASSERT_EQ(answer.value_or("(no answer)"), kPosition);

    // Bursts: write as fast as the server takes it, draining its answers meanwhile.
    std::size_t sent = 0;
    std::size_t lone = 0;
    long received = 0;
    const auto deadline = Clock::now() + kWait;
    for (std::size_t burstEnd : stream.burstEnds) {
        while (sent < burstEnd) {
            ASSERT_LT(Clock::now(), deadline) << "the server stopped reading at byte " << sent;
            const long n =
                client.TrySend(std::string_view(stream.bytes)
                                   .substr(sent, std::min<std::size_t>(burstEnd - sent, 65536)));
            ASSERT_GE(n, 0) << "the connection failed at byte " << sent;
            sent += std::size_t(n);
            received += client.Drain();
        }
        std::this_thread::sleep_for(Millis(2));
        const std::string& alone = kWords[lone++ % kWords.size()];
        ASSERT_TRUE(client.SendAll(alone, kWait));
        std::this_thread::sleep_for(Millis(2));
    }

    // The tail of the garbage may still be joined to the first tries; one "POS" that
    // arrives alone is answered.
    received += client.Drain();
    const std::size_t hitAnswers = CountLines(client.Buffer(), " ) 237\r\n");
    const std::size_t positionAnswers = CountLines(client.Buffer(), " ) 235\r\n");
    EXPECT_EQ(CountLines(client.Buffer(), (std::string("( ") + kPosition + " ) 235\r\n").c_str()),
              positionAnswers)
        << "a POS answer without the machine's position";
    client.Buffer().clear();
    answer.reset();
    for (int attempt = 0; attempt < 30 && !answer; ++attempt)
        answer = client.Ask("POS", 235, Millis(2000));
    EXPECT_EQ(answer.value_or("(no answer)"), kPosition);
    EXPECT_TRUE(server.IsRunning());
    const QString errors = server.Stderr();
    for (const char* bad : {"ERROR", "runtime error", "Sanitizer"})
        EXPECT_FALSE(errors.contains(QLatin1String(bad))) << errors.toStdString();
    std::printf(
        "sent %zu bytes in %d requests (longest %zu) and %zu lone words; read %ld bytes,"
        " %zu HIT and %zu POS answers\n",
        stream.bytes.size(), kRequests, stream.longest, lone, received, hitAnswers,
        positionAnswers);

    ASSERT_TRUE(client.SendAll("EXI", kWait));
    EXPECT_EQ(server.WaitForExit(kWait), 0) << server.Stderr().toStdString();
}

}  // namespace
