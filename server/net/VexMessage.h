#pragma once
// VexMessage: one protocol message, a text (8-bit) and a numeric code.
//
// Outgoing messages become one line "( text ) code" CR LF (see docs/protocol.md).
// Received data is wrapped with code 0, one message per receive, exactly as received.
// A value type; safe to copy between objects on the GUI thread.

#include <QByteArray>

class VexMessage {
  public:
    VexMessage() = default;
    VexMessage(QByteArray text, int code) : text_(std::move(text)), code_(code) {}

    const QByteArray& Text() const { return text_; }
    int Code() const { return code_; }

    // The line sent for this message. It is formatted like the C conversion
    // "( %s ) %d\r\n" into a buffer of 1024 bytes: the text ends at its first zero byte,
    // and a line longer than 1023 bytes is cut at 1023 (losing its CR LF).
    QByteArray Line() const;

  private:
    QByteArray text_;
    int code_ = 0;
};
