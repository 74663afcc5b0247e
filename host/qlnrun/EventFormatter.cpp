#include "host/qlnrun/EventFormatter.h"

#include <QString>
#include <cstdio>

namespace {

// " v1 v2 ..." for values[first .. first + count - 1]; false when some are missing.
bool appendNumbers(std::string& out, const std::vector<double>& values, size_t first,
                   size_t count) {
    if (values.size() < first + count)
        return false;
    for (size_t i = first; i < first + count; ++i) {
        // "%.6f" of a large value runs to hundreds of digits: the text is sized to it.
        const int length = std::snprintf(nullptr, 0, " %.6f", values[i]);
        const size_t at = out.size();
        out.resize(at + size_t(length) + 1);
        std::snprintf(out.data() + at, size_t(length) + 1, " %.6f", values[i]);
        out.resize(at + size_t(length));
    }
    return true;
}

int intAt(const std::vector<int>& ints, size_t index) {
    return index < ints.size() ? ints[index] : 0;
}

}  // namespace

std::string TimestampSuffix(std::chrono::steady_clock::time_point when) {
    const double seconds = std::chrono::duration<double>(when.time_since_epoch()).count();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, " @%.6f", seconds);
    return buffer;
}

std::string EscapeEventText(const std::wstring& text) {
    std::string out;
    for (char c : QString::fromStdWString(text).toStdString()) {
        switch (c) {
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
    return out;
}

std::optional<std::string> EventFormatter::lineFor(const HostEvent& event) {
    std::string line;
    switch (event.kind) {
        case HostEventKind::MachineInitComplete:
            return std::string("init-complete");
        case HostEventKind::Readout:
            line = "readout";
            if (!appendNumbers(line, event.values, 0, 4))
                return std::nullopt;  // a readout without a point shows nothing new
            if (line == lastReadout_)
                return std::nullopt;
            lastReadout_ = line;
            return line;
        case HostEventKind::ManualHit:
            line = "hit";
            if (!appendNumbers(line, event.values, 0, 6))
                return std::nullopt;
            appendNumbers(line, event.values, 9, 1);
            return line;
        case HostEventKind::ReportResult: {
            line = "result";
            const bool hasXyz = intAt(event.ints, 0) != 0;
            const bool hasIjk = intAt(event.ints, 1) != 0;
            if (!hasXyz)
                return line + " none";
            appendNumbers(line, event.values, 0, 3);
            if (hasIjk)
                appendNumbers(line, event.values, 3, 3);
            return line;
        }
        case HostEventKind::SetMode:
            return "mode " + std::to_string(event.id) + ' ' + std::to_string(event.result);
        case HostEventKind::StatusMessage:
            return "status " + std::to_string(event.id) + ' ' + EscapeEventText(event.text);
        case HostEventKind::MessageBox:
            return "message " + std::to_string(event.id) + ' ' + EscapeEventText(event.text) +
                   " -> " + std::to_string(event.result);
        default:
            return std::nullopt;
    }
}
