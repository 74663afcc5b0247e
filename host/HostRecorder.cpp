#include "host/HostRecorder.h"

#include <QString>
#include <cstdio>

namespace {

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (char c : QString::fromStdWString(text).toStdString()) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
                break;
        }
    }
    return out + '"';
}

std::string number(double value) {
    // Sized to the value: "%.6f" of a large one runs to hundreds of digits.
    std::string text(size_t(std::snprintf(nullptr, 0, "%.6f", value)) + 1, '\0');
    text.resize(size_t(std::snprintf(text.data(), text.size(), "%.6f", value)));
    return text;
}

// "a,b,c" from values[first .. first + 2], or "none" when they are missing.
std::string triple(const std::vector<double>& values, size_t first) {
    if (values.size() < first + 3)
        return "none";
    return number(values[first]) + ',' + number(values[first + 1]) + ',' +
           number(values[first + 2]);
}

int intAt(const std::vector<int>& ints, size_t index) {
    return index < ints.size() ? ints[index] : 0;
}

}  // namespace

const char* HostEventName(HostEventKind kind) {
    switch (kind) {
        case HostEventKind::SectionName:
            return "section";
        case HostEventKind::UserSetting:
            return "user-setting";
        case HostEventKind::VersionText:
            return "version";
        case HostEventKind::MachineInitComplete:
            return "init-complete";
        case HostEventKind::StatusMessage:
            return "status";
        case HostEventKind::MessageBox:
            return "msgbox";
        case HostEventKind::Readout:
            return "readout";
        case HostEventKind::ManualHit:
            return "hit";
        case HostEventKind::PreparePoint:
            return "prepare";
        case HostEventKind::AutoHitTest:
            return "autohit";
        case HostEventKind::OptionQuery:
            return "option";
        case HostEventKind::KillTimer:
            return "kill-timer";
        case HostEventKind::ResourceModule:
            return "resource-module";
        case HostEventKind::SetMode:
            return "set-mode";
        case HostEventKind::ReportResult:
            return "result";
    }
    return "unknown";
}

std::string HostEvent::line() const {
    std::string out = HostEventName(kind);
    switch (kind) {
        case HostEventKind::SectionName:
            out += " name=" + quoted(text) + " result=" + quoted(detail);
            break;
        case HostEventKind::UserSetting:
            out += " section=" + quoted(text) + " key=" + quoted(detail) +
                   " kind=" + std::to_string(intAt(ints, 0)) +
                   " writable=" + std::to_string(intAt(ints, 1)) +
                   " scoped=" + std::to_string(intAt(ints, 2));
            if (more.size() >= 2)
                out += " user-section=" + quoted(more[0]) + " user-key=" + quoted(more[1]);
            break;
        case HostEventKind::VersionText:
            out += " text=" + quoted(detail);
            break;
        case HostEventKind::MachineInitComplete:
        case HostEventKind::ResourceModule:
            break;
        case HostEventKind::StatusMessage:
            out += " id=" + std::to_string(id) + " text=" + quoted(text);
            break;
        case HostEventKind::MessageBox:
            out += " id=" + std::to_string(id) + " style=" + std::to_string(intAt(ints, 0)) +
                   " answer=" + std::to_string(result) + " text=" + quoted(text);
            break;
        case HostEventKind::Readout:
            out += " xyz=" + triple(values, 0) +
                   " w=" + (values.size() > 3 ? number(values[3]) : std::string("none"));
            break;
        case HostEventKind::ManualHit:
            out += " xyz=" + triple(values, 0) + " ijk=" + triple(values, 3) +
                   " w=" + (values.size() > 9 ? number(values[9]) : std::string("none"));
            break;
        case HostEventKind::PreparePoint:
            out += " in=" + triple(values, 0) + " out=" + triple(values, 3);
            break;
        case HostEventKind::AutoHitTest:
            out += " cur=" + triple(values, 0) + " prev=" + triple(values, 3) +
                   " ijk=" + triple(values, 6) + " answer=" + std::to_string(result);
            break;
        case HostEventKind::OptionQuery:
            out += (id < 0 ? std::string(" fallback") : " code=" + std::to_string(id)) +
                   " value=" + std::to_string(result);
            break;
        case HostEventKind::KillTimer:
            out += " id=" + std::to_string(id);
            break;
        case HostEventKind::SetMode:
            out += " code=" + std::to_string(id) + " on=" + std::to_string(result);
            break;
        case HostEventKind::ReportResult: {
            const bool hasXyz = intAt(ints, 0) != 0;
            const bool hasIjk = intAt(ints, 1) != 0;
            out += " xyz=" + (hasXyz ? triple(values, 0) : std::string("none"));
            out += " ijk=" + (hasIjk ? triple(values, hasXyz ? 3 : 0) : std::string("none"));
            break;
        }
    }
    return out;
}

void HostRecorder::record(HostEvent event) {
    Listener listener;
    {
        std::lock_guard guard(lock_);
        listener = listener_;
        if (keep_)
            events_.push_back(event);
    }
    if (listener)
        listener(event);
}

std::vector<HostEvent> HostRecorder::events() const {
    std::lock_guard guard(lock_);
    return events_;
}

std::vector<HostEvent> HostRecorder::eventsOf(HostEventKind kind) const {
    std::lock_guard guard(lock_);
    std::vector<HostEvent> out;
    for (const HostEvent& event : events_) {
        if (event.kind == kind)
            out.push_back(event);
    }
    return out;
}

size_t HostRecorder::count(HostEventKind kind) const {
    std::lock_guard guard(lock_);
    size_t n = 0;
    for (const HostEvent& event : events_)
        n += event.kind == kind ? 1 : 0;
    return n;
}

void HostRecorder::clear() {
    std::lock_guard guard(lock_);
    events_.clear();
}

void HostRecorder::setListener(Listener listener) {
    std::lock_guard guard(lock_);
    listener_ = std::move(listener);
}

void HostRecorder::setKeepEvents(bool keep) {
    std::lock_guard guard(lock_);
    keep_ = keep;
}

HostRecorder& QlnRecorder() {
    static HostRecorder recorder;
    return recorder;
}
