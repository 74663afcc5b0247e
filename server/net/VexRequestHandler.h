#pragma once
// VexRequestHandler: answers the client's requests from the main window's records.
//
// The main window owns one handler and calls HandleRequest() with the text of every
// receive (through the application's OnMessage). The handler reads the window's three
// records and its "Always monitor hits" flag through the hooks it is given, writes to the
// window's log and posts the window's close through them, and answers through the
// application's HasClient()/Send(). It keeps no state of its own. GUI thread only.
//
// A request is the received text up to its first zero byte, if it has one ("POS" and
// "POS\0" are the same request; "\0POS" is an empty one). Requests are compared exactly
// and case-sensitively with that text; a trailing CR, LF or space makes a request unknown:
//   "POS"  answered with the current position, code 235;
//   "HIT"  answered with the last hit and its vector, code 237; logged when the
//          always-monitor flag is set;
//   "EXI"  posts the window's close; no answer;
//   any text starting with "VER" is logged; no answer. Everything else is ignored.

#include <QByteArray>
#include <QString>
#include <functional>

#include "server/device/VexPosition.h"

class VexApp;

// The main window's position and hit records, all zeros until the poll cycle fills them.
struct VexRecords {
    VexPosition position;  // last position read by the poll cycle
    VexPosition hit;       // last hit position
    VexPosition vector;    // approach vector of the last hit
};

class VexRequestHandler {
  public:
    // What the handler needs from its owner. Every hook must be set.
    struct Hooks {
        std::function<VexRecords()> records;                 // snapshot of the records
        std::function<bool()> alwaysMonitor;                 // "Always monitor hits"
        std::function<void(const QString& text)> appendLog;  // one log line
        std::function<void()> postClose;                     // close the window later
    };

    // `app` is not owned and must outlive the handler.
    VexRequestHandler(VexApp* app, Hooks hooks);

    void HandleRequest(const QByteArray& received);

    // The request a receive carries: its bytes up to the first zero byte.
    static QByteArray RequestText(const QByteArray& received);
    // Whether `text` (a RequestText()) is one the handler acts on: "POS", "HIT", "EXI"
    // or a text starting with "VER".
    static bool IsRequest(const QByteArray& text);

    // Text parts of the answers ("%lf" values, C locale): x y z w of a position, and
    // x y z w of a hit followed by x y z of its vector (the vector's w is not sent).
    static QByteArray FormatPosition(const VexPosition& position);
    static QByteArray FormatHitData(const VexPosition& hit, const VexPosition& vector);

  private:
    VexApp* app_;
    Hooks hooks_;
};
