// VexServer "POS" round trip over loopback, beside the physical floor.
//
// The real build/bin/VexServer runs with the simulator library in a temporary folder,
// hidden, on a free port of 127.0.0.1; one persistent connection sends "POS" and waits
// for the whole answer line, thousands of times. The baseline is a trivial echo server of
// our own that answers every receive with a line of the same length, run as a child
// process, so that it pays what VexServer pays besides its own work: loopback, system
// calls and waking a sleeping process. The same echo server on a thread of this process
// is shown too. All are measured in alternating blocks in the same run, so a change in
// machine load hits them alike.
//
// Where the processes run changes the figures more than anything they do (on a virtual
// machine a wake-up on another CPU costs tens of microseconds), so each placement is
// measured on its own with fixed CPUs: everything on one CPU, and the client on one CPU
// with the servers on another.
//
// Prints one table: figure, value, baseline, ratio, aim. Arguments are ignored (the
// bench runner passes Google Benchmark options to every program).
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr int kWarmUp = 500;
constexpr int kRounds = 20;
constexpr int kPerRound = 250;  // 5000 samples each
constexpr double kAimRatio = 1.5;

// The machine stands still at a point whose answer has the usual width.
constexpr char kScript[] = "start 100 50 20 90\npause 100000\n";
constexpr char kPosition[] = "100.000000 50.000000 20.000000 90.000000";
constexpr char kAnswer[] = "( 100.000000 50.000000 20.000000 90.000000 ) 235\r\n";

// A client connection driven with blocking calls, as a driver's reader does.
class Connection {
  public:
    explicit Connection(int fd) : fd_(fd) {
        // RawClient leaves its socket non-blocking.
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }
    // Sends "POS" and reads until a line ends in " 235\r\n"; false on any failure.
    bool RoundTrip() {
        if (::send(fd_, "POS", 3, MSG_NOSIGNAL) != 3)
            return false;
        for (;;) {
            const std::size_t end = pending_.find("\r\n");
            if (end != std::string::npos) {
                const bool answer = end >= 4 && pending_.compare(end - 4, 6, " 235\r\n") == 0;
                pending_.erase(0, end + 2);
                if (answer)
                    return true;
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            pending_.append(chunk, std::size_t(n));
        }
    }

  private:
    int fd_;
    std::string pending_;
};

// Answers every receive of one connection with kAnswer until the client closes.
void ServeEcho(int listener) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char request[4096];
    while (::recv(fd, request, sizeof request, 0) > 0) {
        if (::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL) < 0)
            break;
    }
    ::close(fd);
}

// The floor: one blocking loop on 127.0.0.1, in a child process or on a thread.
class EchoServer {
  public:
    explicit EchoServer(bool ownProcess) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        if (!ownProcess) {
            thread_ = std::thread([this] { ServeEcho(listener_); });
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            // Only plain system calls from here on, then out without running any of the
            // parent's clean-up.
            ServeEcho(listener_);
            ::_exit(0);
        }
        if (child_ < 0)
            port_ = 0;
    }
    ~EchoServer() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        ::close(listener_);
    }
    uint16_t Port() const { return port_; }
    pid_t Child() const { return child_; }
    std::thread& Thread() { return thread_; }

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    pid_t child_ = -1;
    std::thread thread_;
};

cpu_set_t OneCpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return set;
}

// Moves every thread of process `pid` to `cpu`.
void PinProcess(pid_t pid, int cpu) {
    const cpu_set_t set = OneCpu(cpu);
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error))
        ::sched_setaffinity(pid_t(std::stoi(task.path().filename().string())), sizeof set, &set);
}

void PinThread(std::thread& thread, int cpu) {
    const cpu_set_t set = OneCpu(cpu);
    ::pthread_setaffinity_np(thread.native_handle(), sizeof set, &set);
}

void PinThisThread(int cpu) {
    const cpu_set_t set = OneCpu(cpu);
    ::pthread_setaffinity_np(::pthread_self(), sizeof set, &set);
}

// The CPUs this process may use, lowest first.
std::vector<int> AllowedCpus() {
    cpu_set_t set;
    std::vector<int> cpus;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set))
                cpus.push_back(cpu);
        }
    }
    return cpus;
}

double Percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    const std::size_t index =
        std::min(samples.size() - 1, std::size_t(fraction * double(samples.size())));
    return samples[index];
}

bool Measure(Connection& connection, int count, std::vector<double>* samples) {
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!connection.RoundTrip())
            return false;
        if (samples)
            samples->push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return true;
}

// One line of the table; `aim` is the largest acceptable ratio, 0 for a figure shown
// for information (tail latencies on a shared machine say more about the machine).
void Row(const char* figure, double value, double baseline, double aim) {
    const double ratio = value / baseline;
    char aimText[32] = "-";
    if (aim > 0)
        std::snprintf(aimText, sizeof aimText, "<= %.1f %s", aim, ratio <= aim ? "met" : "NOT MET");
    std::printf("%-34s %9.1f us %9.1f us %6.2f   %s\n", figure, value, baseline, ratio, aimText);
}

}  // namespace

int main(int, char**) {
    // The echo child is forked before anything else runs, from a process without threads.
    EchoServer echoProcess(true);
    ServerProcess server;
    RawClient vexClient;
    ServerOptions options;
    options.script = kScript;
    if (!server.StartAndConnect(options, vexClient, Millis(60000))) {
        std::fprintf(stderr, "server_bench: VexServer did not start: %s\n",
                     server.Stderr().toLocal8Bit().constData());
        return 1;
    }
    // Until the first poll the answer is zeros; wait for the machine's position.
    for (auto deadline = Clock::now() + Millis(30000); Clock::now() < deadline;) {
        const auto answer = vexClient.Ask("POS", 235, Millis(5000));
        if (answer && *answer == kPosition)
            break;
    }

    EchoServer echoThread(false);
    RawClient processClient, threadClient;
    if (echoProcess.Port() == 0 || echoThread.Port() == 0 ||
        !processClient.Connect(echoProcess.Port(), Millis(10000)) ||
        !threadClient.Connect(echoThread.Port(), Millis(10000))) {
        std::fprintf(stderr, "server_bench: an echo server did not start\n");
        return 1;
    }

    Connection vex(vexClient.Descriptor());
    Connection floor(processClient.Descriptor());
    Connection inProcess(threadClient.Descriptor());
    struct Placement {
        const char* name;
        int clientCpu;
        int serverCpu;
        std::vector<double> vex, floor, thread;
    };
    const std::vector<int> cpus = AllowedCpus();
    std::vector<Placement> placements;
    if (!cpus.empty())
        placements.push_back({"one CPU", cpus[0], cpus[0], {}, {}, {}});
    if (cpus.size() > 1)
        placements.push_back({"two CPUs", cpus[0], cpus[1], {}, {}, {}});
    bool ok = !placements.empty();
    for (Placement& p : placements) {
        PinThisThread(p.clientCpu);
        PinProcess(pid_t(server.Pid()), p.serverCpu);
        PinProcess(echoProcess.Child(), p.serverCpu);
        PinThread(echoThread.Thread(), p.serverCpu);
        ok = ok && Measure(vex, kWarmUp, nullptr) && Measure(floor, kWarmUp, nullptr) &&
             Measure(inProcess, kWarmUp, nullptr);
        for (int round = 0; ok && round < kRounds; ++round)
            ok = Measure(vex, kPerRound, &p.vex) && Measure(floor, kPerRound, &p.floor) &&
                 Measure(inProcess, kPerRound, &p.thread);
    }
    vexClient.SendAll("EXI", Millis(5000));
    server.WaitForExit(Millis(30000));
    if (!ok) {
        std::fprintf(stderr, "server_bench: a round trip failed\n");
        return 1;
    }

    std::printf(
        "VexServer POS round trip over loopback, one persistent connection, %d samples "
        "per figure\n",
        kRounds * kPerRound);
    std::printf(
        "baseline: echo server in a child process answering a line of the same length "
        "(%zu bytes), measured alongside\n",
        sizeof kAnswer - 1);
    std::printf("%-34s %12s %12s %6s   %s\n", "figure", "value", "baseline", "ratio", "aim");
    for (const Placement& p : placements) {
        const std::string name = std::string(", ") + p.name;
        const double floorMedian = Percentile(p.floor, 0.5);
        Row(("POS round trip, median" + name).c_str(), Percentile(p.vex, 0.5), floorMedian,
            kAimRatio);
        Row(("POS round trip, p99" + name).c_str(), Percentile(p.vex, 0.99),
            Percentile(p.floor, 0.99), 0);
        Row(("echo on a thread, median" + name).c_str(), Percentile(p.thread, 0.5), floorMedian, 0);
    }
    return 0;
}
