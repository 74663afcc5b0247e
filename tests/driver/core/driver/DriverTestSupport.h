#pragma once
// What the driver tests share: the host set-up (Qt application, working folder holding the
// machine file, settings file, debug log), a machine file builder, a scripted position
// server on a loopback socket, and waits that keep the host's event loop turning.
//
// The tests drive libTactus.so only through its exported entry points, as the host does.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/HostRecorder.h"

namespace drivertest {

// Creates the Qt application (offscreen), a temporary working folder that becomes the
// current directory, and points SETVAULT_INI at an empty settings file in it. Idempotent.
void SetUpHostProcess();
// The working folder (absolute, no trailing slash).
std::string WorkFolder();
// Replaces the settings file by an empty one; with a log path, stores DebugLog=TRUE and
// DebugFile=logPath first so that start-up opens the debug log there.
void ResetSettings(const std::string& logPath = {});
// Closes the debug log file the driver opened (the host's object keeps it open otherwise).
void CloseDebugLog();
// Resets the host stand-in: its answers, its records and the machine records.
void ResetHost();

// The machine file TACConfigData.xml, written into the working folder by Write().
struct MachineFile {
    std::string cmm = "TestCMM";
    std::string transport = "TCP";
    std::string address = "localhost";
    int port = 0;
    int axisX = 0, axisY = 2, axisZ = 4;
    std::string readoutButton = "false";
    std::string requestInterval = "20";
    std::string startExe;
    std::string autoResetCounters = "false";
    std::string initCommand;
    std::string takeHit = "HIT";
    std::string getPosition = "POS";
    // The server's own formats: hit x y z w i j k 237, position x y z w 235.
    std::string hitReply = "\"( %lf %lf %lf %lf %lf %lf %lf ) %3c\"";
    std::string positionReply = "\"( %lf %lf %lf %lf ) %3c\"";
    // Extra children of CommInfo (raw XML), e.g. a GPIB child.
    std::string extraCommInfo;

    std::string Xml() const;
    void Write() const;
};
// Removes TACConfigData.xml from the working folder.
void RemoveMachineFile();

// A position server on 127.0.0.1 that a test scripts: it accepts clients one after the
// other, records what they send, answers requests ("POS", "HIT", ...) with the replies set by
// Answer(), and sends whatever Send() is given. Requests carry no terminator, so the received
// stream is cut into the known request words.
class ScriptedPeer {
  public:
    // On a free port, or on `port` (a server started again where the last one was).
    explicit ScriptedPeer(int port = 0);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int Port() const { return port_; }
    // Replies to every later `request` with `reply` (empty: no answer). "POS" and "HIT" are
    // known from the start, without an answer.
    void Answer(const std::string& request, const std::string& reply);
    // Sends bytes to the connected client (waits for a client first).
    void Send(const std::string& bytes);
    // How often `request` arrived; everything received.
    int Count(const std::string& request) const;
    std::string Received() const;
    bool Connected() const { return connected_; }
    // True once a client that was connected has closed its end.
    bool ClientClosed() const { return clientClosed_; }

  private:
    void Run();
    void Consume();

    int listener_ = -1;
    int client_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> clientClosed_{false};
    mutable std::mutex lock_;
    std::map<std::string, std::string> answers_;  // guarded by lock_
    std::map<std::string, int> counts_;           // guarded by lock_
    std::string received_;                        // guarded by lock_
    std::size_t consumed_ = 0;                    // guarded by lock_
    std::string outbox_;                          // guarded by lock_
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens right now.
int FreePort();

// Runs the host's event loop until `condition` holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000);
// Runs the event loop for about `ms` (only where a test must show that nothing happens).
void Idle(int ms);

// Reads the debug log written since the mark was taken.
class LogMark {
  public:
    // From the end of the file as it is now, or from its start. With an empty path (no log
    // open yet) it covers the whole file that is open when Text() is called.
    explicit LogMark(std::string path, bool fromStart = false);
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

  private:
    std::string path_;
    std::size_t offset_;
};
std::string ReadFile(const std::string& path);
// The debug log file the host's debug-output object writes to now.
std::string CurrentLogPath();

// Events of one kind recorded by the host stand-in.
std::vector<HostEvent> Events(HostEventKind kind);

}  // namespace drivertest
