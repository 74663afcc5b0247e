#include "driver/comm/parser/FormatStringParser.h"

namespace {

// Read as a word by the scan format while a literal run is open.
constexpr const char kPlaceholder[] = "%s";
constexpr std::size_t kPlaceholderLength = 2;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSizeLetter(char c) {
    return c == 'h' || c == 'l' || c == 'I' || c == 'L';
}

}  // namespace

FormatStringParser::ValueClass FormatStringParser::ClassOf(char letter) {
    switch (letter) {
        case 'c':
        case 'C':
            return kCharacter;
        case 's':
        case 'S':
            return kString;
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
            return kFloating;
        case 'd':
        case 'i':
        case 'n':
        case 'o':
            return kInteger;
        case 'u':
            return kUnsigned;
        case 'x':
            return kHexadecimal;
        default:
            return kNone;
    }
}

void FormatStringParser::Parse(const std::string& format) {
    state_ = kText;
    valueCount_ = 0;
    valueClass_ = kNone;
    newline_ = false;
    newlines_ = 0;
    scanFormat_.clear();
    trailingLiteral_.clear();

    if (format.empty())
        throw FormatStringParserException("format string empty");

    for (char c : format) {
        const ValueClass letterClass = ClassOf(c);
        switch (state_) {
            case kText:
                if (c == '%') {
                    scanFormat_ += c;
                    state_ = kPercent;
                } else if (c == '\\') {
                    scanFormat_ += c;
                    state_ = kEscape;
                } else {
                    scanFormat_ += kPlaceholder;
                    trailingLiteral_.assign(1, c);
                    state_ = kLiteral;
                }
                break;
            case kPercent:
                scanFormat_ += c;
                if (c == '*') {
                    state_ = kSuppressed;
                } else if (IsDigit(c)) {
                    ++valueCount_;
                    state_ = kWidth;
                } else if (IsSizeLetter(c)) {
                    ++valueCount_;
                    state_ = kSize;
                } else if (letterClass != kNone) {
                    ++valueCount_;
                    valueClass_ = letterClass;
                    state_ = kAfterConversion;
                }
                break;
            case kSuppressed:
                scanFormat_ += c;
                if (IsDigit(c)) {
                    state_ = kWidth;
                } else if (IsSizeLetter(c)) {
                    state_ = kSize;
                } else if (letterClass != kNone) {
                    valueClass_ = letterClass;
                    state_ = kAfterConversion;
                }
                break;
            case kWidth:
                scanFormat_ += c;
                if (IsSizeLetter(c)) {
                    state_ = kSize;
                } else if (letterClass != kNone) {
                    valueClass_ = letterClass;
                    state_ = kAfterConversion;
                }
                break;
            case kSize:
                scanFormat_ += c;
                if (letterClass != kNone) {
                    valueClass_ = letterClass;
                    state_ = kAfterConversion;
                }
                break;
            case kAfterConversion:
                scanFormat_ += c;
                state_ = c == '%' ? kPercent : c == '\\' ? kEscape : kText;
                break;
            case kEscape:
                if (c == '%') {
                    scanFormat_ += c;
                    state_ = kPercent;
                } else if (IsDigit(c) || c == '\\') {
                    scanFormat_ += c;
                } else if (c == 'n') {
                    // The line break between two reply lines becomes white space, which
                    // matches the space the parser puts between accumulated lines.
                    if (!scanFormat_.empty() && scanFormat_.back() == '\\')
                        scanFormat_.back() = ' ';
                    else
                        scanFormat_ += ' ';
                    newline_ = true;
                    ++newlines_;
                    state_ = kText;
                } else {
                    scanFormat_ += c;
                    state_ = kText;
                }
                break;
            case kLiteral:
                if (c == '%' || c == '\\') {
                    // Not the end of the format after all: the run is ordinary text.
                    scanFormat_.resize(scanFormat_.size() - kPlaceholderLength);
                    scanFormat_ += trailingLiteral_;
                    scanFormat_ += c;
                    trailingLiteral_.clear();
                    state_ = c == '%' ? kPercent : kEscape;
                } else {
                    trailingLiteral_ += c;
                }
                break;
        }
    }

    switch (valueClass_) {
        case kCharacter:
        case kFloating:
        case kInteger:
        case kUnsigned:
        case kHexadecimal:
            break;
        default:
            throw FormatStringParserException("bad type in format string");
    }
}
