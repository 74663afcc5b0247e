#pragma once

// One text format for recorded sessions, written by tactus-tool spy and tactus-ipp --log
// and read by tactus-tool replay and the regression tests (docs/session-recording.md).
//
//   # vexline-recording 1
//   0.000000 < ( VEXVersion:20 ) 240\r\n
//   0.100213 > POS
//
// One line per message: seconds since the recording began (monotonic clock, six
// decimals), the direction ('>' towards the server, the listening side; '<' towards the
// client), one space, then the message's bytes with backslash, control characters and
// bytes above 126 escaped (\\ \r \n \t \0 \xHH), so a recording is plain ASCII and one
// message never spans two lines. Lines starting with '#' are comments.
//
// A message is what one read delivered, cut after each line feed: a line of a
// line-based peer is one message, an unterminated request (the position server's
// requests have no terminator) is one message too.
//
// Connections are marked by two comment lines that readers may use and others skip:
//   # 0.000000 open 127.0.0.1:40312        a client connected (the text after "open" is free)
//   # 12.500000 close server               the server (or the client: "close client") ended it
// A recording without marks is one connection opened at time 0.
//
// Everything here is used from one thread at a time; failures are return values.

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <optional>

namespace sessionrec {

inline constexpr const char kHeader[] = "# vexline-recording 1";

enum class Direction { ToServer, ToClient };

struct Entry {
    double seconds = 0;
    Direction direction = Direction::ToServer;
    QByteArray bytes;
};

inline char DirectionMark(Direction d) {
    return d == Direction::ToServer ? '>' : '<';
}

inline QByteArray Escape(QByteArrayView bytes) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (u < 0x20 || u > 0x7E) {
                    out += "\\x";
                    out += hex[u >> 4];
                    out += hex[u & 15];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The bytes an escaped text stands for; nullopt for a malformed escape.
inline std::optional<QByteArray> Unescape(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case 'x': {
                if (i + 2 >= text.size())
                    return std::nullopt;
                const int hi = HexDigit(text[i + 1]);
                const int lo = HexDigit(text[i + 2]);
                if (hi < 0 || lo < 0)
                    return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

inline QByteArray FormatLine(const Entry& e) {
    return QByteArray::number(e.seconds, 'f', 6) + ' ' + DirectionMark(e.direction) + ' ' +
           Escape(e.bytes) + '\n';
}

// Cuts what one read delivered into messages: after each line feed, and the rest as one.
inline QList<QByteArray> SplitMessages(QByteArrayView bytes) {
    QList<QByteArray> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            parts.append(bytes.sliced(start, i + 1 - start).toByteArray());
            start = i + 1;
        }
    }
    if (start < bytes.size())
        parts.append(bytes.sliced(start).toByteArray());
    return parts;
}

// The lines of one read, every message stamped with the same time.
inline QByteArray FormatRead(double seconds, Direction d, QByteArrayView bytes) {
    QByteArray lines;
    for (const QByteArray& m : SplitMessages(bytes))
        lines += FormatLine({seconds, d, m});
    return lines;
}

enum class Mark { Open, CloseByServer, CloseByClient };

struct MarkLine {
    double seconds = 0;
    Mark mark = Mark::Open;
    QByteArray detail;  // after "open": who connected, or whatever the writer noted
};

inline QByteArray FormatMark(double seconds, Mark mark, QByteArrayView detail = {}) {
    QByteArray line = "# " + QByteArray::number(seconds, 'f', 6) + ' ';
    line += mark == Mark::Open            ? "open"
            : mark == Mark::CloseByServer ? "close server"
                                          : "close client";
    if (mark == Mark::Open && !detail.isEmpty())
        line += ' ' + Escape(detail);
    return line + '\n';
}

// The mark a comment line holds, or nullopt for any other line.
inline std::optional<MarkLine> ParseMark(QByteArrayView line) {
    if (!line.startsWith("# "))
        return std::nullopt;
    const QByteArrayView rest = line.sliced(2);
    const qsizetype space = rest.indexOf(' ');
    if (space <= 0)
        return std::nullopt;
    MarkLine m;
    bool ok = false;
    m.seconds = QByteArray(rest.first(space).data(), space).toDouble(&ok);
    if (!ok || !(m.seconds >= 0))
        return std::nullopt;
    const QByteArrayView word = rest.sliced(space + 1);
    if (word == "close server") {
        m.mark = Mark::CloseByServer;
    } else if (word == "close client") {
        m.mark = Mark::CloseByClient;
    } else if (word == "open" || word.startsWith("open ")) {
        m.mark = Mark::Open;
        m.detail = word.size() > 5 ? Unescape(word.sliced(5)).value_or(QByteArray()) : QByteArray();
    } else {
        return std::nullopt;
    }
    return m;
}

// Parses one line of a recording (without its line feed). Comment and empty lines give
// nullopt with *error left empty; a malformed line gives nullopt and a reason in *error.
inline std::optional<Entry> ParseLine(QByteArrayView line, QString* error) {
    if (error)
        error->clear();
    if (line.isEmpty() || line.front() == '#')
        return std::nullopt;
    const qsizetype space = line.indexOf(' ');
    auto fail = [&](const char* why) -> std::optional<Entry> {
        if (error)
            *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    if (space <= 0 || space + 2 > line.size() ||
        (line.size() > space + 2 && line[space + 2] != ' '))
        return fail("expected: SECONDS DIRECTION BYTES");
    Entry e;
    bool ok = false;
    e.seconds = QByteArray(line.first(space).data(), space).toDouble(&ok);
    if (!ok || !(e.seconds >= 0))
        return fail("the time is not a number of seconds");
    const char mark = line[space + 1];
    if (mark != '>' && mark != '<')
        return fail("the direction is neither '>' nor '<'");
    e.direction = mark == '>' ? Direction::ToServer : Direction::ToClient;
    const auto bytes =
        Unescape(line.size() > space + 3 ? line.sliced(space + 3) : QByteArrayView());
    if (!bytes)
        return fail("malformed escape in the bytes");
    e.bytes = *bytes;
    return e;
}

// Appends messages to a recording file; the clock starts when the file is opened.
class Writer {
  public:
    [[nodiscard]] bool Open(const QString& path) {
        file.setFileName(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        clock.start();
        return file.write(QByteArray(kHeader) + '\n') > 0 && file.flush();
    }
    bool IsOpen() const { return file.isOpen(); }
    QString errorString() const { return file.errorString(); }
    double Seconds() const { return clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0.0; }

    // Writes each message of one read; false when the file could not be written.
    [[nodiscard]] bool Write(Direction d, QByteArrayView bytes) {
        return WriteLines(FormatRead(Seconds(), d, bytes));
    }

    // Appends lines made with FormatRead or FormatMark (stamped by the caller's clock).
    [[nodiscard]] bool WriteLines(QByteArrayView lines) {
        if (!file.isOpen())
            return false;
        return file.write(lines.data(), lines.size()) == lines.size() && file.flush();
    }

  private:
    QFile file;
    QElapsedTimer clock;
};

}  // namespace sessionrec
