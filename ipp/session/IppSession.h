#pragma once
// IppSession: one client connection's I++ DME conversation with this manual Cartesian
// machine: the transactions, the error state, the user's enabling, the daemon that streams
// positions, the reports of the operator's touches and the PtMeas that waits for the next
// one (I++ DME 1.4.3, sections 6, 8 and 9.5). docs/ipp.md lists every command it answers.
//
// The connection hands it every received line and the machine's news (touches, positions,
// the completed measurement, the move-report clock); it answers through SessionOutput and
// asks the machine through Machine. What outlives a session (tools, the active tool, the
// coordinate systems) lives in ServerState, owned by the server. The session owns neither.
//
// Transactions: every line with a readable tag is acknowledged at once ("&") and completed
// ("%") after its data and errors. Commands with an event tag (the fast queue: AbortE,
// GetErrStatusE, GetPropE, OnMoveReportE) run at once; the others run in order, and while a
// PtMeas waits for the operator they wait behind it (at most kMaxQueued).
//
// One thread: the one that runs the connection. Nothing throws.

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipp/protocol/CommandLine.h"
#include "ipp/session/CoordSystems.h"
#include "ipp/session/Machine.h"
#include "ipp/session/ToolTable.h"

namespace ipp {

// What the server keeps from one session to the next (section 9.4).
struct ServerState {
    ToolTable tools;
    std::string activeTool{kRefToolName};
    CoordSystems coordSystems;

    Tool& ActiveTool();
};

class IppSession {
  public:
    // Standard-queue commands that may wait behind a PtMeas; one more is refused with
    // "Buffer full".
    static constexpr std::size_t kMaxQueued = 64;
    // Errors GetXtdErrStatus lists (the latest ones since ClearAllErrors).
    static constexpr std::size_t kMaxHeldErrors = 16;
    // Reports of a move daemon are at least this far apart (at most 10 a second).
    static constexpr double kMinReportInterval = 0.1;

    IppSession(ServerState& state, Machine& machine, SessionOutput& output);
    ~IppSession();
    IppSession(const IppSession&) = delete;
    IppSession& operator=(const IppSession&) = delete;

    // One received line, up to and without its line feed.
    void HandleLine(std::string_view line);
    // A line longer than kMaxLineLength, of which only the start is kept: refused.
    void HandleOverlongLine(std::string_view start);

    // A touch the operator made while no measurement was asked for.
    void OnTouch(const Vec3& point, const Vec3& vector);
    // The measurement begun for a PtMeas got its touch.
    void OnMeasured(const Vec3& point, const Vec3& vector);
    // A new probe position.
    void OnPosition(const Vec3& point);
    // The move-report clock ticked.
    void OnMoveTimer();
    // The connection ended: daemons stop, a waiting PtMeas is given up.
    void Close();

    bool InSession() const { return inSession_; }

  private:
    enum class Item { X, Y, Z, IJK, ToolA, ToolB, ToolC, ER, Q };
    enum class ItemContext { Get, PtMeasReport, MoveReport };
    struct CommandSpec;
    struct HeldError {
        int severity;
        ErrorCode code;
        std::string method;
    };
    struct MoveDaemon {
        Tag tag;
        std::vector<Item> items;
        std::optional<double> interval;  // seconds
        std::optional<double> distance;  // millimetres
        Vec3 lastPoint{};
        double lastTime = -1.0e300;
    };

    static const CommandSpec* FindSpec(std::string_view name);

    void Send(const std::string& line);
    void Receive(Command command);
    void Execute(const Command& command);
    void RunQueue();
    void ReportError(const Tag& tag, ErrorCode code, std::string_view method,
                     std::optional<int> severity = std::nullopt);
    void AbortPending();
    void CompleteMeasurement(const Vec3& point, const Vec3& vector);
    void StopDaemon();
    void ReportMove(const Vec3& point);

    // Parses `arguments` (each an empty property: X(), IJK(), ...) as report items.
    bool ParseItems(const Command& command, const std::vector<Argument>& arguments,
                    ItemContext context, std::vector<Item>& items);
    std::string ItemsText(const std::vector<Item>& items, const Vec3& point,
                          const Vec3& vector) const;
    Tool* FoundTool();
    // Parses a Tool. or FoundTool. property; false (0506 or 0510 reported) when it is none.
    bool LookUpToolProperty(const Command& command, const Argument& argument,
                            ToolProperty& property);
    // The tool the property belongs to: null for FoundTool when no tool was found.
    Tool* ToolOf(const ToolProperty& property);

    // Handlers: false when the command completes later (a waiting PtMeas).
    bool StartSession(const Command& command);
    bool EndSession(const Command& command);
    bool GetDMEVersion(const Command& command);
    bool GetMachineClass(const Command& command);
    bool GetErrorInfo(const Command& command);
    bool ClearAllErrors(const Command& command);
    bool GetErrStatusE(const Command& command);
    bool GetXtdErrStatus(const Command& command);
    bool Home(const Command& command);
    bool IsHomed(const Command& command);
    bool EnableUser(const Command& command);
    bool DisableUser(const Command& command);
    bool IsUserEnabled(const Command& command);
    bool Get(const Command& command);
    bool OnPtMeasReport(const Command& command);
    bool OnMoveReportE(const Command& command);
    bool StopDaemonCommand(const Command& command);
    bool StopAllDaemons(const Command& command);
    bool AbortE(const Command& command);
    bool PtMeas(const Command& command);
    bool EnumTools(const Command& command);
    bool FindToolCommand(const Command& command);
    bool ChangeTool(const Command& command);
    bool SetTool(const Command& command);
    bool GetChangeToolAction(const Command& command);
    bool GetProp(const Command& command);
    bool SetProp(const Command& command);
    bool SetCoordSystem(const Command& command);
    bool GetCoordSystem(const Command& command);
    bool SetCsyTransformation(const Command& command);
    bool GetCsyTransformation(const Command& command);

    bool ActivateTool(const Command& command, bool disableUser);

    ServerState& state_;
    Machine& machine_;
    SessionOutput& output_;

    bool inSession_ = false;
    bool errorState_ = false;
    bool userEnabled_ = false;
    std::vector<HeldError> heldErrors_;
    std::vector<Item> ptMeasReport_;
    std::string foundTool_;         // empty: UnDefTool
    std::optional<Tag> measuring_;  // the PtMeas waiting for a touch
    std::deque<Command> queue_;     // standard-queue commands waiting behind it
    std::optional<MoveDaemon> daemon_;
    bool virtualMove_ = false;  // the next position is reported whatever the distance
};

}  // namespace ipp
