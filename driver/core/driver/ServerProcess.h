#pragma once
// ServerProcess: the position server the driver starts from the machine file's StartEXE and
// stops again at shut-down (POSIX processes; the only file that knows about them).
//
// Start() runs a command line the way a shell-less command line runs: the first word is the
// program (found as FindStartProgram in driver/core/machine/StartCommand.h describes:
// relative to the current directory, beside the host program, then on PATH), the other
// words are its arguments. The child inherits the current directory and environment but no
// open files of the host. On Linux it also ends with the host: it is asked to end (SIGTERM)
// when the thread that started it ends, so a host that crashes or is killed leaves no server
// behind holding the port (start the server from the host's UI thread, which lives as long
// as the host). A server started by hand is not affected. Stop() ends the child and reaps
// it, so no zombie remains.
//
// Owned by the driver core; host UI thread only. Failures are reported by results and the
// error text; nothing throws.

#include <sys/types.h>
#include <string>

class ServerProcess {
  public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Leaves a running child alone: only Stop() ends it.
    ~ServerProcess() = default;

    // Starts the command line. False when the program is not found or cannot be run; the
    // reason is in Error().
    bool Start(const std::wstring& commandLine);
    // True from a successful Start() until Stop(), also when the child ended by itself.
    bool IsStarted() const { return started_; }
    // True while the started child has not ended (reaps it when it has).
    bool IsRunning();
    // Asks the child to end (SIGTERM), forces it after waitMs (SIGKILL) and reaps it.
    // Returns 0 on success, ESRCH when the child had ended already, or the system error
    // number of the failed signal.
    int Stop(int waitMs);

    const std::wstring& Error() const { return error_; }
    pid_t Pid() const { return pid_; }
    // How the child last reaped ended ("exit status 1", "killed by signal 9 (Killed)");
    // empty until one has been.
    const std::wstring& ExitText() const { return exitText_; }

  private:
    bool Reap(int options);

    pid_t pid_ = 0;
    bool started_ = false;
    std::wstring error_;
    std::wstring exitText_;
};
