#pragma once
// The I++ DME command line: its tag and its method call, parsed after the grammar of the
// standard (I++ DME 1.4.3, sections 6.1.1 and 6.1.4.2), and the response lines the server
// sends back (section 6.2.2.2). docs/ipp.md describes what this server accepts.
//
//   00012 Get(X(), Y(), Tool.A())        a command with a command tag
//   E0013 OnMoveReportE(Time(0.5), X())   a command of the fast queue, with an event tag
//
// Parsing never throws and accepts any bytes: a line that breaks a rule gives the error
// number the standard names for it. Pure functions, any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipp/protocol/IppErrors.h"

namespace ipp {

// Longest command line, in characters before its CR LF (section 6.2).
inline constexpr std::size_t kMaxLineLength = 65536;
// Most digits a number may have (section 6.1.4.2).
inline constexpr int kMaxNumberDigits = 16;

// "00001".."99999" (command tags) or "E0001".."E9999" (event tags); E0000 is the server's
// tag for unsolicited events and is never accepted from a client.
struct Tag {
    bool event = false;
    int number = 0;

    std::string Text() const;
    bool operator==(const Tag&) const = default;
};

inline constexpr Tag kUnsolicitedTag{true, 0};

// A number as written and its value (always finite).
struct Number {
    double value = 0.0;
    std::string text;
};

struct Argument {
    enum class Kind {
        String,    // "text": `text` holds what is between the quotes
        Number,    // 12.5: `number`
        Property,  // Tool.PtMeasPar.Speed(100): `text` the name, `values` its numbers
        EventTag,  // E0553: `text`, and its number in `number`
        Name,      // PartCsy: `text`
    };
    Kind kind = Kind::Name;
    std::string text;
    Number number;
    std::vector<Number> values;
};

struct Command {
    Tag tag;
    std::string name;
    std::vector<Argument> arguments;
};

struct ParsedLine {
    // Absent when the first five characters are no tag: the error then goes out with E0000.
    std::optional<Tag> tag;
    // Present when the line follows the grammar.
    std::optional<Command> command;
    // Why there is no command: IllegalTag, IllegalCharacter, NoSpaceAtPos6 or ProtocolError.
    ErrorCode error = ErrorCode::ProtocolError;
    // The method's name when it could be read, for the error line.
    std::string method;
};

// Parses one command line as received, up to and without its line feed (so a well-formed
// line ends with its carriage return).
ParsedLine ParseCommandLine(std::string_view line);
// "00012" or "E0012" (exactly five characters); E0000 and 00000 are no tags.
std::optional<Tag> ParseTag(std::string_view text);
// The command in the standard's spelling, without CR LF: "00012 Get(X(), Y())". Parsing
// this text gives the same command back.
std::string FormatCommand(const Command& command);

// --- Response lines (without CR LF) -----------------------------------------------------

std::string AckLine(const Tag& tag);                          // "00012 &"
std::string DoneLine(const Tag& tag);                         // "00012 %"
std::string DataLine(const Tag& tag, std::string_view data);  // "00012 # X(1.5)"
// "00012 ! Error(3, 0509, "SetCoordSystem", "Bad argument")"
std::string ErrorLine(const Tag& tag, int severity, ErrorCode code, std::string_view method);
// A number for a data line: fixed point with up to six decimals and at most 16 digits.
std::string FormatNumber(double value);
// A string argument: the text in double quotes (quotes in it are left out: no I++ string
// can hold one).
std::string Quoted(std::string_view text);

}  // namespace ipp
