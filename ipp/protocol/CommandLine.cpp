#include "ipp/protocol/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace ipp {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Reads the method part of a line (everything after "TAG ") after the grammar of the
// standard. Every rule it breaks makes it fail; the caller reports a protocol error.
class MethodReader {
  public:
    explicit MethodReader(std::string_view text) : text_(text) {}

    bool Read(Command& command, std::string& name) {
        if (!ReadBasicName(name))
            return false;
        command.name = name;
        SkipSpaces();
        if (AtEnd())
            return true;  // "StartSession": the standard's own examples leave out the "()"
        if (!Take('('))
            return false;
        SkipSpaces();
        if (!Take(')')) {
            do {
                SkipSpaces();
                Argument argument;
                if (!ReadArgument(argument))
                    return false;
                command.arguments.push_back(std::move(argument));
                SkipSpaces();
            } while (Take(','));
            if (!Take(')'))
                return false;
        }
        return AtEnd();
    }

  private:
    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
    bool Take(char c) {
        if (Peek() != c)
            return false;
        ++at_;
        return true;
    }
    void SkipSpaces() {
        while (Peek() == ' ')
            ++at_;
    }

    bool ReadBasicName(std::string& name) {
        if (!IsAlpha(Peek()))
            return false;
        const std::size_t start = at_;
        while (IsAlpha(Peek()) || IsDigit(Peek()))
            ++at_;
        name.assign(text_.substr(start, at_ - start));
        return true;
    }

    // Name :== BasicName { "." BasicName }
    bool ReadName(std::string& name, bool& dotted) {
        dotted = false;
        if (!ReadBasicName(name))
            return false;
        while (Peek() == '.') {
            ++at_;
            std::string part;
            if (!ReadBasicName(part))
                return false;
            name += '.';
            name += part;
            dotted = true;
        }
        return true;
    }

    bool ReadNumber(Number& number) {
        const std::size_t start = at_;
        if (Peek() == '+' || Peek() == '-')
            ++at_;
        int digits = 0;
        while (IsDigit(Peek())) {
            ++at_;
            ++digits;
        }
        if (Take('.')) {
            while (IsDigit(Peek())) {
                ++at_;
                ++digits;
            }
        }
        if (digits == 0 || digits > kMaxNumberDigits)
            return false;
        if (Peek() == 'E' || Peek() == 'e') {
            ++at_;
            if (Peek() == '+' || Peek() == '-')
                ++at_;
            int exponentDigits = 0;
            while (IsDigit(Peek())) {
                ++at_;
                ++exponentDigits;
            }
            if (exponentDigits < 1 || exponentDigits > 3)
                return false;
        }
        number.text.assign(text_.substr(start, at_ - start));
        // from_chars takes no leading '+'.
        const char* first = number.text.data() + (number.text[0] == '+' ? 1 : 0);
        const char* last = number.text.data() + number.text.size();
        const auto [end, error] = std::from_chars(first, last, number.value);
        // A value beyond the range of a double (1e999) is no number this server can use.
        return error == std::errc() && end == last && std::isfinite(number.value);
    }

    bool ReadArgument(Argument& argument) {
        const char c = Peek();
        if (c == '"') {
            ++at_;
            const std::size_t close = text_.find('"', at_);
            if (close == std::string_view::npos)
                return false;
            argument.kind = Argument::Kind::String;
            argument.text.assign(text_.substr(at_, close - at_));
            at_ = close + 1;
            return true;
        }
        if (c == '+' || c == '-' || c == '.' || IsDigit(c)) {
            argument.kind = Argument::Kind::Number;
            return ReadNumber(argument.number);
        }
        bool dotted = false;
        if (!ReadName(argument.text, dotted))
            return false;
        const std::size_t afterName = at_;
        SkipSpaces();
        if (Take('(')) {
            argument.kind = Argument::Kind::Property;
            SkipSpaces();
            if (Take(')'))
                return true;
            do {
                SkipSpaces();
                Number value;
                if (!ReadNumber(value))
                    return false;
                argument.values.push_back(std::move(value));
                SkipSpaces();
            } while (Take(','));
            return Take(')');
        }
        at_ = afterName;
        if (dotted)
            return false;  // a dotted name is a property and needs its "()"
        if (const std::optional<Tag> tag = ParseTag(argument.text); tag && tag->event) {
            argument.kind = Argument::Kind::EventTag;
            argument.number.value = tag->number;
            argument.number.text = argument.text;
        } else {
            argument.kind = Argument::Kind::Name;
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string NumberList(const std::vector<Number>& values) {
    std::string out;
    for (const Number& value : values) {
        if (!out.empty())
            out += ", ";
        out += value.text;
    }
    return out;
}

}  // namespace

std::string Tag::Text() const {
    char text[8];
    if (event)
        std::snprintf(text, sizeof text, "E%04d", number % 10000);
    else
        std::snprintf(text, sizeof text, "%05d", number % 100000);
    return text;
}

std::optional<Tag> ParseTag(std::string_view text) {
    if (text.size() != 5)
        return std::nullopt;
    const bool event = text[0] == 'E';
    int number = 0;
    for (std::size_t i = event ? 1 : 0; i < 5; ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        number = number * 10 + (text[i] - '0');
    }
    if (number == 0)
        return std::nullopt;
    return Tag{event, number};
}

ParsedLine ParseCommandLine(std::string_view line) {
    ParsedLine parsed;
    parsed.tag = ParseTag(line.substr(0, 5));
    if (!parsed.tag) {
        parsed.error = ErrorCode::IllegalTag;
        return parsed;
    }
    // Printable ASCII only, and the line ends with CR (the LF was cut off by the reader).
    if (line.empty() || line.back() != '\r') {
        parsed.error = ErrorCode::IllegalCharacter;
        return parsed;
    }
    line.remove_suffix(1);
    for (char c : line) {
        if (c < 32 || c > 126) {
            parsed.error = ErrorCode::IllegalCharacter;
            return parsed;
        }
    }
    if (line.size() < 6 || line[5] != ' ') {
        parsed.error = ErrorCode::NoSpaceAtPos6;
        return parsed;
    }
    Command command;
    command.tag = *parsed.tag;
    if (!MethodReader(line.substr(6)).Read(command, parsed.method)) {
        parsed.error = ErrorCode::ProtocolError;
        return parsed;
    }
    parsed.command = std::move(command);
    return parsed;
}

std::string FormatCommand(const Command& command) {
    std::string out = command.tag.Text() + ' ' + command.name + '(';
    bool first = true;
    for (const Argument& argument : command.arguments) {
        if (!first)
            out += ", ";
        first = false;
        switch (argument.kind) {
            case Argument::Kind::String:
                out += Quoted(argument.text);
                break;
            case Argument::Kind::Number:
                out += argument.number.text;
                break;
            case Argument::Kind::Property:
                out += argument.text + '(' + NumberList(argument.values) + ')';
                break;
            case Argument::Kind::EventTag:
            case Argument::Kind::Name:
                out += argument.text;
                break;
        }
    }
    return out + ')';
}

std::string AckLine(const Tag& tag) {
    return tag.Text() + " &";
}

std::string DoneLine(const Tag& tag) {
    return tag.Text() + " %";
}

std::string DataLine(const Tag& tag, std::string_view data) {
    std::string out = tag.Text() + " # ";
    out += data;
    return out;
}

std::string ErrorLine(const Tag& tag, int severity, ErrorCode code, std::string_view method) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", int(code));
    return tag.Text() + " ! Error(" + std::to_string(severity) + ", " + number + ", " +
           Quoted(method) + ", " + Quoted(ErrorText(code)) + ')';
}

std::string FormatNumber(double value) {
    if (!std::isfinite(value))
        value = 0.0;
    // Digits before the point, so that all of them together stay within 16.
    int whole = 1;
    for (double magnitude = std::fabs(value); magnitude >= 10.0 && whole < 40; magnitude /= 10.0)
        ++whole;
    char text[64];
    if (whole > kMaxNumberDigits) {
        std::snprintf(text, sizeof text, "%.9e", value);
    } else {
        const int decimals = std::min(6, kMaxNumberDigits - whole);
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    }
    std::string out = text;
    // No "-0.000000": a value that rounds to zero is zero.
    if (out[0] == '-' && out.find_first_not_of("-0.") == std::string::npos)
        out.erase(0, 1);
    return out;
}

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c != '"')
            out += c;
    }
    return out + '"';
}

}  // namespace ipp
