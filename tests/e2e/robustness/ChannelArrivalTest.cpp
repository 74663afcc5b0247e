// The TCP channel's arrival notifier and its report of a lost connection, against a loopback
// listener this test controls: the driver core relies on the notifier firing only once a
// message can be read, and on a lost connection being reported once per connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/comm/channel/CMMIO_IP.h"

namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A listening socket on 127.0.0.1; connections complete in its backlog and are taken with
// Accept().
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::listen(fd_, 4) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int Port() const { return port_; }
    int Accept() const { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

  private:
    int fd_ = -1;
    int port_ = 0;
};

void SendAll(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

TEST(ChannelArrivalTest, NotifierFiresOncePerQueuedMessageAfterItCanBeRead) {
    Listener listener;
    ASSERT_NE(listener.Port(), 0);
    CMMIO_IP channel(L"127.0.0.1", listener.Port());
    ASSERT_EQ(channel.Open(), 0);
    channel.SetTerminator('\n');
    std::atomic<int> calls{0};
    std::atomic<int> unreadable{0};  // calls that found the queue empty
    channel.SetArrivalNotifier([&] {
        if (channel.GetMessageLength() == 0)
            ++unreadable;
        ++calls;
    });
    const int server = listener.Accept();
    ASSERT_GE(server, 0);

    struct Step {
        const char* legend;
        std::string bytes;
        int callsAfter;  // notifier calls in total once the bytes are in
    } steps[] = {
        {"three lines in one block", "A,1\nB,2\nC,3\n", 3},
        {"a line without its end is not a message yet", "D,4", 3},
        {"its end completes it", "\n", 4},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.legend);
        SendAll(server, step.bytes);
        ASSERT_TRUE(WaitFor([&] { return calls >= step.callsAfter; }));
        std::this_thread::sleep_for(250ms);  // more than two wake-ups of the reading thread
        EXPECT_EQ(calls, step.callsAfter);
    }
    EXPECT_EQ(unreadable, 0);
    char line[CMMIO::kLineBufferSize];
    std::vector<std::string> read;
    while (const int n = channel.ReadMessage(line))
        read.emplace_back(line, size_t(n));
    EXPECT_EQ(read, (std::vector<std::string>{"A,1\n", "B,2\n", "C,3\n", "D,4\n"}));

    // Messages a callback takes are not queued, so they are not announced either.
    channel.SetMessageCallback([](std::wstring) {});
    SendAll(server, "E,5\n");
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(calls, 4);
    ::close(server);
}

TEST(ChannelArrivalTest, LostConnectionIsReportedOnceAndANewConnectionClearsIt) {
    Listener listener;
    ASSERT_NE(listener.Port(), 0);
    CMMIO_IP channel(L"127.0.0.1", listener.Port());
    std::atomic<int> calls{0};
    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE("connection " + std::to_string(connection));
        ASSERT_EQ(channel.Open(), 0);
        channel.SetTerminator('\n');
        channel.SetArrivalNotifier([&] { ++calls; });
        EXPECT_FALSE(channel.ConnectionLost());
        const int server = listener.Accept();
        ASSERT_GE(server, 0);
        ::close(server);
        ASSERT_TRUE(WaitFor([&] { return channel.ConnectionLost(); }));
        // The reading thread keeps looking every 100 ms; the loss is still told only once.
        std::this_thread::sleep_for(350ms);
        EXPECT_EQ(calls, connection);
        EXPECT_TRUE(channel.IsOpen()) << "the channel stays open and silent";
    }
}

}  // namespace
