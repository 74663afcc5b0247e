#pragma once
// FormatStringParser: analyses one configured reply format.
//
// A reply format is written in the notation of C formatted input ("%lf", "%d",
// "%*s", ...) and may end in a literal keyword ("%lf %lf %lf HIT"). Parse turns it
// into a scan format the reply scanner executes, counts the values the format
// stores, classifies its last conversion and splits off the trailing keyword, which
// the scan format reads as one word ("%s") so it can be compared separately.
// The notation is described for integrators in docs/reply-formats.md.
//
// A parser object holds the results of its last Parse until the next one. It is a
// plain object without locks; use it from one thread at a time. Failures are thrown
// as FormatStringParserException.

#include <exception>
#include <string>

// Thrown by value; its text is "FormatStringParserException: " and the message.
class FormatStringParserException : public std::exception {
  public:
    explicit FormatStringParserException(const std::string& message)
        : text_("FormatStringParserException: " + message) {}
    const std::string& Text() const noexcept { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

class FormatStringParser {
  public:
    // States of the conversion automaton, one character at a time.
    enum State { kText, kPercent, kSuppressed, kWidth, kSize, kAfterConversion, kEscape, kLiteral };

    // Class of the last conversion of a format.
    enum ValueClass {
        kNone = 0,
        kCharacter = 1,    // c, C
        kString = 2,       // s, S
        kFloating = 3,     // e, E, f, g, G
        kInteger = 4,      // d, i, n, o
        kUnsigned = 5,     // u
        kHexadecimal = 6,  // x
    };

    virtual ~FormatStringParser() = default;

    // Converts `format`, replacing every result of the previous call. Throws
    // FormatStringParserException "format string empty" for an empty format and
    // "bad type in format string" when the format has no conversion or ends with a
    // string conversion (the results then describe the format as far as it was read).
    virtual void Parse(const std::string& format);

    int GetState() const { return state_; }
    // Conversions that store a value; those written with '*' do not count.
    int GetValueCount() const { return valueCount_; }
    int GetValueClass() const { return valueClass_; }
    // The format contained the escape "\n" (it spans several reply lines).
    bool HasNewline() const { return newline_; }
    // How many reply lines the format spans: one more than its "\n" escapes.
    int GetLineCount() const { return newlines_ + 1; }
    const std::string& GetScanFormat() const { return scanFormat_; }
    // The keyword the format ends with; empty when it ends in a conversion or escape.
    const std::string& GetTrailingLiteral() const { return trailingLiteral_; }

    // The class a conversion letter gives, or kNone when `letter` ends no conversion.
    static ValueClass ClassOf(char letter);

  private:
    int state_ = kText;
    int valueCount_ = 0;
    int valueClass_ = kNone;
    bool newline_ = false;
    int newlines_ = 0;
    std::string scanFormat_;
    std::string trailingLiteral_;
};
