#include "sim/SimSession.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexsim {
namespace {

// Environment variables read by Start() (docs/simulator.md).
constexpr char kScriptVar[] = "VEXSIM_SCRIPT";
constexpr char kScaleVar[] = "VEXSIM_SCALE";
constexpr char kTimeScaleVar[] = "VEXSIM_TIME_SCALE";
constexpr char kTouchLogVar[] = "VEXSIM_TOUCH_LOG";
constexpr char kCallLogVar[] = "VEXSIM_CALL_LOG";

constexpr char kDemoName[] = "built-in demo script";

void Report(const std::string& message) {
    std::fprintf(stderr, "VexSim: %s\n", message.c_str());
    std::fflush(stderr);
}

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

// Whole file, or nothing with errno set (a directory fails here too, with EISDIR).
std::optional<std::string> ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        errno = error;
        return std::nullopt;
    }
    return text;
}

}  // namespace

void LogCall(const char* call) {
    const auto path = Env(kCallLogVar);
    if (!path)
        return;
    if (std::FILE* log = std::fopen(path->c_str(), "a")) {
        std::fprintf(log, "%s\n", call);
        std::fclose(log);
    }
}

SimSession::~SimSession() {
    Stop();
}

bool SimSession::Start() {
    Stop();

    std::string name = kDemoName;
    std::string text = kDemoScript;
    if (const auto path = Env(kScriptVar)) {
        name = *path;
        errno = 0;
        const auto content = ReadFile(*path);
        if (!content) {
            Report(*path + ": cannot read the motion script: " +
                   (errno != 0 ? std::strerror(errno) : "read error"));
            return false;
        }
        text = *content;
    }
    const ParseResult parsed = ParseMotionScript(text);
    if (parsed.error) {
        Report(name + ":" + std::to_string(parsed.error->line) + ": " + parsed.error->message);
        return false;
    }

    CardScale scale = parsed.script.scale.value_or(kDefaultScale);
    if (const auto value = Env(kScaleVar)) {
        // Same syntax and checks as a script's scale line, commas allowed between values.
        std::string line = *value;
        std::replace(line.begin(), line.end(), ',', ' ');
        const ParseResult scaleOnly = line.find_first_of("#\n") == std::string::npos
                                          ? ParseMotionScript("scale " + line)
                                          : ParseResult{{}, ScriptError{1, "not a scale"}};
        if (scaleOnly.error || !scaleOnly.script.scale) {
            Report(std::string(kScaleVar) + "='" + *value +
                   "': " + (scaleOnly.error ? scaleOnly.error->message : "not a scale"));
            return false;
        }
        scale = *scaleOnly.script.scale;
    }

    double rate = 1.0;
    if (const auto value = Env(kTimeScaleVar)) {
        const std::optional<double> number = ParseScriptNumber(*value);
        if (!number || !(*number > 0.0)) {
            Report(std::string(kTimeScaleVar) + "='" + *value +
                   "': expected a number greater than 0");
            return false;
        }
        rate = *number;
    }

    if (const auto path = Env(kTouchLogVar)) {
        touchLog_ = std::fopen(path->c_str(), "a");
        if (touchLog_ == nullptr) {
            Report(*path + ": cannot open the touch log: " + std::strerror(errno));
            return false;
        }
    }

    scale_ = scale;
    model_.emplace(parsed.script);
    touchesLogged_ = 0;
    clock_.Restart(rate);
    return true;
}

void SimSession::Stop() {
    model_.reset();
    if (touchLog_ != nullptr) {
        std::fclose(touchLog_);
        touchLog_ = nullptr;
    }
}

void SimSession::SetTime(double seconds) {
    if (seconds >= 0.0) {
        clock_.SetManual(seconds);
    } else {
        clock_.Release();
    }
}

double SimSession::LastTouchMonotonic() const {
    const uint64_t touches = TouchesSoFar();
    return touches == 0 ? -1.0 : clock_.MonotonicAt(model_->TouchNo(touches - 1).time);
}

void SimSession::LogTouches(uint64_t touchesSoFar) {
    if (touchLog_ == nullptr || !model_) {
        touchesLogged_ = touchesSoFar;
        return;
    }
    for (; touchesLogged_ < touchesSoFar; ++touchesLogged_) {
        const MachineModel::Touch touch = model_->TouchNo(touchesLogged_);
        std::fprintf(touchLog_, "touch %llu %.6f %.6f %.6f %.6f %.6f\n",
                     static_cast<unsigned long long>(touchesLogged_ + 1),
                     clock_.MonotonicAt(touch.time), touch.pose.x, touch.pose.y, touch.pose.z,
                     touch.pose.w);
    }
    std::fflush(touchLog_);
}

}  // namespace vexsim
