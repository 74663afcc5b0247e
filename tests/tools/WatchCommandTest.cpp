// Drives the real `tactus-tool watch` against a fake position server on 127.0.0.1: the
// server greets, answers "POS" and "HIT" and pushes a hit notice; the test checks what
// the tool prints, what it sends and how it ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(60);  // generous: the machine is shared

const std::string kGreeting = "( VEXVersion:20 ) 240\r\n";
const std::string kPosition = "( 12.500000 -3.000000 0.000000 90.000000 ) 235\r\n";
const std::string kHitNotice = "( HIT ) 241\r\n";
const std::string kHitData =
    "( 1.000000 2.000000 -3.500000 45.000000 0.000000 -0.600000 0.800000 ) 237\r\n";

// A one-connection server on an ephemeral port of 127.0.0.1, run on its own thread.
class FakeServer {
  public:
    // The hit notice follows the answer to the `hitAfter`-th "POS" (0: never); the
    // server closes after `closeAfter` more position answers once the hit was fetched
    // (-1: serves until the client leaves).
    FakeServer(int hitAfter, int closeAfter) : hitAfter_(hitAfter), closeAfter_(closeAfter) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 1);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }

    int Port() const { return port_; }
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    // Waits for `fd` to become readable; false when the server is told to stop.
    bool WaitReadable(int fd) {
        const auto until = Clock::now() + kDeadline;
        while (!stop_ && Clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0)
                return true;
        }
        return false;
    }
    void Serve() {
        if (!WaitReadable(listener_))
            return;
        const int client = accept(listener_, nullptr, nullptr);
        auto send = [client](const std::string& s) { ::send(client, s.data(), s.size(), 0); };
        send(kGreeting);
        int positions = 0, afterHit = -1;
        char buf[4096];
        while (WaitReadable(client)) {
            const ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            const std::string request(buf, size_t(n));
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            if (request == "POS") {
                send(kPosition);
                if (++positions == hitAfter_)
                    send(kHitNotice);
                if (afterHit >= 0 && ++afterHit == closeAfter_)
                    break;
            } else if (request == "HIT") {
                send(kHitData);
                afterHit = 0;
            }
        }
        close(client);
    }

    int hitAfter_, closeAfter_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// The tool as a child process with stdout and stderr on one pipe.
class ToolProcess {
  public:
    explicit ToolProcess(const std::vector<std::string>& args) {
        const std::string tool = std::string(std::getenv("VEX_BIN_DIR")) + "/tactus-tool";
        std::vector<std::string> all{tool};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        pipe(fds);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        spawned_ = posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~ToolProcess() {
        if (!reaped_ && spawned_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }

    // Reads output until it contains `text` or the output ends; true when found.
    bool WaitForOutput(const std::string& text) {
        const auto until = Clock::now() + kDeadline;
        while (output_.find(text) == std::string::npos && Clock::now() < until) {
            if (!ReadSome())
                return false;
        }
        return output_.find(text) != std::string::npos;
    }
    void Signal(int signal) { kill(pid_, signal); }
    // Reads to the end and returns the exit status (-1: no normal exit).
    int Finish() {
        const auto until = Clock::now() + kDeadline;
        while (Clock::now() < until && ReadSome()) {
        }
        int status = 0;
        if (Clock::now() >= until)
            kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(output_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

  private:
    // False at the end of the output.
    bool ReadSome() {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            return true;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0)
            return false;
        output_.append(buf, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    bool spawned_ = false;
    bool reaped_ = false;
    int out_ = -1;
    std::string output_;
};

std::string Endpoint(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return lines.size();
}

TEST(WatchCommand, PrintsGreetingPositionsAndHitThenEndsWhenServerCloses) {
    FakeServer server(/*hitAfter=*/2, /*closeAfter=*/2);
    // --duration only bounds a broken run; the server's close ends this one.
    ToolProcess tool({"watch", Endpoint(server.Port()), "--duration", "60"});
    ASSERT_EQ(tool.Finish(), 0) << tool.Output();

    const std::vector<std::string> lines = tool.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "connected to " + Endpoint(server.Port()));
    const size_t greeting = IndexOf(lines, "greeting: VEXVersion:20");
    const size_t position = IndexOf(lines, "position: 12.500000 -3.000000 0.000000 90.000000");
    const size_t notice = IndexOf(lines, "hit notice");
    const size_t hit = IndexOf(lines,
                               "hit: 1.000000 2.000000 -3.500000 45.000000 vector: 0.000000 "
                               "-0.600000 0.800000");
    EXPECT_LT(greeting, position) << tool.Output();
    EXPECT_LT(position, notice) << tool.Output();
    EXPECT_LT(notice, hit) << tool.Output();
    EXPECT_LT(hit, lines.size() - 1) << tool.Output();
    EXPECT_EQ(lines.back(), "server closed the connection");

    // One request per receive: two requests sent together would reach the server joined.
    int hits = 0;
    for (const std::string& r : server.Requests()) {
        EXPECT_TRUE(r == "POS" || r == "HIT") << "request '" << r << "'";
        hits += r == "HIT";
    }
    EXPECT_EQ(hits, 1);
}

TEST(WatchCommand, StopsCleanlyOnSignalsAndAfterItsDuration) {
    struct Row {
        const char* legend;
        int signal;  // 0: none, the duration ends the run
        std::vector<std::string> extra;
    } rows[] = {
        {"Ctrl-C", SIGINT, {}},
        {"terminate", SIGTERM, {}},
        {"duration", 0, {"--duration", "0.5"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        FakeServer server(/*hitAfter=*/0, /*closeAfter=*/-1);
        std::vector<std::string> args{"watch", Endpoint(server.Port())};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        ToolProcess tool(args);
        ASSERT_TRUE(tool.WaitForOutput("position: ")) << tool.Output();
        if (row.signal)
            tool.Signal(row.signal);
        EXPECT_EQ(tool.Finish(), 0) << tool.Output();
        EXPECT_EQ(tool.Output().find("server closed"), std::string::npos);
    }
}

TEST(WatchCommand, UnreachableServerFailsWithStatus1) {
    // A port that was just free and has no listener.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    close(probe);
    const std::string endpoint = Endpoint(ntohs(addr.sin_port));

    ToolProcess tool({"watch", endpoint});
    EXPECT_EQ(tool.Finish(), 1);
    EXPECT_NE(tool.Output().find("tactus-tool watch: cannot connect to " + endpoint),
              std::string::npos)
        << tool.Output();
}

TEST(WatchCommand, BadArgumentsShowUsageWithStatus2) {
    struct Row {
        const char* legend;
        std::vector<std::string> args;
    } rows[] = {
        {"no endpoint", {"watch"}},
        {"no port", {"watch", "localhost"}},
        {"port 0", {"watch", "localhost:0"}},
        {"port too large", {"watch", "localhost:65536"}},
        {"two endpoints", {"watch", "a:1", "b:2"}},
        {"duration without value", {"watch", "a:1", "--duration"}},
        {"negative duration", {"watch", "a:1", "--duration", "-2"}},
    };
    for (const Row& row : rows) {
        ToolProcess tool(row.args);
        EXPECT_EQ(tool.Finish(), 2) << row.legend;
        EXPECT_NE(tool.Output().find("usage: tactus-tool watch HOST:PORT"), std::string::npos)
            << row.legend << ": " << tool.Output();
    }
}

}  // namespace
