#pragma once
// Helpers shared by the channel tests: condition waits and resource counts.

#include <dirent.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/comm/channel/CMMIO.h"

namespace channel_test {

// Polls until condition holds or a generous time-out passes; returns the last result.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits for count messages and returns every message queued by then.
inline std::vector<std::string> DrainMessages(CMMIO& channel, size_t count) {
    std::vector<std::string> messages;
    std::vector<char> buffer(CMMIO::kLineBufferSize);
    WaitFor([&] {
        while (const int length = channel.GetMessageLength()) {
            channel.ReadMessage(buffer.data());
            messages.emplace_back(buffer.data(), static_cast<size_t>(length));
        }
        return messages.size() >= count;
    });
    return messages;
}

// Entries of a /proc/self directory: open descriptors ("fd") or threads ("task").
inline int CountProcEntries(const char* what) {
    const std::string path = std::string("/proc/self/") + what;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count - (std::string(what) == "fd" ? 1 : 0);  // the directory's own descriptor
}

}  // namespace channel_test
