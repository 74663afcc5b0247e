#include "driver/core/driver/ServerProcess.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QString>

#include "driver/core/machine/StartCommand.h"

extern char** environ;

namespace {

std::string Local(const std::wstring& text) {
    return QString::fromStdWString(text).toLocal8Bit().toStdString();
}

std::wstring Wide(const char* text) {
    return QString::fromLocal8Bit(text).toStdWString();
}

std::wstring CurrentDirectory() {
    std::error_code error;
    return std::filesystem::current_path(error).wstring();
}

// Directory of the program that loaded the driver.
std::wstring ProgramDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::wstring() : exe.parent_path().wstring();
}

// The child between fork and exec: only async-signal-safe calls from here on. Reports a
// failed exec through `report` (closed on a successful exec) and never returns.
[[noreturn]] void RunChild(char* const argv[], int report, pid_t parent, const sigset_t& mask) {
#ifdef __linux__
    // End with the host. A host that ended before this line would never send the signal.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
#endif
    // The host's sockets, log file and pipes stay with the host.
    if (report > STDERR_FILENO + 1)
        close_range(STDERR_FILENO + 1, static_cast<unsigned>(report - 1), 0);
    close_range(static_cast<unsigned>(report + 1), ~0u, 0);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    execve(argv[0], argv, environ);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
    _exit(127);
}

std::wstring DescribeEnd(int status) {
    if (WIFEXITED(status))
        return L"exit status " + std::to_wstring(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return L"killed by signal " + std::to_wstring(WTERMSIG(status)) + L" (" +
               Wide(strsignal(WTERMSIG(status))) + L")";
    return L"wait status " + std::to_wstring(status);
}

}  // namespace

bool ServerProcess::Start(const std::wstring& commandLine) {
    error_.clear();
    const StartCommand command = SplitStartCommand(commandLine);
    if (command.program.empty()) {
        error_ = L"empty command line";
        return false;
    }
    const std::wstring program =
        FindStartProgram(command.program, CurrentDirectory(), ProgramDirectory());
    if (program.empty()) {
        error_ = L"program not found";
        return false;
    }

    std::vector<std::string> words;
    words.push_back(Local(program));
    for (const std::wstring& argument : command.arguments)
        words.push_back(Local(argument));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error_ = Wide(std::strerror(errno));
        return false;
    }
    // No handler of the host may run in the child before exec (it would act on the host's
    // descriptors): signals stay blocked until the child restores the mask.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(argv.data(), report[1], parent, previous);
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        error_ = Wide(std::strerror(forkError));
        return false;
    }
    int childError = 0;
    ssize_t n;
    do {
        n = read(report[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof childError)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        error_ = Wide(std::strerror(childError));
        return false;
    }
    pid_ = pid;
    started_ = true;
    exitText_.clear();
    return true;
}

bool ServerProcess::Reap(int options) {
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid_, &status, options);
    } while (done < 0 && errno == EINTR);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        exitText_ = done == pid_ ? DescribeEnd(status) : L"ended";
        pid_ = 0;
        return true;
    }
    return false;
}

bool ServerProcess::IsRunning() {
    if (pid_ <= 0)
        return false;
    return !Reap(WNOHANG);
}

int ServerProcess::Stop(int waitMs) {
    if (!started_)
        return 0;
    started_ = false;
    if (pid_ <= 0 || Reap(WNOHANG))
        return ESRCH;
    if (kill(pid_, SIGTERM) != 0) {
        const int error = errno;
        Reap(WNOHANG);
        return error;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!Reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            Reap(0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}
