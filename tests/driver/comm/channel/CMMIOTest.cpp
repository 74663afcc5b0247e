// Line assembly, splitting and the receive queue of the channel base.

#include "driver/comm/channel/CMMIO.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// A channel without a connection: the test thread plays the reading thread.
class LoopChannel : public CMMIO {
  public:
    int Write(const char* data, int length, int) override {
        written.append(data, static_cast<size_t>(length));
        return length;
    }
    void Receive(const std::string& block) {
        OnDataReceived(block.data(), static_cast<int>(block.size()), false);
    }
    std::string written;
};

std::vector<std::string> Drain(CMMIO& channel) {
    std::vector<std::string> messages;
    std::vector<char> buffer(CMMIO::kLineBufferSize);
    while (const int length = channel.GetMessageLength()) {
        EXPECT_EQ(channel.ReadMessage(buffer.data()), length);
        messages.emplace_back(buffer.data(), static_cast<size_t>(length));
    }
    return messages;
}

struct AssemblyCase {
    const char* legend;
    std::optional<char> terminator;  // none: SetTerminator never called
    std::vector<std::string> blocks;
    std::vector<std::string> messages;
};

TEST(CMMIOTest, LineAssembly) {
    const std::string k(CMMIO::kLineBufferSize, 'k');
    const AssemblyCase cases[] = {
        {"a line continues in the next block", '\n', {"A,1\nB,", "2\n"}, {"A,1\n", "B,2\n"}},
        {"before SetTerminator each block is one message",
         std::nullopt,
         {"A,1\nB,", "2\n"},
         {"A,1\nB,", "2\n"}},
        {"a lone terminator is a one-byte message", '\n', {"\n"}, {"\n"}},
        {"lines of one block come out in order", '\n', {"a\nbb\nccc\n"}, {"a\n", "bb\n", "ccc\n"}},
        {"carriage return as terminator", '\r', {"1.0 2.0", " 3.0\r"}, {"1.0 2.0 3.0\r"}},
        {"no terminator yet: nothing queued", '\n', {"abc", "def"}, {}},
        {"zero bytes are message content",
         '\n',
         {std::string("a\0b\n", 4)},
         {std::string("a\0b\n", 4)}},
        {"full buffer without terminator ends the message", '\n', {k, "tail\n"}, {k, "tail\n"}},
        {"a terminator exactly at the limit", '\n', {k.substr(1), "\n"}, {k.substr(1) + "\n"}},
        {"a long run is cut at every limit, the rest waits",
         '\n',
         {std::string(40000, 'x'), "\n"},
         {std::string(16000, 'x'), std::string(16000, 'x'), std::string(8000, 'x') + "\n"}},
        {"a block longer than the buffer in block mode",
         std::nullopt,
         {std::string(20000, 'b')},
         {std::string(16000, 'b'), std::string(4000, 'b')}},
    };
    for (const AssemblyCase& c : cases) {
        SCOPED_TRACE(c.legend);
        LoopChannel channel;
        if (c.terminator) {
            channel.SetTerminator(*c.terminator);
        }
        for (const std::string& block : c.blocks) {
            channel.Receive(block);
        }
        EXPECT_EQ(Drain(channel), c.messages);
    }
}

TEST(CMMIOTest, FailedAndEmptyReadsAddNothing) {
    LoopChannel channel;
    channel.SetTerminator('\n');
    const char junk[] = "junk\n";
    channel.OnDataReceived(junk, -1, false);
    channel.OnDataReceived(junk, 0, false);
    channel.OnDataReceived(nullptr, 5, false);
    EXPECT_EQ(channel.GetMessageLength(), 0);
    channel.Receive("x\n");
    EXPECT_EQ(Drain(channel), std::vector<std::string>{"x\n"});
}

TEST(CMMIOTest, ReadMessageCopiesExactlyTheMessage) {
    LoopChannel channel;
    char destination[8] = "ZZZZZZZ";
    // Empty queue: 0, destination untouched.
    EXPECT_EQ(channel.GetMessageLength(), 0);
    EXPECT_EQ(channel.ReadMessage(destination), 0);
    EXPECT_STREQ(destination, "ZZZZZZZ");

    channel.SetTerminator('\n');
    channel.Receive("ab\ncd\nef\n");
    EXPECT_EQ(channel.GetMessageLength(), 3);  // the terminator counts
    EXPECT_EQ(channel.ReadMessage(destination), 3);
    EXPECT_STREQ(destination, "ab\nZZZZ");       // no terminating zero added
    EXPECT_EQ(channel.ReadMessage(nullptr), 3);  // discards "cd\n"
    EXPECT_EQ(channel.ReadMessage(destination), 3);
    EXPECT_EQ(std::string(destination, 3), "ef\n");
    EXPECT_EQ(channel.ReadMessage(destination), 0);
}

TEST(CMMIOTest, CloseDiscardsQueuedMessages) {
    LoopChannel channel;
    channel.SetTerminator('\n');
    channel.Receive("a\nb\n");
    EXPECT_EQ(channel.Close(), 1);
    EXPECT_EQ(channel.GetMessageLength(), 0);
}

TEST(CMMIOTest, CallbackReceivesMessagesInsteadOfQueue) {
    LoopChannel channel;
    channel.SetTerminator('\n');
    std::vector<std::wstring> seen;
    channel.SetMessageCallback([&](std::wstring m) { seen.push_back(std::move(m)); });
    channel.Receive("caf\xE9\nB,");
    channel.Receive("2\n");
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"caf\u00E9\n", L"B,2\n"}));
    EXPECT_EQ(channel.GetMessageLength(), 0);

    channel.SetMessageCallback(nullptr);
    channel.Receive("q\n");
    EXPECT_EQ(Drain(channel), std::vector<std::string>{"q\n"});
}

TEST(CMMIOTest, WriteStringSendsLowBytesOfUtf16Units) {
    struct Case {
        const char* legend;
        std::wstring text;
        std::string bytes;
    };
    const Case cases[] = {
        {"plain text", L"POS", "POS"},
        {"Latin-1 letters keep their code", L"\u00E9", "\xE9"},
        {"wider characters keep their low byte", L"\u0141\u2013", std::string("\x41\x13")},
        {"a character beyond the basic plane is two units", L"\U0001F600",
         std::string("\x3D\x00", 2)},
        {"only the first 2,048 units are sent", std::wstring(3000, L'a'), std::string(2048, 'a')},
        {"the limit can cut a surrogate pair", std::wstring(2047, L'a') + L"\U0001F600",
         std::string(2047, 'a') + "\x3D"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        LoopChannel channel;
        EXPECT_EQ(channel.WriteString(c.text, 0), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(channel.written, c.bytes);
    }
}

// The reading thread queues while the host thread drains: nothing lost, nothing reordered
// (fewer lines than the queue holds, so none is dropped however far the drain lags).
TEST(CMMIOTest, ConcurrentQueueingAndDraining) {
    LoopChannel channel;
    channel.SetTerminator('\n');
    constexpr int kLines = static_cast<int>(CMMIO::kMaxQueuedMessages) - 1;
    std::thread reader([&] {
        std::string pending;
        for (int i = 0; i < kLines; ++i) {
            pending += std::to_string(i) + "\n";
            // Uneven blocks, so lines are split across them.
            if (pending.size() > static_cast<size_t>(7 + i % 13)) {
                channel.Receive(pending.substr(0, pending.size() - 2));
                pending.erase(0, pending.size() - 2);
            }
        }
        channel.Receive(pending);
    });
    std::vector<char> buffer(CMMIO::kLineBufferSize);
    int next = 0;
    while (next < kLines) {
        if (channel.GetMessageLength() == 0) {
            std::this_thread::yield();
            continue;
        }
        const int length = channel.ReadMessage(buffer.data());
        ASSERT_EQ(std::string(buffer.data(), static_cast<size_t>(length)),
                  std::to_string(next) + "\n");
        ++next;
    }
    reader.join();
    EXPECT_EQ(channel.GetMessageLength(), 0);
}

// Long lines fill the byte bound before the line bound: the oldest go, the newest stay.
// (What a full queue drops first is tested with the driver, which classifies.)
TEST(CMMIOTest, FullQueueKeepsItsByteBound) {
    LoopChannel channel;
    channel.SetTerminator('\n');
    const size_t fit = CMMIO::kMaxQueuedBytes / 16000;
    for (size_t i = 0; i < fit + 4; ++i) {
        const std::string name = std::to_string(i) + ".";
        channel.Receive(name + std::string(16000 - name.size() - 1, 'x') + "\n");
    }
    EXPECT_EQ(channel.Dropped().others, 4u);
    const std::vector<std::string> queued = Drain(channel);
    ASSERT_EQ(queued.size(), fit);
    EXPECT_EQ(queued.front().substr(0, 2), "4.");
}

}  // namespace
