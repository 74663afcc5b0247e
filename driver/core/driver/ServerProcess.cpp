#include "driver/core/driver/ServerProcess.h"

#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

    // The host's sockets, log file and pipes stay with the host.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error_ = Wide(std::strerror(result));
        return false;
    }
    pid_ = pid;
    started_ = true;
    return true;
}

bool ServerProcess::Reap(int options) {
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid_, &status, options);
    } while (done < 0 && errno == EINTR);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
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
