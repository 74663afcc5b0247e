#pragma once
// The errors of the I++ DME protocol: their numbers, default severity classes and texts,
// exactly as the standard's table lists them (I++ DME 1.4.3, section 8.2). One table for
// the whole server; docs/ipp.md says which command reports which error.
//
// Plain data and lookups; no state, any thread.

#include <span>
#include <string_view>

namespace ipp {

// Severity classes (section 8.1): from Error on, the client must send ClearAllErrors()
// before the server runs other commands.
inline constexpr int kSeverityInfo = 0;
inline constexpr int kSeverityWarning = 1;
inline constexpr int kSeverityError = 2;
inline constexpr int kSeverityUser = 3;

// The numbers this server reports. Values are the standard's.
enum class ErrorCode : int {
    BufferFull = 0,
    IllegalTag = 1,
    NoSpaceAtPos6 = 2,
    TransactionAborted = 6,
    IllegalCharacter = 7,
    ProtocolError = 8,
    UnsupportedCommand = 501,
    IncorrectArguments = 502,
    ArgumentOutOfRange = 504,
    ArgumentNotSupported = 506,
    BadContext = 508,
    BadArgument = 509,
    BadProperty = 510,
    NoDaemonsActive = 512,
    DaemonDoesNotExist = 513,
    UseClearAllErrors = 514,
    DaemonAlreadyExists = 515,
    ThetaOutOfRange = 1007,
    VectorHasNoNorm = 1010,
    ToolNotFound = 1502,
    ToolNotDefined = 1503,
};

struct ErrorDefinition {
    int number;
    int severity;  // default class
    std::string_view text;
};

// Every error the standard defines, in number order (GetErrorInfo answers from it).
std::span<const ErrorDefinition> ErrorTable();
// The definition of `number`, or null when the standard defines none.
const ErrorDefinition* FindError(int number);
// Default class and text of a code of this server (always defined).
int DefaultSeverity(ErrorCode code);
std::string_view ErrorText(ErrorCode code);

}  // namespace ipp
