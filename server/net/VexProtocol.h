#pragma once
// Constants of the VexServer text protocol. docs/protocol.md describes every line,
// request and timing; change both together.
//
// Server to client: one line per message, "( text ) code" and CR LF, at most 1023 bytes.
// Client to server: bare request words without any terminator (a C string's terminating
// zero is accepted); one receive is one request.

#include <chrono>

namespace vexproto {

// Version announced in the greeting.
inline constexpr int kVersion = 20;

// Message codes, sent in decimal after the closing parenthesis.
inline constexpr int kCodeVersion = 240;   // greeting, once per accepted client
inline constexpr int kCodeHit = 241;       // hit notice, pushed by the poll cycle
inline constexpr int kCodePosition = 235;  // answer to "POS"
inline constexpr int kCodeHitData = 237;   // answer to "HIT"

// Text parts. The numbers use the C conversion "%lf" (six decimals, C locale).
inline constexpr char kVersionFormat[] = "VEXVersion:%d";
inline constexpr char kHitText[] = "HIT";
inline constexpr char kPositionFormat[] = "%lf %lf %lf %lf";
inline constexpr char kHitDataFormat[] = "%lf %lf %lf %lf %lf %lf %lf";

// Whole line: text part and code. Formatted into a buffer of kLineBufferSize bytes, so
// a line longer than kLineBufferSize - 1 bytes is cut there.
inline constexpr char kLineFormat[] = "( %s ) %d\r\n";
inline constexpr int kLineBufferSize = 1024;

// Requests, compared exactly and case-sensitively with the received text up to its first
// zero byte (the whole text when it has none).
inline constexpr char kRequestPosition[] = "POS";
inline constexpr char kRequestHit[] = "HIT";
inline constexpr char kRequestExit[] = "EXI";
// A received text starting with this prefix is written to the server log.
inline constexpr char kLoggedPrefix[] = "VER";

// One receive takes at most kReceiveBufferSize - 1 bytes.
inline constexpr int kReceiveBufferSize = 4096;

// Default listening port (TCPPortNumber).
inline constexpr int kDefaultPort = 1390;

// One client is served; kMaxWaiting more connections may wait, further ones are refused.
// While one waits, a client without a request for the idle time (IdleClientTime) is
// closed so that the waiting one is served.
inline constexpr int kMaxWaiting = 1;
inline constexpr std::chrono::seconds kDefaultIdleClientTime{30};

// Sending to a client that does not read: when the pending output passes
// kSendBacklogLimit bytes the send waits kSendRetryInterval and tries again, at most
// kSendTries times in all (about 2 s), then drops the line.
inline constexpr int kSendBacklogLimit = 64 * 1024;
inline constexpr std::chrono::milliseconds kSendRetryInterval{100};
inline constexpr int kSendTries = 20;

// Message boxes of a connection the server closes itself.
inline constexpr char kZeroBytesText[] = "ERROR: OnReceive - 0 bytes read";
inline constexpr char kSocketErrorText[] = "ERROR: OnReceive - SOCKET_ERROR";

}  // namespace vexproto
