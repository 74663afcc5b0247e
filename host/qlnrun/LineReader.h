#pragma once
// LineReader: reads text lines from a file descriptor (qlnrun's stdin) inside the event
// loop, through a socket notifier, and emits each complete line without its line end.
//
// A last line without a line end is emitted at the end of input, then ended() once. A line
// longer than kMaxLine bytes is dropped and reported by tooLong(), so a runaway writer cannot
// grow the buffer without bound. Does not own the descriptor. GUI thread.

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

class LineReader : public QObject {
    Q_OBJECT
  public:
    static constexpr qsizetype kMaxLine = 64 * 1024;

    explicit LineReader(int fd, QObject* parent = nullptr);
    // Starts or pauses reading. A paused reader emits nothing; lines already read wait in
    // its buffer and follow, in order, once it is enabled again.
    void setEnabled(bool enabled);

  signals:
    void lineRead(const QByteArray& line);
    void tooLong();
    void ended();

  private:
    void readAvailable();
    void emitPending();

    int fd_;
    QSocketNotifier* notifier_ = nullptr;
    QByteArray pending_;
    bool enabled_ = false;
    bool endOfInput_ = false;  // read() found the end (or an error)
    bool discarding_ = false;  // inside a line that was too long
    bool ended_ = false;       // ended() was emitted
};
