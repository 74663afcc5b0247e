#pragma once
// What spy and replay print: the session as a recording (docs/session-recording.md) on
// stdout, optionally written to a file as well, stamped by one clock that starts at Open.
//
// Owned by the command; main thread. A file that cannot be written is reported once on
// stderr and makes Healthy() false; stdout is written regardless.

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>
#include <string>

#include "common/SessionRecording.h"

namespace tool {

class SessionOutput {
  public:
    explicit SessionOutput(std::string command) : command_(std::move(command)) {}

    // Starts the clock, prints the header; with a path, creates that file too (false, with
    // the reason on stderr, when it cannot).
    bool Open(const QString& path = QString());
    double Seconds() const { return clock_.nsecsElapsed() / 1e9; }

    // One read's messages.
    void Read(sessionrec::Direction d, QByteArrayView bytes);
    void AddMark(sessionrec::Mark mark, const QByteArray& detail = {});
    // A comment line ("# TEXT").
    void Note(const QString& text);
    bool Healthy() const { return healthy_; }

  private:
    void Emit(const QByteArray& lines);

    std::string command_;
    QElapsedTimer clock_;
    sessionrec::Writer writer_;
    bool healthy_ = true;
};

}  // namespace tool
