// The serial channel over a pseudo-terminal pair, and its settings text.

#include "driver/comm/channel/CSerial.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/comm/channel/PortSettings.h"
#include "driver/comm/channel/SerialPort.h"
#include "tests/driver/comm/channel/ChannelTestSupport.h"

namespace {

using channel_test::CountProcEntries;
using channel_test::DrainMessages;
using channel_test::WaitFor;

constexpr int kPort = 42;  // redirected to the pseudo-terminal by TACTUS_COM42

// A pseudo-terminal whose device side stands in for COM42; the test talks through the
// controlling side. The test keeps its own descriptor of the device side to look at the
// line settings the channel made.
class PtyFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&controller_, &device_, nullptr, nullptr, nullptr), 0);
        ::setenv("TACTUS_COM42", ::ttyname(device_), 1);
    }
    void TearDown() override {
        ::unsetenv("TACTUS_COM42");
        ::close(controller_);
        ::close(device_);
    }

    void SendToChannel(const std::string& text) {
        ASSERT_EQ(::write(controller_, text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }

    std::string ReceiveFromChannel(size_t count) {
        std::string data;
        char buffer[4096];
        while (data.size() < count) {
            pollfd p{controller_, POLLIN, 0};
            if (::poll(&p, 1, 20000) != 1) {
                break;
            }
            const ssize_t n = ::read(controller_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            data.append(buffer, static_cast<size_t>(n));
        }
        return data;
    }

    termios DeviceSettings() {
        termios t{};
        EXPECT_EQ(::tcgetattr(device_, &t), 0);
        return t;
    }

    // Bytes waiting on the device side that the channel has not read yet.
    int UnreadByChannel() {
        int count = 0;
        ::ioctl(device_, FIONREAD, &count);
        return count;
    }

    int controller_ = -1;
    int device_ = -1;
};

TEST(CSerialPathTest, PortNumberToDevicePath) {
    ::setenv("TACTUS_COM7", "/dev/pts/99", 1);
    ::setenv("TACTUS_COM8", "", 1);
    struct Case {
        const char* legend;
        int port;
        std::string path;
    };
    const Case cases[] = {
        {"COM1 is the first serial device", 1, "/dev/ttyS0"},
        {"COM4 is the fourth", 4, "/dev/ttyS3"},
        {"an environment variable redirects one port", 7, "/dev/pts/99"},
        {"an empty variable redirects nothing", 8, "/dev/ttyS7"},
        {"port 0 has no device", 0, ""},
        {"negative ports have none", -2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(SerialPort::DevicePath(c.port), c.path);
    }
    ::unsetenv("TACTUS_COM7");
    ::unsetenv("TACTUS_COM8");
}

TEST(CSerialSettingsTest, SettingsText) {
    struct Case {
        const char* legend;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"the channel's own form", "com1 baud=19200 parity=N data=8 stop=1", true},
        {"parity letters in either case", "com2 baud=9600 parity=e data=7 stop=2", true},
        {"mark parity", "com1 baud=9600 parity=M data=8 stop=1", true},
        {"space parity", "com1 baud=9600 parity=s data=8 stop=1", true},
        {"odd parity", "com1 baud=9600 parity=o data=8 stop=1", true},
        {"one and a half stop bits", "com1 baud=9600 parity=N data=5 stop=1.5", true},
        {"no device name, upper-case keys", "BAUD=300 PARITY=N DATA=6 STOP=1", true},
        {"unknown parity letter", "com1 baud=9600 parity=Q data=8 stop=1", false},
        {"four data bits", "com1 baud=9600 parity=N data=4 stop=1", false},
        {"nine data bits", "com1 baud=9600 parity=N data=9 stop=1", false},
        {"three stop bits", "com1 baud=9600 parity=N data=8 stop=3", false},
        {"zero baud", "com1 baud=0 parity=N data=8 stop=1", false},
        {"negative baud", "com1 baud=-9600 parity=N data=8 stop=1", false},
        {"baud beyond int", "com1 baud=99999999999 parity=N data=8 stop=1", false},
        {"missing key", "com1 baud=9600 parity=N data=8", false},
        {"unknown key", "com1 baud=9600 parity=N data=8 stop=1 speed=2", false},
        {"empty parity", "com1 baud=9600 parity= data=8 stop=1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(ParsePortSettings(c.text).has_value(), c.valid);
    }
    const auto parsed = ParsePortSettings(FormatPortSettings(3, 4800, 'o', 5, 2));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->baudRate, 4800);
    EXPECT_EQ(parsed->parity, Parity::kOdd);
    EXPECT_EQ(parsed->dataBits, 5);
    EXPECT_EQ(parsed->stopBits, StopBits::kTwo);
}

TEST(CSerialSettingsTest, SetPortParametersOnClosedChannel) {
    struct Case {
        const char* legend;
        int port, baud;
        char parity;
        int data, stop, handshake;
        int result;
        // Values afterwards.
        int wantPort, wantBaud;
        char wantParity;
        int wantData, wantStop, wantHandshake;
    };
    const Case cases[] = {
        {"zeros keep 9600/N/7/1 and select the port, no handshake", 3, 0, 0, 0, 0, 0, 1, 3, 9600,
         'N', 7, 1, 0},
        {"a parity the settings text rejects: only the port changes", 5, 19200, 'Q', 8, 1, 0, 0, 5,
         9600, 'N', 7, 1, 3},
        {"all values taken, lower-case parity", 2, 19200, 'e', 8, 2, 1, 1, 2, 19200, 'e', 8, 2, 1},
        {"nine data bits rejected", 1, 0, 0, 9, 0, 2, 0, 1, 9600, 'N', 7, 1, 3},
        {"three stop bits rejected", 1, 0, 0, 0, 3, 2, 0, 1, 9600, 'N', 7, 1, 3},
        {"negative baud rate rejected", 1, -1, 0, 0, 0, 2, 0, 1, 9600, 'N', 7, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CSerial channel;
        EXPECT_EQ(channel.SetPortParameters(c.port, c.baud, c.parity, c.data, c.stop, c.handshake),
                  c.result);
        EXPECT_EQ(channel.GetPortNumber(), c.wantPort);
        EXPECT_EQ(channel.GetBaudRate(), c.wantBaud);
        EXPECT_EQ(channel.GetParity(), c.wantParity);
        EXPECT_EQ(channel.GetDataBits(), c.wantData);
        EXPECT_EQ(channel.GetStopBits(), c.wantStop);
        EXPECT_EQ(channel.GetHandshake(), c.wantHandshake);
        EXPECT_FALSE(channel.IsOpen());
    }
}

TEST_F(PtyFixture, OpenAppliesStoredSettingsAndLaterChanges) {
    CSerial channel;
    ASSERT_EQ(channel.SetPortParameters(kPort, 0, 0, 0, 0, 0), 1);
    ASSERT_EQ(channel.Open(), 1);
    termios t = DeviceSettings();
    // A pseudo-terminal always keeps 8 data bits without parity, so only the speed and
    // the stop bits show.
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B9600});
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u) << "a carriage return must arrive unchanged";

    ASSERT_EQ(channel.SetPortParameters(kPort, 19200, 'E', 8, 2, 0), 1);
    t = DeviceSettings();
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B19200});
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t{CSTOPB});

    // A rate the platform has no code for is refused on an open port; nothing changes.
    EXPECT_EQ(channel.SetPortParameters(kPort, 12345, 0, 0, 0, 0), 0);
    EXPECT_EQ(channel.GetBaudRate(), 19200);
}

TEST_F(PtyFixture, HandshakeModes) {
    struct Case {
        const char* legend;
        int handshake;
        bool hardware, software;
    };
    const Case cases[] = {
        {"1 is RTS/CTS", 1, true, false},
        {"2 is XON/XOFF", 2, false, true},
        {"3, the constructor's value, is none", 3, false, false},
        {"0 is none", 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CSerial channel;
        ASSERT_EQ(channel.SetPortParameters(kPort, 0, 0, 0, 0, c.handshake), 1);
        ASSERT_EQ(channel.Open(), 1);
        const termios t = DeviceSettings();
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.hardware);
        EXPECT_EQ((t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), c.software);
        if (c.software) {
            EXPECT_EQ(t.c_cc[VSTART], 0x11);
            EXPECT_EQ(t.c_cc[VSTOP], 0x13);
        }
    }
}

TEST_F(PtyFixture, MessageInTwoReadsBecomesOneMessage) {
    CSerial channel;
    ASSERT_EQ(channel.SetPortParameters(kPort, 19200, 'N', 8, 1, 0), 1);
    ASSERT_EQ(channel.Open(), 1);
    channel.SetTerminator(13);

    SendToChannel("1.0 2.0");
    ASSERT_TRUE(WaitFor([&] { return UnreadByChannel() == 0; }));
    // Lets the read end at its 25 ms interval, so the rest comes in a second read.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.GetMessageLength(), 0);
    SendToChannel(" 3.0\r4.0");
    EXPECT_EQ(DrainMessages(channel, 1), std::vector<std::string>{"1.0 2.0 3.0\r"});
    SendToChannel(" 5.0\r");
    EXPECT_EQ(DrainMessages(channel, 1), std::vector<std::string>{"4.0 5.0\r"});
}

TEST_F(PtyFixture, WritesArrive) {
    CSerial channel;
    ASSERT_EQ(channel.SetPortParameters(kPort, 0, 0, 8, 0, 0), 1);
    ASSERT_EQ(channel.Open(), 1);
    EXPECT_EQ(channel.Write("POS\r", 4, 0), 4);
    EXPECT_EQ(ReceiveFromChannel(4), "POS\r");

    // More than the terminal buffers at once: Write waits for the reader.
    std::string big;
    for (int i = 0; big.size() < 20000; ++i) {
        big += std::to_string(i) + "\r";
    }
    std::string received;
    std::thread reader([&] { received = ReceiveFromChannel(big.size()); });
    EXPECT_EQ(channel.Write(big.data(), static_cast<int>(big.size()), 0),
              static_cast<int>(big.size()));
    reader.join();
    EXPECT_EQ(received, big);
}

TEST_F(PtyFixture, WriteToStalledLineGivesUpAfterSixAttempts) {
    CSerial channel;
    ASSERT_EQ(channel.SetPortParameters(kPort, 0, 0, 8, 0, 0), 1);
    ASSERT_EQ(channel.Open(), 1);
    const std::string big(1 << 20, 'x');  // far more than the terminal buffers
    const auto start = std::chrono::steady_clock::now();
    const int written = channel.Write(big.data(), static_cast<int>(big.size()), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
    // Six attempts of one write time-out each, with room for a slow machine.
    EXPECT_LT(elapsed, std::chrono::seconds(30));
}

TEST_F(PtyFixture, OpenFailuresLeaveChannelClosed) {
    struct Case {
        const char* legend;
        const char* path;
    };
    const Case cases[] = {
        {"no such device", "/nonexistent/ttyS0"},
        {"not a terminal", "/dev/null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ::setenv("TACTUS_COM43", c.path, 1);
        CSerial channel;
        ASSERT_EQ(channel.SetPortParameters(43, 0, 0, 0, 0, 0), 1);
        EXPECT_EQ(channel.Open(), 0);
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_TRUE(channel.GetErrorFlag());
        EXPECT_EQ(channel.Write("POS\r", 4, 0), 0);
    }
    ::unsetenv("TACTUS_COM43");
    // Permission is refused to root only by the device's owner group, which the text names.
    EXPECT_EQ(SerialPort::OpenFailureReason("/dev/null", EACCES),
              "Permission denied; the user must be in the group \"root\" that owns /dev/null");
}

TEST_F(PtyFixture, CloseStopsEverythingAndDiscardsMessages) {
    CSerial never;
    EXPECT_EQ(never.Close(), 1);  // closed: nothing to do
    EXPECT_FALSE(never.IsOpen());

    auto cycle = [&](bool leaveMessage) {
        CSerial channel;
        ASSERT_EQ(channel.SetPortParameters(kPort, 0, 0, 0, 0, 0), 1);
        ASSERT_EQ(channel.Open(), 1);
        channel.SetTerminator(13);
        if (leaveMessage) {
            SendToChannel("X\r");
            ASSERT_TRUE(WaitFor([&] { return channel.GetMessageLength() != 0; }));
        }
        EXPECT_EQ(channel.Close(), 1);
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_EQ(channel.GetMessageLength(), 0);
        EXPECT_EQ(channel.Close(), 1);
    };
    cycle(true);
    const int descriptors = CountProcEntries("fd");
    const int threads = CountProcEntries("task");
    for (int i = 0; i < 100 && !HasFatalFailure(); ++i) {
        cycle(i % 10 == 0);
    }
    EXPECT_EQ(CountProcEntries("fd"), descriptors);
    EXPECT_EQ(CountProcEntries("task"), threads);
}

}  // namespace
