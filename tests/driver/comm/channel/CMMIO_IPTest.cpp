// The TCP channel against a real listener on the loopback interface.

#include "driver/comm/channel/CMMIO_IP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "tests/driver/comm/channel/ChannelTestSupport.h"

namespace {

using channel_test::CountProcEntries;
using channel_test::DrainMessages;
using channel_test::WaitFor;

// A plain TCP socket bound to 127.0.0.1 on an ephemeral port; listening unless asked not
// to (a bound socket that does not listen refuses connections).
class Loopback {
  public:
    explicit Loopback(bool listening = true) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            (listening && ::listen(fd_, 16) != 0) ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot set up the loopback socket";
        }
        port_ = ntohs(address.sin_port);
    }
    ~Loopback() { ::close(fd_); }
    int port() const { return port_; }

    // The next connection, or -1 after a generous wait.
    int Accept() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) {
            return -1;
        }
        return ::accept(fd_, nullptr, nullptr);
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Reads from a connection until count bytes arrived or it stays silent for long.
std::string ReceiveBytes(int fd, size_t count) {
    std::string data;
    char buffer[4096];
    while (data.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

void SendText(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
}

TEST(CMMIO_IPTest, WritesArriveInCallOrder) {
    Loopback server;
    CMMIO_IP channel(L"127.0.0.1", server.port());
    ASSERT_EQ(channel.Open(), 0);
    EXPECT_TRUE(channel.IsOpen());
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);

    EXPECT_EQ(channel.Write("POS", 3, 0), 0);
    EXPECT_EQ(channel.Write("HIT", 3, 0), 0);
    EXPECT_EQ(ReceiveBytes(peer, 6), "POSHIT");

    std::string expected;
    for (int i = 0; i < 500; ++i) {
        const std::string command = "C" + std::to_string(i) + ";";
        expected += command;
        channel.WriteString(std::wstring(command.begin(), command.end()), 0);
    }
    EXPECT_EQ(ReceiveBytes(peer, expected.size()), expected);
    EXPECT_FALSE(channel.GetErrorFlag());
    ::close(peer);
}

TEST(CMMIO_IPTest, LinesSplitAndJoinedBySegmentsComeOutWhole) {
    Loopback server;
    CMMIO_IP channel(L"127.0.0.1", server.port());
    ASSERT_EQ(channel.Open(), 0);
    channel.SetTerminator('\n');
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);

    SendText(peer, "A,1\nB,");
    // "B," has surely been received before the rest is sent.
    ASSERT_TRUE(WaitFor([&] { return channel.GetMessageLength() != 0; }));
    SendText(peer, "2\nC,3\nD,4\n");
    EXPECT_EQ(DrainMessages(channel, 4),
              (std::vector<std::string>{"A,1\n", "B,2\n", "C,3\n", "D,4\n"}));

    // Messages still queued at Close are discarded with the channel's other storage.
    SendText(peer, "E,5\n");
    ASSERT_TRUE(WaitFor([&] { return channel.GetMessageLength() != 0; }));
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.GetMessageLength(), 0);
    ::close(peer);
}

TEST(CMMIO_IPTest, RefusedConnectionReportsPlatformError) {
    Loopback notListening(false);
    CMMIO_IP channel(L"127.0.0.1", notListening.port());
    EXPECT_EQ(channel.Open(), CMMIO::kOpenFailed);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.GetOpenError(), L"SOURCE_OPEN_SOCKET_ERROR-111");
    EXPECT_EQ(channel.GetErrorText(), L"Init: Couldn't connect to 127.0.0.1 ! ");
    EXPECT_TRUE(channel.GetErrorFlag());
    EXPECT_EQ(channel.Close(), 1);
}

TEST(CMMIO_IPTest, HostMustBeDottedDecimal) {
    Loopback server;  // a live port: only the address text is at fault
    const std::wstring hosts[] = {
        L"localhost",       // names are not looked up
        L"",                // nothing
        L"127.0.0.1.5",     // five parts
        L"127.0.0.256",     // part out of range
        L"::1",             // IPv6
        L"127\u012E0.0.1",  // a wide character whose low byte is '.' is no dot
    };
    for (const std::wstring& host : hosts) {
        SCOPED_TRACE(std::string(host.begin(), host.end()));
        CMMIO_IP channel(host, server.port());
        EXPECT_EQ(channel.Open(), CMMIO::kOpenFailed);
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_EQ(channel.GetErrorText(), L"Init: Couldn't connect to " + host + L" ! ");
        EXPECT_EQ(channel.GetOpenError().rfind(L"SOURCE_OPEN_SOCKET_ERROR-", 0), 0u);
    }
}

TEST(CMMIO_IPTest, ServerClosingLeavesChannelOpenAndQuiet) {
    Loopback server;
    CMMIO_IP channel(L"127.0.0.1", server.port());
    ASSERT_EQ(channel.Open(), 0);
    channel.SetTerminator('\n');
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    SendText(peer, "( VEXVersion: 3\n");
    ::close(peer);
    EXPECT_EQ(DrainMessages(channel, 1), std::vector<std::string>{"( VEXVersion: 3\n"});

    // The closed connection must not keep the receive thread spinning: a few wake-ups a
    // second cost next to nothing, a spinning thread takes a core.
    const std::clock_t cpuBefore = std::clock();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double cpu = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    EXPECT_LT(cpu, wall / 10) << "receive thread busy after the server closed";
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_EQ(channel.GetMessageLength(), 0);

    // Sending to the closed connection fails quietly (no signal ends the process).
    ASSERT_TRUE(WaitFor([&] {
        channel.Write("POS", 3, 0);
        return channel.GetErrorFlag();
    }));
    EXPECT_EQ(channel.GetErrorText().rfind(L"CMMIO_IP : Writing 3 char failed !!! ERROR-", 0), 0u);
    EXPECT_TRUE(channel.IsOpen());
}

TEST(CMMIO_IPTest, ReopenReplacesTheConnection) {
    Loopback server;
    CMMIO_IP channel(L"127.0.0.1", server.port());
    ASSERT_EQ(channel.Open(), 0);
    const int first = server.Accept();
    ASSERT_EQ(channel.Open(), 0);
    const int second = server.Accept();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(ReceiveBytes(first, 1), "");  // the first connection has ended
    channel.Write("POS", 3, 0);
    EXPECT_EQ(ReceiveBytes(second, 3), "POS");
    ::close(first);
    ::close(second);
}

TEST(CMMIO_IPTest, OpenCloseThousandTimesLeaksNothing) {
    Loopback server;
    auto cycle = [&](int i) {
        CMMIO_IP channel(L"127.0.0.1", server.port());
        ASSERT_EQ(channel.Open(), 0);
        const int peer = server.Accept();
        ASSERT_GE(peer, 0);
        if (i % 3 == 0) {
            channel.Write("POS", 3, 0);  // leave a block for the thread to send or drop
        }
        ::close(peer);
        if (i % 2 == 0) {
            EXPECT_EQ(channel.Close(), 1);
        }  // odd rounds: the destructor closes
    };
    cycle(0);  // lets the runtime set up whatever it keeps for good
    const int descriptors = CountProcEntries("fd");
    const int threads = CountProcEntries("task");
    for (int i = 1; i <= 1000 && !HasFatalFailure(); ++i) {
        cycle(i);
    }
    EXPECT_EQ(CountProcEntries("fd"), descriptors);
    EXPECT_EQ(CountProcEntries("task"), threads);
}

}  // namespace
