#include "driver/comm/channel/PortSettings.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
            ++pos;
        }
        const size_t start = pos;
        while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') {
            ++pos;
        }
        if (pos > start) {
            tokens.push_back(text.substr(start, pos - start));
        }
    }
    return tokens;
}

// "comN" or "comN:".
bool IsDeviceName(std::string_view token) {
    if (token.size() < 4 || !EqualsNoCase(token.substr(0, 3), "com")) {
        return false;
    }
    std::string_view number = token.substr(3);
    if (number.back() == ':') {
        number.remove_suffix(1);
    }
    return IsDigits(number);
}

std::optional<Parity> ParityFromLetter(std::string_view value) {
    if (value.size() != 1) {
        return std::nullopt;
    }
    switch (std::toupper(static_cast<unsigned char>(value[0]))) {
        case 'N':
            return Parity::kNone;
        case 'E':
            return Parity::kEven;
        case 'O':
            return Parity::kOdd;
        case 'M':
            return Parity::kMark;
        case 'S':
            return Parity::kSpace;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string FormatPortSettings(int port, int baudRate, char parity, int dataBits, int stopBits) {
    return "com" + std::to_string(port) + " baud=" + std::to_string(baudRate) +
           " parity=" + std::string(1, parity) + " data=" + std::to_string(dataBits) +
           " stop=" + std::to_string(stopBits);
}

std::optional<PortSettings> ParsePortSettings(std::string_view text) {
    std::vector<std::string_view> tokens = Tokens(text);
    if (!tokens.empty() && IsDeviceName(tokens.front())) {
        tokens.erase(tokens.begin());
    }
    PortSettings settings;
    bool haveBaud = false, haveParity = false, haveData = false, haveStop = false;
    for (std::string_view token : tokens) {
        const size_t eq = token.find('=');
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = token.substr(0, eq);
        const std::string_view value = token.substr(eq + 1);
        if (EqualsNoCase(key, "baud")) {
            int baud = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), baud);
            if (!IsDigits(value) || ec != std::errc() || end != value.data() + value.size() ||
                baud <= 0) {
                return std::nullopt;
            }
            settings.baudRate = baud;
            haveBaud = true;
        } else if (EqualsNoCase(key, "parity")) {
            const std::optional<Parity> parity = ParityFromLetter(value);
            if (!parity) {
                return std::nullopt;
            }
            settings.parity = *parity;
            haveParity = true;
        } else if (EqualsNoCase(key, "data")) {
            if (value.size() != 1 || value[0] < '5' || value[0] > '8') {
                return std::nullopt;
            }
            settings.dataBits = value[0] - '0';
            haveData = true;
        } else if (EqualsNoCase(key, "stop")) {
            if (value == "1") {
                settings.stopBits = StopBits::kOne;
            } else if (value == "1.5") {
                settings.stopBits = StopBits::kOnePointFive;
            } else if (value == "2") {
                settings.stopBits = StopBits::kTwo;
            } else {
                return std::nullopt;
            }
            haveStop = true;
        } else {
            return std::nullopt;
        }
    }
    if (!(haveBaud && haveParity && haveData && haveStop)) {
        return std::nullopt;
    }
    return settings;
}
