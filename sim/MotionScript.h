#pragma once
// MotionScript: the parsed form of a motion script, which tells the simulated machine where
// the probe goes and where it touches a surface, and ParseMotionScript(), its parser.
//
// A script is plain text, one command per line; docs/simulator.md describes the format.
// The parser never throws: a malformed script yields the first faulty line's number and a
// message. Plain values, no ownership, usable from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexsim {

// A machine position: x, y, z in millimetres, w (rotary axis) in degrees.
struct Pose {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;
    friend bool operator==(const Pose&, const Pose&) = default;
};

// Card scale: counts per millimetre for X, Y, Z and counts per full turn for W. The defaults
// are the server's defaults for VEXENC7480.XML.
using CardScale = std::array<int32_t, 4>;
inline constexpr CardScale kDefaultScale{50, 50, 50, 360};

// How long the probe stays deflected at a touch unless the script says otherwise: five polls
// of the server's default 50 ms, so the server sees the trigger and latch bits together.
inline constexpr double kDefaultHoldSeconds = 0.25;

// Largest coordinate accepted in a script, in millimetres or degrees. Keeps every count
// within what the card's arithmetic represents exactly.
inline constexpr double kCoordinateLimit = 1.0e6;

enum class StepKind { Move, Touch, Pause };

struct Step {
    StepKind kind = StepKind::Pause;
    Pose target;           // Move, Touch: where the step ends (for Touch, the surface point)
    double speed = 0.0;    // Move, Touch: mm/s along the path, deg/s for W
    double seconds = 0.0;  // Pause: its length; Touch: how long the probe stays deflected
    int line = 0;          // line of the script the step came from
    friend bool operator==(const Step&, const Step&) = default;
};

struct MotionScript {
    Pose start;                      // where the probe is at Init
    std::optional<CardScale> scale;  // set by a scale line
    std::vector<Step> steps;
    bool repeat = false;  // run the steps again, from where they end, forever
};

struct ScriptError {
    int line = 0;
    std::string message;
};

struct ParseResult {
    MotionScript script;
    std::optional<ScriptError> error;  // set when the script is malformed
};

ParseResult ParseMotionScript(std::string_view text);

// A number in the script's syntax: decimal, optional sign and exponent, finite.
std::optional<double> ParseScriptNumber(std::string_view word);

// Seconds a straight move from one pose to another takes at the given speed: the linear
// distance in mm and the rotary distance in degrees are both covered at `speed` units per
// second, and the longer of the two times governs.
double MoveSeconds(const Pose& from, const Pose& to, double speed);

// Seconds a step takes when it begins at `from`.
double StepSeconds(const Pose& from, const Step& step);

}  // namespace vexsim
