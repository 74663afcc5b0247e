// Fuzz target for tactus-ipp's command parser and the session behind it.
//
// Input: lines cut at '\n', as the server's connection cuts them. A line whose first byte
// is 1 to 4 is news from the machine instead (1 a touch, 2 the touch of a waiting
// measurement, 3 a tick of the move-report clock, 4 a new position); every other line is a
// command line for the session. Each command line is also parsed alone: a line that parses
// must come back the same from its own formatted text. Findings: any memory error, a
// response line that breaks the protocol's line layout, a measurement begun twice, and a
// parse that does not survive its round trip.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ipp/protocol/CommandLine.h"
#include "ipp/session/IppSession.h"

namespace {

using namespace ipp;

bool SameArguments(const Command& a, const Command& b) {
    if (a.tag != b.tag || a.name != b.name || a.arguments.size() != b.arguments.size())
        return false;
    for (std::size_t i = 0; i < a.arguments.size(); ++i) {
        const Argument& x = a.arguments[i];
        const Argument& y = b.arguments[i];
        if (x.kind != y.kind || x.text != y.text || x.number.value != y.number.value ||
            x.values.size() != y.values.size())
            return false;
        for (std::size_t k = 0; k < x.values.size(); ++k) {
            if (x.values[k].value != y.values[k].value)
                return false;
        }
    }
    return true;
}

// A response line: TAG, a space, one of & % # !, and after # or ! a space and more;
// printable ASCII only.
bool WellFormedResponse(const std::string& line) {
    for (char c : line) {
        if (c < 32 || c > 126)
            return false;
    }
    if (line.size() < 7 || line[5] != ' ')
        return false;
    const std::string_view tag = std::string_view(line).substr(0, 5);
    if (tag != "E0000" && !ParseTag(tag))
        return false;
    const char marker = line[6];
    if (marker == '&' || marker == '%')
        return line.size() == 7;
    if (marker == '#')
        return line.size() > 8 && line[7] == ' ';
    return marker == '!' && line.compare(7, 7, " Error(") == 0 && line.back() == ')';
}

class FakeMachine : public Machine {
  public:
    Vec3 Position() const override { return position; }
    void BeginMeasurement() override {
        if (measuring)
            __builtin_trap();
        measuring = true;
    }
    void CancelMeasurement() override { measuring = false; }
    void SetActiveTool(const Tool&) override {}

    Vec3 position{1.0, 2.0, 3.0};
    bool measuring = false;
};

class FakeOutput : public SessionOutput {
  public:
    void SendLine(const std::string& line) override {
        if (!WellFormedResponse(line))
            __builtin_trap();
    }
    void StartMoveTimer(double seconds) override {
        if (!(seconds >= IppSession::kMinReportInterval))
            __builtin_trap();
    }
    void StopMoveTimer() override {}
    double Now() const override { return now; }

    double now = 0.0;
};

void CheckRoundTrip(std::string_view line) {
    const ParsedLine parsed = ParseCommandLine(line);
    if (!parsed.command)
        return;
    const ParsedLine again = ParseCommandLine(FormatCommand(*parsed.command) + '\r');
    if (!again.command || !SameArguments(*parsed.command, *again.command))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ServerState state;
    std::string error;
    (void)state.tools.LoadText("T1 0 0 -50 1.5\nT2 1 2 3 0\n", "fuzz", error);
    FakeMachine machine;
    FakeOutput output;
    IppSession session(state, machine, output);

    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        output.now += 0.05;
        const unsigned char first = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
        const Vec3 point{double(line.size()), 2.0, -3.0};
        switch (first) {
            case 1:
                session.OnTouch(point, {0.0, 0.0, 1.0});
                break;
            case 2:
                if (machine.measuring) {
                    machine.measuring = false;
                    session.OnMeasured(point, {1.0, 0.0, 0.0});
                }
                break;
            case 3:
                session.OnMoveTimer();
                break;
            case 4:
                machine.position = point;
                session.OnPosition(point);
                break;
            default:
                CheckRoundTrip(line);
                if (line.size() > kMaxLineLength + 1)
                    session.HandleOverlongLine(line.substr(0, 5));
                else
                    session.HandleLine(line);
                break;
        }
    }
    session.Close();
    if (machine.measuring)
        __builtin_trap();  // a closed session leaves the machine waiting for nothing
    return 0;
}
