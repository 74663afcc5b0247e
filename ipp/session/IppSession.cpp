#include "ipp/session/IppSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace ipp {

namespace {

using Kind = Argument::Kind;

// The version of the standard this server follows (GetDMEVersion).
constexpr char kDmeVersion[] = "1.4";
// Used in error lines that belong to no method.
constexpr char kLineMethod[] = "CommandLine";

bool IsEmptyProperty(const Argument& argument) {
    return argument.kind == Kind::Property && argument.values.empty();
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += ", ";
        out += part;
    }
    return out;
}

std::string Call(std::string_view name, const std::vector<std::string>& values) {
    return std::string(name) + '(' + Join(values) + ')';
}

std::string Call(std::string_view name, double value) {
    return Call(name, std::vector<std::string>{FormatNumber(value)});
}

double Length(const Vec3& v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

Tool& ServerState::ActiveTool() {
    if (Tool* tool = tools.Find(activeTool))
        return *tool;
    activeTool = std::string(kRefToolName);
    return *tools.Find(kRefToolName);
}

// --- The command table -------------------------------------------------------------------

struct IppSession::CommandSpec {
    std::string_view name;
    bool (IppSession::*handler)(const Command&);
    bool takesNoArguments;
    bool fast;            // a command of the fast queue ("...E")
    bool allowedInError;  // runs while the server waits for ClearAllErrors
    bool needsEventTag;   // a daemon: its reports carry its event tag
};

const IppSession::CommandSpec* IppSession::FindSpec(std::string_view name) {
    static const CommandSpec kSpecs[] = {
        {"StartSession", &IppSession::StartSession, true, false, false, false},
        {"EndSession", &IppSession::EndSession, true, false, true, false},
        {"GetDMEVersion", &IppSession::GetDMEVersion, true, false, false, false},
        {"GetMachineClass", &IppSession::GetMachineClass, true, false, false, false},
        {"GetErrorInfo", &IppSession::GetErrorInfo, false, false, false, false},
        {"ClearAllErrors", &IppSession::ClearAllErrors, true, false, true, false},
        {"GetErrStatusE", &IppSession::GetErrStatusE, true, true, true, false},
        {"GetXtdErrStatus", &IppSession::GetXtdErrStatus, true, false, true, false},
        {"Home", &IppSession::Home, true, false, false, false},
        {"IsHomed", &IppSession::IsHomed, true, false, false, false},
        {"EnableUser", &IppSession::EnableUser, true, false, false, false},
        {"DisableUser", &IppSession::DisableUser, true, false, false, false},
        {"IsUserEnabled", &IppSession::IsUserEnabled, true, false, false, false},
        {"Get", &IppSession::Get, false, false, false, false},
        {"OnPtMeasReport", &IppSession::OnPtMeasReport, false, false, false, false},
        {"OnMoveReportE", &IppSession::OnMoveReportE, false, true, false, true},
        {"StopDaemon", &IppSession::StopDaemonCommand, false, false, false, false},
        {"StopAllDaemons", &IppSession::StopAllDaemons, true, false, false, false},
        {"AbortE", &IppSession::AbortE, true, true, true, false},
        {"PtMeas", &IppSession::PtMeas, false, false, false, false},
        {"EnumTools", &IppSession::EnumTools, true, false, false, false},
        {"FindTool", &IppSession::FindToolCommand, false, false, false, false},
        {"ChangeTool", &IppSession::ChangeTool, false, false, false, false},
        {"SetTool", &IppSession::SetTool, false, false, false, false},
        {"GetChangeToolAction", &IppSession::GetChangeToolAction, false, false, false, false},
        {"GetProp", &IppSession::GetProp, false, false, false, false},
        {"GetPropE", &IppSession::GetProp, false, true, false, false},
        {"SetProp", &IppSession::SetProp, false, false, false, false},
        {"SetCoordSystem", &IppSession::SetCoordSystem, false, false, false, false},
        {"GetCoordSystem", &IppSession::GetCoordSystem, true, false, false, false},
        {"SetCsyTransformation", &IppSession::SetCsyTransformation, false, false, false, false},
        {"GetCsyTransformation", &IppSession::GetCsyTransformation, false, false, false, false},
    };
    for (const CommandSpec& spec : kSpecs) {
        if (spec.name == name)
            return &spec;
    }
    return nullptr;
}

// --- Lines in, transactions ----------------------------------------------------------------

IppSession::IppSession(ServerState& state, Machine& machine, SessionOutput& output)
    : state_(state), machine_(machine), output_(output) {}

IppSession::~IppSession() {
    Close();
}

void IppSession::Send(const std::string& line) {
    output_.SendLine(line);
}

void IppSession::HandleLine(std::string_view line) {
    ParsedLine parsed = ParseCommandLine(line);
    if (!parsed.tag) {
        ReportError(kUnsolicitedTag, ErrorCode::IllegalTag, kLineMethod);
        return;
    }
    const Tag tag = *parsed.tag;
    Send(AckLine(tag));
    if (!parsed.command) {
        ReportError(tag, parsed.error, parsed.method.empty() ? kLineMethod : parsed.method);
        Send(DoneLine(tag));
        return;
    }
    Receive(std::move(*parsed.command));
}

void IppSession::HandleOverlongLine(std::string_view start) {
    const std::optional<Tag> tag = ParseTag(start.substr(0, 5));
    // Not run, so the client has to notice: reported as an error, not as the info the
    // table gives "Buffer full" by default.
    if (!tag) {
        ReportError(kUnsolicitedTag, ErrorCode::BufferFull, kLineMethod, kSeverityError);
        return;
    }
    Send(AckLine(*tag));
    ReportError(*tag, ErrorCode::BufferFull, kLineMethod, kSeverityError);
    Send(DoneLine(*tag));
}

void IppSession::Receive(Command command) {
    const CommandSpec* spec = FindSpec(command.name);
    const Tag tag = command.tag;
    // Only commands of the fast queue take an event tag, and a daemon needs one.
    if (spec && (tag.event ? !spec->fast : spec->needsEventTag)) {
        ReportError(tag, ErrorCode::IllegalTag, command.name);
        Send(DoneLine(tag));
        return;
    }
    if (tag.event) {
        Execute(command);
        return;
    }
    if (measuring_ || !queue_.empty()) {
        if (queue_.size() >= kMaxQueued) {
            ReportError(tag, ErrorCode::BufferFull, command.name, kSeverityError);
            Send(DoneLine(tag));
            return;
        }
        queue_.push_back(std::move(command));
        return;
    }
    Execute(command);
}

void IppSession::Execute(const Command& command) {
    const CommandSpec* spec = FindSpec(command.name);
    const bool sessionCommand = command.name == "StartSession" || command.name == "EndSession";
    bool done = true;
    if (!inSession_ && !sessionCommand) {
        ReportError(command.tag, ErrorCode::ProtocolError, command.name);
    } else if (errorState_ && !(spec && spec->allowedInError)) {
        ReportError(command.tag, ErrorCode::UseClearAllErrors, command.name);
    } else if (!spec) {
        ReportError(command.tag, ErrorCode::UnsupportedCommand, command.name);
    } else if (spec->takesNoArguments && !command.arguments.empty()) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
    } else {
        done = (this->*spec->handler)(command);
    }
    if (done)
        Send(DoneLine(command.tag));
}

void IppSession::RunQueue() {
    while (!measuring_ && !queue_.empty()) {
        const Command command = std::move(queue_.front());
        queue_.pop_front();
        Execute(command);
    }
}

void IppSession::ReportError(const Tag& tag, ErrorCode code, std::string_view method,
                             std::optional<int> severity) {
    const int level = severity.value_or(DefaultSeverity(code));
    Send(ErrorLine(tag, level, code, method));
    if (!inSession_ || level < kSeverityError)
        return;
    errorState_ = true;
    if (heldErrors_.size() >= kMaxHeldErrors)
        heldErrors_.erase(heldErrors_.begin());
    heldErrors_.push_back({level, code, std::string(method)});
    // An error of class 2 or more ends every transaction still pending (section 6.2.5).
    AbortPending();
}

void IppSession::AbortPending() {
    auto abort = [this](const Tag& tag, std::string_view method) {
        Send(ErrorLine(tag, DefaultSeverity(ErrorCode::TransactionAborted),
                       ErrorCode::TransactionAborted, method));
        Send(DoneLine(tag));
    };
    if (measuring_) {
        const Tag tag = *measuring_;
        measuring_.reset();
        machine_.CancelMeasurement();
        abort(tag, "PtMeas");
    }
    std::deque<Command> waiting;
    waiting.swap(queue_);
    for (const Command& command : waiting)
        abort(command.tag, command.name);
}

void IppSession::Close() {
    StopDaemon();
    if (measuring_) {
        measuring_.reset();
        machine_.CancelMeasurement();
    }
    queue_.clear();
    inSession_ = false;
}

// --- News from the machine -----------------------------------------------------------------

void IppSession::OnTouch(const Vec3& point, const Vec3& vector) {
    if (measuring_) {
        // The touch came before the machine was told to wait for it: it answers the PtMeas
        // that was asked first, and the machine waits no longer.
        machine_.CancelMeasurement();
        CompleteMeasurement(point, vector);
        return;
    }
    if (inSession_ && userEnabled_)
        Send(DataLine(kUnsolicitedTag, "PtMeas(" + ItemsText(ptMeasReport_, point, vector) + ')'));
}

void IppSession::OnMeasured(const Vec3& point, const Vec3& vector) {
    if (!measuring_) {
        // A measurement given up a moment ago: the touch is still the operator's.
        OnTouch(point, vector);
        return;
    }
    CompleteMeasurement(point, vector);
}

void IppSession::CompleteMeasurement(const Vec3& point, const Vec3& vector) {
    const Tag tag = *measuring_;
    measuring_.reset();
    Send(DataLine(tag, ItemsText(ptMeasReport_, point, vector)));
    Send(DoneLine(tag));
    RunQueue();
}

void IppSession::OnPosition(const Vec3& point) {
    if (!daemon_)
        return;
    const double now = output_.Now();
    if (now - daemon_->lastTime < kMinReportInterval)
        return;
    const Vec3 moved{point[0] - daemon_->lastPoint[0], point[1] - daemon_->lastPoint[1],
                     point[2] - daemon_->lastPoint[2]};
    if (virtualMove_ || (daemon_->distance && Length(moved) > *daemon_->distance)) {
        ReportMove(point);
        if (daemon_->interval)
            output_.StartMoveTimer(*daemon_->interval);
    }
}

void IppSession::OnMoveTimer() {
    if (daemon_ && output_.Now() - daemon_->lastTime >= kMinReportInterval - 1e-3)
        ReportMove(machine_.Position());
}

void IppSession::ReportMove(const Vec3& point) {
    virtualMove_ = false;
    daemon_->lastPoint = point;
    daemon_->lastTime = output_.Now();
    Send(DataLine(daemon_->tag, ItemsText(daemon_->items, point, {0.0, 0.0, 1.0})));
}

void IppSession::StopDaemon() {
    if (daemon_)
        output_.StopMoveTimer();
    daemon_.reset();
}

// --- Report items --------------------------------------------------------------------------

bool IppSession::ParseItems(const Command& command, const std::vector<Argument>& arguments,
                            ItemContext context, std::vector<Item>& items) {
    static constexpr std::pair<std::string_view, Item> kItems[] = {
        {"X", Item::X},          {"Y", Item::Y},          {"Z", Item::Z},
        {"IJK", Item::IJK},      {"Tool.A", Item::ToolA}, {"Tool.B", Item::ToolB},
        {"Tool.C", Item::ToolC}, {"ER", Item::ER},        {"Q", Item::Q},
    };
    std::vector<Item> parsed;
    for (const Argument& argument : arguments) {
        if (!IsEmptyProperty(argument)) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return false;
        }
        if (argument.text == "R") {  // a rotary table, which this machine has not
            ReportError(command.tag, ErrorCode::ArgumentNotSupported, command.name);
            return false;
        }
        const auto* found =
            std::find_if(std::begin(kItems), std::end(kItems),
                         [&](const auto& entry) { return entry.first == argument.text; });
        if (found == std::end(kItems)) {
            ReportError(command.tag, ErrorCode::BadProperty, command.name);
            return false;
        }
        const Item item = found->second;
        // Vectors, radius and quality belong to measured points only.
        if (context != ItemContext::PtMeasReport &&
            (item == Item::IJK || item == Item::ER || item == Item::Q)) {
            ReportError(command.tag, ErrorCode::BadContext, command.name);
            return false;
        }
        if (std::find(parsed.begin(), parsed.end(), item) != parsed.end()) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return false;
        }
        parsed.push_back(item);
    }
    if (parsed.empty()) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return false;
    }
    items = std::move(parsed);
    return true;
}

std::string IppSession::ItemsText(const std::vector<Item>& items, const Vec3& point,
                                  const Vec3& vector) const {
    const Vec3 p = state_.coordSystems.PointFromMachine(point);
    const Vec3 v = state_.coordSystems.VectorFromMachine(vector);
    std::vector<std::string> parts;
    for (Item item : items) {
        switch (item) {
            case Item::X:
                parts.push_back(Call("X", p[0]));
                break;
            case Item::Y:
                parts.push_back(Call("Y", p[1]));
                break;
            case Item::Z:
                parts.push_back(Call("Z", p[2]));
                break;
            case Item::IJK:
                parts.push_back(
                    Call("IJK", {FormatNumber(v[0]), FormatNumber(v[1]), FormatNumber(v[2])}));
                break;
            // A hand-driven machine has a fixed probe head: its angles are zero.
            case Item::ToolA:
                parts.push_back(Call("Tool.A", 0.0));
                break;
            case Item::ToolB:
                parts.push_back(Call("Tool.B", 0.0));
                break;
            case Item::ToolC:
                parts.push_back(Call("Tool.C", 0.0));
                break;
            case Item::ER:
                parts.push_back(Call("ER", state_.ActiveTool().radius));
                break;
            case Item::Q:
                parts.push_back(Call("Q", 0.0));
                break;
        }
    }
    return Join(parts);
}

// --- Server methods ------------------------------------------------------------------------

bool IppSession::StartSession(const Command& command) {
    if (inSession_) {
        ReportError(command.tag, ErrorCode::ProtocolError, command.name);
        return true;
    }
    inSession_ = true;
    errorState_ = false;
    heldErrors_.clear();
    userEnabled_ = false;
    foundTool_.clear();
    ptMeasReport_ = {Item::X, Item::Y, Item::Z};
    return true;
}

bool IppSession::EndSession(const Command&) {
    StopDaemon();
    inSession_ = false;
    errorState_ = false;
    heldErrors_.clear();
    userEnabled_ = false;
    return true;
}

bool IppSession::GetDMEVersion(const Command& command) {
    Send(DataLine(command.tag, Call("DMEVersion", {Quoted(kDmeVersion)})));
    return true;
}

bool IppSession::GetMachineClass(const Command& command) {
    Send(DataLine(command.tag, "GetMachineClass(CartCMM)"));
    return true;
}

bool IppSession::GetErrorInfo(const Command& command) {
    if (command.arguments.size() != 1 || command.arguments[0].kind != Kind::Number) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    const double value = command.arguments[0].number.value;
    const ErrorDefinition* error =
        value == std::floor(value) && std::fabs(value) < 1e6 ? FindError(int(value)) : nullptr;
    if (!error) {
        ReportError(command.tag, ErrorCode::BadArgument, command.name);
        return true;
    }
    char number[8];
    std::snprintf(number, sizeof number, "%04d", error->number);
    Send(DataLine(command.tag, Call("ErrorInfo", {number, Quoted(error->text)})));
    return true;
}

bool IppSession::ClearAllErrors(const Command&) {
    errorState_ = false;
    heldErrors_.clear();
    return true;
}

bool IppSession::GetErrStatusE(const Command& command) {
    Send(DataLine(command.tag, Call("ErrStatus", {errorState_ ? "1" : "0"})));
    return true;
}

bool IppSession::GetXtdErrStatus(const Command& command) {
    Send(DataLine(command.tag, "IsHomed(1)"));
    Send(DataLine(command.tag, Call("IsUserEnabled", {userEnabled_ ? "1" : "0"})));
    for (const HeldError& error : heldErrors_) {
        char number[8];
        std::snprintf(number, sizeof number, "%04d", int(error.code));
        Send(DataLine(command.tag,
                      Call("Error", {std::to_string(error.severity), number, Quoted(error.method),
                                     Quoted(ErrorText(error.code))})));
    }
    return true;
}

// --- DME methods ---------------------------------------------------------------------------

bool IppSession::Home(const Command&) {
    // The machine is homed once the driver runs; like every command that may move the
    // machine, Home disables the user (section 6.3.2.4).
    userEnabled_ = false;
    return true;
}

bool IppSession::IsHomed(const Command& command) {
    Send(DataLine(command.tag, "IsHomed(1)"));
    return true;
}

bool IppSession::EnableUser(const Command&) {
    userEnabled_ = true;
    return true;
}

bool IppSession::DisableUser(const Command&) {
    userEnabled_ = false;
    return true;
}

bool IppSession::IsUserEnabled(const Command& command) {
    Send(DataLine(command.tag, Call("IsUserEnabled", {userEnabled_ ? "1" : "0"})));
    return true;
}

bool IppSession::Get(const Command& command) {
    std::vector<Item> items;
    if (ParseItems(command, command.arguments, ItemContext::Get, items))
        Send(DataLine(command.tag, ItemsText(items, machine_.Position(), {0.0, 0.0, 1.0})));
    return true;
}

bool IppSession::OnPtMeasReport(const Command& command) {
    std::vector<Item> items;
    if (ParseItems(command, command.arguments, ItemContext::PtMeasReport, items))
        ptMeasReport_ = std::move(items);
    return true;
}

bool IppSession::OnMoveReportE(const Command& command) {
    if (daemon_) {
        ReportError(command.tag, ErrorCode::DaemonAlreadyExists, command.name);
        return true;
    }
    MoveDaemon daemon;
    daemon.tag = command.tag;
    std::vector<Argument> reported;
    bool clamped = false;
    for (const Argument& argument : command.arguments) {
        const bool isTime = argument.text == "Time";
        if (argument.kind != Kind::Property || !(isTime || argument.text == "Dis")) {
            reported.push_back(argument);
            continue;
        }
        std::optional<double>& slot = isTime ? daemon.interval : daemon.distance;
        if (argument.values.size() != 1 || slot) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return true;
        }
        // Time below 0.1 s or a negative distance: the nearest allowed value, and a warning.
        const double lowest = isTime ? kMinReportInterval : 0.0;
        slot = std::max(argument.values[0].value, lowest);
        clamped = clamped || argument.values[0].value < lowest;
    }
    if (!daemon.interval && !daemon.distance) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    if (!ParseItems(command, reported, ItemContext::MoveReport, daemon.items))
        return true;
    if (clamped)
        ReportError(command.tag, ErrorCode::ArgumentOutOfRange, command.name);
    daemon.lastPoint = machine_.Position();
    daemon_ = std::move(daemon);
    virtualMove_ = false;
    if (daemon_->interval)
        output_.StartMoveTimer(*daemon_->interval);
    return true;
}

bool IppSession::StopDaemonCommand(const Command& command) {
    if (command.arguments.size() != 1 || command.arguments[0].kind != Kind::EventTag) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    if (!daemon_ || daemon_->tag.number != int(command.arguments[0].number.value)) {
        ReportError(command.tag, ErrorCode::DaemonDoesNotExist, command.name);
        return true;
    }
    StopDaemon();
    return true;
}

bool IppSession::StopAllDaemons(const Command& command) {
    if (!daemon_)
        ReportError(command.tag, ErrorCode::NoDaemonsActive, command.name);
    StopDaemon();
    return true;
}

bool IppSession::AbortE(const Command&) {
    AbortPending();
    // After AbortE only ClearAllErrors goes on (section 6.3.1.5).
    errorState_ = true;
    return true;
}

bool IppSession::PtMeas(const Command& command) {
    // On this machine the operator takes the point: the nominal values are checked, then
    // the next touch is the answer.
    bool seen[4] = {};
    for (const Argument& argument : command.arguments) {
        const int index = argument.text == "X"     ? 0
                          : argument.text == "Y"   ? 1
                          : argument.text == "Z"   ? 2
                          : argument.text == "IJK" ? 3
                                                   : -1;
        const std::size_t values = index == 3 ? 3 : 1;
        if (argument.kind != Kind::Property || index < 0 || seen[index] ||
            argument.values.size() != values) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return true;
        }
        seen[index] = true;
        if (index == 3 && !(Length({argument.values[0].value, argument.values[1].value,
                                    argument.values[2].value}) > 0.0)) {
            ReportError(command.tag, ErrorCode::VectorHasNoNorm, command.name);
            return true;
        }
    }
    if (seen[3] && !(seen[0] || seen[1] || seen[2])) {  // IJK alone is not allowed
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    userEnabled_ = false;
    measuring_ = command.tag;
    machine_.BeginMeasurement();
    return false;
}

// --- Tools ---------------------------------------------------------------------------------

Tool* IppSession::FoundTool() {
    return foundTool_.empty() ? nullptr : state_.tools.Find(foundTool_);
}

bool IppSession::EnumTools(const Command& command) {
    for (const Tool& tool : state_.tools.Tools())
        Send(DataLine(command.tag, Quoted(tool.name)));
    return true;
}

bool IppSession::FindToolCommand(const Command& command) {
    if (command.arguments.size() != 1 || command.arguments[0].kind != Kind::String) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    foundTool_.clear();
    if (state_.tools.Find(command.arguments[0].text))
        foundTool_ = command.arguments[0].text;
    else
        ReportError(command.tag, ErrorCode::ToolNotFound, command.name);
    return true;
}

bool IppSession::ActivateTool(const Command& command, bool disableUser) {
    if (command.arguments.size() != 1 || command.arguments[0].kind != Kind::String) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    Tool* tool = state_.tools.Find(command.arguments[0].text);
    if (!tool) {
        ReportError(command.tag, ErrorCode::ToolNotFound, command.name);
        return true;
    }
    // The operator changes the stylus; the server makes it the host's active tip, so the
    // driver corrects with its offset from now on.
    state_.activeTool = tool->name;
    tool->ResetToDefaults();
    machine_.SetActiveTool(*tool);
    if (disableUser)
        userEnabled_ = false;
    virtualMove_ = true;
    return true;
}

bool IppSession::ChangeTool(const Command& command) {
    return ActivateTool(command, true);
}

bool IppSession::SetTool(const Command& command) {
    return ActivateTool(command, false);
}

bool IppSession::GetChangeToolAction(const Command& command) {
    if (command.arguments.size() != 1 || command.arguments[0].kind != Kind::String) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    if (!state_.tools.Find(command.arguments[0].text)) {
        ReportError(command.tag, ErrorCode::ToolNotFound, command.name);
        return true;
    }
    // The operator changes the stylus by hand, where the probe is now.
    const Vec3 p = state_.coordSystems.PointFromMachine(machine_.Position());
    Send(DataLine(command.tag, Call("ChangeToolAction", {"MoveMan", Call("X", p[0]),
                                                         Call("Y", p[1]), Call("Z", p[2])})));
    return true;
}

bool IppSession::LookUpToolProperty(const Command& command, const Argument& argument,
                                    ToolProperty& property) {
    const PropertyLookup lookup = ParseToolProperty(argument.text, property);
    if (lookup == PropertyLookup::Found)
        return true;
    ReportError(command.tag,
                lookup == PropertyLookup::Unsupported ? ErrorCode::ArgumentNotSupported
                                                      : ErrorCode::BadProperty,
                command.name);
    return false;
}

Tool* IppSession::ToolOf(const ToolProperty& property) {
    return property.owner == ToolProperty::Owner::FoundTool ? FoundTool() : &state_.ActiveTool();
}

bool IppSession::GetProp(const Command& command) {
    std::vector<std::string> parts;
    for (const Argument& argument : command.arguments) {
        ToolProperty property;
        if (!IsEmptyProperty(argument)) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return true;
        }
        if (!LookUpToolProperty(command, argument, property))
            return true;
        Tool* tool = ToolOf(property);
        if (property.kind == ToolProperty::Kind::Name) {
            parts.push_back(Call(argument.text, {Quoted(tool ? tool->name : kUndefinedToolName)}));
            continue;
        }
        if (!tool) {
            ReportError(command.tag, ErrorCode::ToolNotDefined, command.name);
            return true;
        }
        double value = tool->radius;
        if (property.kind == ToolProperty::Kind::Parameter) {
            const ToolParameter& p = *tool->Parameter(property.parameter);
            value = property.field == ToolProperty::Field::Act   ? p.act
                    : property.field == ToolProperty::Field::Min ? p.min
                    : property.field == ToolProperty::Field::Max ? p.max
                                                                 : p.def;
        }
        parts.push_back(Call(argument.text, value));
    }
    if (parts.empty()) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    Send(DataLine(command.tag, Join(parts)));
    return true;
}

bool IppSession::SetProp(const Command& command) {
    // Checked as a whole first, so a bad argument changes nothing.
    std::vector<std::pair<ToolParameter*, double>> changes;
    for (const Argument& argument : command.arguments) {
        ToolProperty property;
        if (argument.kind != Kind::Property || argument.values.size() != 1) {
            ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
            return true;
        }
        if (!LookUpToolProperty(command, argument, property))
            return true;
        Tool* tool = ToolOf(property);
        if (!tool) {
            ReportError(command.tag, ErrorCode::ToolNotDefined, command.name);
            return true;
        }
        // Names, radii and the Min, Max and Def values are the tool's own.
        if (property.kind != ToolProperty::Kind::Parameter ||
            property.field != ToolProperty::Field::Act) {
            ReportError(command.tag, ErrorCode::BadArgument, command.name);
            return true;
        }
        changes.emplace_back(tool->Parameter(property.parameter), argument.values[0].value);
    }
    if (changes.empty()) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    bool clamped = false;
    for (auto& [parameter, value] : changes) {
        parameter->act = std::clamp(value, parameter->min, parameter->max);
        clamped = clamped || parameter->act != value;
    }
    if (clamped)
        ReportError(command.tag, ErrorCode::ArgumentOutOfRange, command.name);
    return true;
}

// --- CartCMM methods -----------------------------------------------------------------------

bool IppSession::SetCoordSystem(const Command& command) {
    if (command.arguments.size() != 1) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    const Argument& argument = command.arguments[0];
    const std::optional<Csy> csy =
        argument.kind == Kind::Name ? CsyFromName(argument.text) : std::nullopt;
    if (!csy || !state_.coordSystems.Select(*csy)) {
        ReportError(command.tag, ErrorCode::BadArgument, command.name);
        return true;
    }
    virtualMove_ = true;
    return true;
}

bool IppSession::GetCoordSystem(const Command& command) {
    Send(DataLine(command.tag,
                  Call("CoordSystem", {std::string(CsyName(state_.coordSystems.Active()))})));
    return true;
}

bool IppSession::SetCsyTransformation(const Command& command) {
    const auto& args = command.arguments;
    if (args.size() != 7 || std::any_of(args.begin() + 1, args.end(),
                                        [](const Argument& a) { return a.kind != Kind::Number; })) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    const std::optional<Csy> csy =
        args[0].kind == Kind::Name ? CsyFromName(args[0].text) : std::nullopt;
    if (!csy || !CoordSystems::Transformable(*csy)) {
        ReportError(command.tag, ErrorCode::BadArgument, command.name);
        return true;
    }
    const CsyTransformation t{args[1].number.value, args[2].number.value, args[3].number.value,
                              args[4].number.value, args[5].number.value, args[6].number.value};
    if (!state_.coordSystems.Set(*csy, t)) {
        ReportError(command.tag, ErrorCode::ThetaOutOfRange, command.name);
        return true;
    }
    virtualMove_ = true;
    return true;
}

bool IppSession::GetCsyTransformation(const Command& command) {
    const auto& args = command.arguments;
    if (args.size() != 1) {
        ReportError(command.tag, ErrorCode::IncorrectArguments, command.name);
        return true;
    }
    const std::optional<Csy> csy =
        args[0].kind == Kind::Name ? CsyFromName(args[0].text) : std::nullopt;
    if (!csy || !CoordSystems::Transformable(*csy)) {
        ReportError(command.tag, ErrorCode::BadArgument, command.name);
        return true;
    }
    const CsyTransformation& t = state_.coordSystems.Get(*csy);
    Send(DataLine(command.tag,
                  Call("GetCsyTransformation",
                       {FormatNumber(t.x0), FormatNumber(t.y0), FormatNumber(t.z0),
                        FormatNumber(t.theta), FormatNumber(t.psi), FormatNumber(t.phi)})));
    return true;
}

}  // namespace ipp
