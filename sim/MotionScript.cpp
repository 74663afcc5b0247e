#include "sim/MotionScript.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace vexsim {
namespace {

// Command words of the script format (docs/simulator.md).
constexpr std::string_view kStart = "start";
constexpr std::string_view kScale = "scale";
constexpr std::string_view kHold = "hold";
constexpr std::string_view kMove = "move";
constexpr std::string_view kTouch = "touch";
constexpr std::string_view kPause = "pause";
constexpr std::string_view kRepeat = "repeat";
constexpr char kComment = '#';

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSpace(line[i])) {
            ++i;
        }
        size_t j = i;
        while (j < line.size() && !isSpace(line[j])) {
            ++j;
        }
        if (j > i) {
            words.push_back(line.substr(i, j - i));
        }
        i = j;
    }
    return words;
}

std::string Lower(std::string_view word) {
    std::string out(word);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

// Locale-independent, so a script reads the same under every locale.
std::optional<double> ParseScriptNumber(std::string_view word) {
    if (word.size() > 1 && word.front() == '+' && word[1] != '-' && word[1] != '+') {
        word.remove_prefix(1);
    }
    double value = 0.0;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

namespace {

// A line's values as numbers, or the first problem with them.
struct Values {
    std::vector<double> numbers;
    std::string error;
};

// `usage` names the expected values, e.g. "5 values (x y z w speed)".
Values ReadValues(std::string_view command, const std::vector<std::string_view>& args, size_t min,
                  size_t max, std::string_view usage) {
    Values values;
    if (args.size() < min || args.size() > max) {
        values.error = std::string(command) + " takes " + std::string(usage) + ", got " +
                       std::to_string(args.size()) + " value" + (args.size() == 1 ? "" : "s");
        return values;
    }
    for (std::string_view word : args) {
        const std::optional<double> number = ParseScriptNumber(word);
        if (!number) {
            values.error = "'" + std::string(word) + "' is not a number";
            return values;
        }
        values.numbers.push_back(*number);
    }
    return values;
}

std::optional<std::string> CheckPose(const Pose& p) {
    for (double v : {p.x, p.y, p.z, p.w}) {
        if (std::fabs(v) > kCoordinateLimit) {
            return "coordinates must lie within +-1000000";
        }
    }
    return std::nullopt;
}

Pose PoseOf(const std::vector<double>& v) {
    return Pose{v[0], v[1], v[2], v[3]};
}

// Ends of the first pass and of every repeated pass are the same point, so one more pass
// from there tells whether a repeated pass takes any time at all.
double PassSeconds(const MotionScript& script) {
    Pose end = script.start;
    for (const Step& step : script.steps) {
        if (step.kind != StepKind::Pause) {
            end = step.target;
        }
    }
    double seconds = 0.0;
    Pose at = end;
    for (const Step& step : script.steps) {
        seconds += StepSeconds(at, step);
        if (step.kind != StepKind::Pause) {
            at = step.target;
        }
    }
    return seconds;
}

}  // namespace

double MoveSeconds(const Pose& from, const Pose& to, double speed) {
    if (!(speed > 0.0)) {
        return 0.0;
    }
    const double linear =
        std::sqrt((to.x - from.x) * (to.x - from.x) + (to.y - from.y) * (to.y - from.y) +
                  (to.z - from.z) * (to.z - from.z));
    const double rotary = std::fabs(to.w - from.w);
    return std::max(linear, rotary) / speed;
}

double StepSeconds(const Pose& from, const Step& step) {
    switch (step.kind) {
        case StepKind::Move:
            return MoveSeconds(from, step.target, step.speed);
        case StepKind::Touch:
            return MoveSeconds(from, step.target, step.speed) + step.seconds;
        case StepKind::Pause:
            return step.seconds;
    }
    return 0.0;
}

ParseResult ParseMotionScript(std::string_view text) {
    ParseResult result;
    MotionScript& script = result.script;
    double hold = kDefaultHoldSeconds;
    bool startSeen = false;
    int repeatLine = 0;
    int lineNo = 0;

    const auto fail = [&](std::string message) {
        result.error = ScriptError{lineNo, std::move(message)};
        return result;
    };

    if (text.substr(0, 3) == "\xEF\xBB\xBF") {  // UTF-8 byte order mark from some editors
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        ++lineNo;
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        if (const size_t hash = line.find(kComment); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        std::vector<std::string_view> words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        const std::string_view word = words.front();
        const std::string command = Lower(word);
        words.erase(words.begin());
        if (repeatLine != 0) {
            return fail("nothing may follow repeat (line " + std::to_string(repeatLine) + ")");
        }

        if (command == kStart) {
            const Values v = ReadValues(command, words, 4, 4, "4 values (x y z w)");
            if (!v.error.empty()) {
                return fail(v.error);
            }
            if (startSeen) {
                return fail("start is given twice");
            }
            if (!script.steps.empty()) {
                return fail("start must come before the first move, touch or pause");
            }
            script.start = PoseOf(v.numbers);
            if (auto bad = CheckPose(script.start)) {
                return fail(*bad);
            }
            startSeen = true;
        } else if (command == kScale) {
            const Values v = ReadValues(command, words, 4, 4,
                                        "4 values (x y z counts per mm, w counts per turn)");
            if (!v.error.empty()) {
                return fail(v.error);
            }
            CardScale scale{};
            for (size_t i = 0; i < 4; ++i) {
                const double s = v.numbers[i];
                if (s != std::trunc(s) || s == 0.0 ||
                    std::fabs(s) > std::numeric_limits<int32_t>::max()) {
                    return fail("scale values must be whole, nonzero counts");
                }
                scale[i] = static_cast<int32_t>(s);
            }
            script.scale = scale;
        } else if (command == kHold) {
            const Values v = ReadValues(command, words, 1, 1, "1 value (seconds)");
            if (!v.error.empty()) {
                return fail(v.error);
            }
            if (!(v.numbers[0] > 0.0)) {
                return fail("hold must be greater than 0 seconds");
            }
            hold = v.numbers[0];
        } else if (command == kMove || command == kTouch) {
            const bool touch = command == kTouch;
            const Values v = ReadValues(
                command, words, 5, touch ? 6 : 5,
                touch ? "5 or 6 values (x y z w speed [hold])" : "5 values (x y z w speed)");
            if (!v.error.empty()) {
                return fail(v.error);
            }
            Step step;
            step.kind = touch ? StepKind::Touch : StepKind::Move;
            step.target = PoseOf(v.numbers);
            step.speed = v.numbers[4];
            step.seconds = touch ? (v.numbers.size() == 6 ? v.numbers[5] : hold) : 0.0;
            step.line = lineNo;
            if (auto bad = CheckPose(step.target)) {
                return fail(*bad);
            }
            if (!(step.speed > 0.0)) {
                return fail("speed must be greater than 0");
            }
            if (touch && !(step.seconds > 0.0)) {
                return fail("hold must be greater than 0 seconds");
            }
            script.steps.push_back(step);
        } else if (command == kPause) {
            const Values v = ReadValues(command, words, 1, 1, "1 value (seconds)");
            if (!v.error.empty()) {
                return fail(v.error);
            }
            if (v.numbers[0] < 0.0) {
                return fail("pause must not be negative");
            }
            Step step;
            step.kind = StepKind::Pause;
            step.seconds = v.numbers[0];
            step.line = lineNo;
            script.steps.push_back(step);
        } else if (command == kRepeat) {
            if (!words.empty()) {
                return fail("repeat takes no values");
            }
            script.repeat = true;
            repeatLine = lineNo;
            if (!(PassSeconds(script) > 0.0)) {
                return fail("repeat needs steps that take time");
            }
        } else {
            return fail("unknown command '" + std::string(word) + "'");
        }
    }
    return result;
}

}  // namespace vexsim
