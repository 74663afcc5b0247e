#pragma once
// XYZParser: turns machine reply lines into a position, a probe vector, a status and
// the hit and complete flags, using the reply formats of the machine file.
//
// The driver core creates one parser at initialisation, configures it once
// (SetReplyFormats, SetInitSequence, SetPositionCommands, SetScales, modes) and calls
// Parse for every received line, then reads the results with the getters. The
// formats are tried in list order until one reports a hit; hit formats come first
// and the position format last. The format notation, what each number of values
// means and the multi-line rules are described in docs/reply-formats.md.
//
// Between calls Parse keeps only the text of an unfinished multi-line reply and the
// previous complete position; every other result is reset by each call and holds
// until the next one. Failures are thrown as XYZParserException, or as
// FormatStringParserException for a format that cannot be analysed; the results of
// the steps done so far remain. A reply with a number that is not finite (nan, inf,
// or beyond the range of a double) fails that way too, with hit and complete false
// and the values reset, so it can never become a position or a hit. One thread at a
// time; the parser holds no lock.

#include <array>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "driver/comm/parser/FormatScanner.h"
#include "driver/comm/parser/FormatStringParser.h"

// Thrown by value; its text is "XYZParserException: ", the message and a line feed.
class XYZParserException : public std::exception {
  public:
    explicit XYZParserException(const std::string& message)
        : text_("XYZParserException: " + message + "\n") {}
    const std::string& Text() const noexcept { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

class XYZParser {
  public:
    // Longest text a multi-line reply may gather: the channel's limit for one message.
    static constexpr std::size_t kMaxAccumulatedText = 16000;
    // The failure of a reply with a number that is not finite.
    static constexpr const char* kNotFinite = "value not finite (nan, inf or out of range)";
    // One-value formats fill one element each of X, Y, Z, W, I, J, K and the fourth
    // vector component, so at most this many list positions can hold one.
    static constexpr std::size_t kValueBlockSize = 8;

    XYZParser() = default;

    // Parses one received message (a line with its line ending, as the channel
    // delivers it).
    virtual void Parse(const std::string& message);
    // Divisors of the raw values: X, Y and Z get `s`, W gets 1.
    virtual void SetScale(double s);
    virtual void SetScales(double sx, double sy, double sz, double sw);
    // X, Y and Z are multiplied by u / 25.4 (25.4: replies in millimetres).
    virtual void SetUnitFactor(double u);
    // Divide I, J, K by the raw X, Y, Z when a reply carries a vector.
    virtual void SetVectorDivide(int flag);
    // Negate I, J, K.
    virtual void SetReverseVector(int flag);
    // X, Y, Z, W of the last Parse.
    virtual std::array<double, 4> GetParsedPosition() const;
    // I, J, K (unit length) and the fourth component of the last Parse.
    virtual std::array<double, 4> GetParsedVector() const;
    virtual int GetStatus() const;
    virtual bool IsHit() const;
    virtual bool IsComplete() const;
    // The last scan stored six values or more.
    virtual bool HasVector() const;
    // The first format stores more than five values, or the list has several formats.
    virtual bool HasMultipleFormats() const;
    // Command lists: quoted strings with the escapes \n, \r and \<c> (byte c - '0').
    // Wide texts are converted to 8 bits first (characters above 255 become '?').
    virtual void SetPositionCommands(const std::wstring& text);
    virtual void SetPositionCommands(const std::string& text);
    virtual void SetInitSequence(const std::wstring& text);
    virtual void SetInitSequence(const std::string& text);
    // No initialisation sequence and an empty (or no) first position command.
    virtual bool IsCommandListEmpty() const;
    // Reply formats: quoted strings; backslash escapes stay in place for the format.
    virtual void SetReplyFormats(const std::wstring& text);
    virtual void SetReplyFormats(const std::string& text);

    virtual ~XYZParser() = default;

    const std::vector<std::string>& GetPositionCommands() const { return positionCommands_; }
    const std::vector<std::string>& GetInitSequence() const { return initSequence_; }
    std::vector<std::string> GetReplyFormats() const;
    // Text of an unfinished multi-line reply, waiting for its next line.
    const std::string& GetAccumulatedText() const { return accumulated_; }

  private:
    // A reply format analysed once when the list is set.
    struct PreparedFormat {
        std::string text;
        std::optional<FormatStringParserException> error;  // the format cannot be analysed
        int valueCount = 0;
        int valueClass = 0;
        bool newline = false;
        std::string scanFormat;
        std::string trailingLiteral;
        std::optional<FormatScanner> scanner;
        bool hasD = false;           // "%d" occurs in the scan format
        bool mixed = false;          // first "%lf" after the first "%d", or "%lf" and no "%d"
        int trailingWordIndex = -1;  // stored-value position of the trailing keyword
        int lineCount = 1;           // reply lines the format spans
    };

    // Where a scanned value goes: a double or an int of the parser.
    struct Destination {
        double* real = nullptr;
        int* integer = nullptr;
    };

    static PreparedFormat Prepare(const std::string& format);
    void ParseMessage(const std::string& message);
    int ScanFloating(const PreparedFormat& f, std::size_t index, bool hitAllowed);
    int ScanInteger(const PreparedFormat& f, bool hitAllowed, bool& direct);
    int ScanInto(const PreparedFormat& f, std::initializer_list<Destination> destinations);
    bool WordMatches(const PreparedFormat& f) const;
    void AppendMessage(const std::string& message);
    void ClearAccumulated();
    [[noreturn]] void RejectNonFinite();
    double& BlockElement(std::size_t n);

    std::array<double, 4> scales_{1.0, 1.0, 1.0, 1.0};
    double unitFactor_ = 25.4;
    std::array<double, 4> previous_{0.0, 0.0, 0.0, 0.0};
    std::array<double, 4> position_{0.0, 0.0, 0.0, 0.0};
    std::array<double, 4> vector_{0.0, 0.0, 1.0, 0.0};
    std::string accumulated_;
    // Where each line of accumulated_ begins (lines holding only white space do not
    // count), and the most lines any reply format spans.
    std::vector<std::size_t> lineStarts_;
    std::size_t maxLines_ = 1;
    int status_ = 0;
    bool hit_ = false;
    bool complete_ = false;
    bool previousValid_ = false;
    bool hasVector_ = false;
    bool manyValues_ = false;
    std::vector<PreparedFormat> replyFormats_;
    std::vector<std::string> positionCommands_;
    std::vector<std::string> initSequence_;
    bool vectorDivide_ = false;
    bool reverseVector_ = false;

    // Per Parse: the slot the trailing keyword (or the first value past the case's
    // destinations) is stored in, always zero-terminated at its last byte, and the
    // integer staging values of the integer cases.
    std::array<char, 256> slot_{};
    int a_[3] = {0, 0, 0};
    int b_[3] = {0, 0, 1};
    std::vector<FormatScanner::Value> values_;  // reused between scans
};
