// tactus-tool watch HOST:PORT [--duration SECONDS]
//
// Connects to a position server like the driver does, prints the greeting, asks for the
// position every 100 ms, fetches every hit it is told about and prints it with its
// approach vector. One request is outstanding at a time (the server treats each receive
// as one request, so two requests sent together would both be lost); an answer missing
// for 1 s counts as lost. Ends with status 0 on SIGINT/SIGTERM, after --duration, or
// when the server closes; status 1 when it cannot connect, 2 on bad arguments.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "server/net/VexProtocol.h"
#include "tools/Command.h"
#include "tools/CommandLine.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kAnswerTimeoutMs = 1000;
constexpr int kConnectTimeoutMs = 10000;
constexpr qsizetype kMaxLineBytes = 64 * 1024;

constexpr char kSynopsis[] = "watch HOST:PORT [--duration SECONDS]";

struct WatchOptions {
    QString host;
    quint16 port = 0;
    double durationSeconds = 0;  // 0 = until stopped
};

void Print(const QString& line) {
    tool::PrintLine(line.toLocal8Bit());
}

// One connection to the server and the request pacing; the event loop drives it.
class Watcher {
  public:
    explicit Watcher(const WatchOptions& options) : options_(options) {
        QObject::connect(&socket_, &QTcpSocket::connected, [this] { OnConnected(); });
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { OnReadyRead(); });
        QObject::connect(&socket_, &QTcpSocket::disconnected, [this] { OnDisconnected(); });
        QObject::connect(&socket_, &QTcpSocket::errorOccurred,
                         [this](QAbstractSocket::SocketError) { OnError(); });
        QObject::connect(&tick_, &QTimer::timeout, [this] { OnTick(); });
    }

    int Run() {
        running_.start();
        tick_.start(kPollMs);
        socket_.connectToHost(options_.host, options_.port);
        return finished_ ? status_ : QCoreApplication::exec();
    }

  private:
    QString Endpoint() const {
        return QStringLiteral("%1:%2").arg(options_.host).arg(options_.port);
    }

    void Finish(int status) {
        if (finished_)
            return;
        finished_ = true;
        status_ = status;
        tick_.stop();
        QObject::disconnect(&socket_, nullptr, nullptr, nullptr);
        socket_.abort();
        QCoreApplication::exit(status);
    }

    void OnConnected() {
        connectedOnce_ = true;
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Print("connected to " + Endpoint());
    }

    void OnError() {
        if (socket_.state() == QAbstractSocket::ConnectedState || connectedOnce_)
            return;  // a connection's end is reported by disconnected
        std::fprintf(stderr, "tactus-tool watch: cannot connect to %s: %s\n",
                     Endpoint().toLocal8Bit().constData(),
                     socket_.errorString().toLocal8Bit().constData());
        Finish(1);
    }

    void OnDisconnected() {
        OnReadyRead();  // lines that arrived with the close
        Print("server closed the connection");
        Finish(0);
    }

    void OnTick() {
        if (tool::StopRequested()) {
            Finish(0);
            return;
        }
        if (options_.durationSeconds > 0 && running_.elapsed() >= options_.durationSeconds * 1000) {
            Finish(0);
            return;
        }
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            if (!connectedOnce_ && running_.elapsed() >= kConnectTimeoutMs) {
                std::fprintf(stderr, "tactus-tool watch: cannot connect to %s: timed out\n",
                             Endpoint().toLocal8Bit().constData());
                Finish(1);
            }
            return;
        }
        if (outstanding_ && sentAt_.elapsed() >= kAnswerTimeoutMs)
            outstanding_ = false;  // the answer was lost; ask again
        SendNext(true);
    }

    // Sends the next request unless one is still unanswered: the hit as soon as it was
    // announced, a position only when one is due (every tick).
    void SendNext(bool positionDue) {
        if (outstanding_ || socket_.state() != QAbstractSocket::ConnectedState)
            return;
        if (!hitWaiting_ && !positionDue)
            return;
        const char* request = hitWaiting_ ? vexproto::kRequestHit : vexproto::kRequestPosition;
        hitWaiting_ = false;
        socket_.write(request);
        socket_.flush();
        outstanding_ = true;
        sentAt_.start();
    }

    void OnReadyRead() {
        pending_ += socket_.readAll();
        for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
            QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            HandleLine(QString::fromLatin1(line));
        }
        if (pending_.size() > kMaxLineBytes) {  // a server that never ends its line
            HandleLine(QString::fromLatin1(pending_));
            pending_.clear();
        }
        SendNext(false);
    }

    void HandleLine(const QString& line) {
        static const QRegularExpression shape(QStringLiteral("^\\( (.*) \\) (-?\\d+)$"));
        const QRegularExpressionMatch m = shape.match(line);
        const int code = m.hasMatch() ? m.captured(2).toInt() : -1;
        const QString text = m.captured(1);
        switch (code) {
            case vexproto::kCodeVersion:
                Print("greeting: " + text);
                break;
            case vexproto::kCodePosition:
                outstanding_ = false;
                Print("position: " + text);
                break;
            case vexproto::kCodeHit:
                hitWaiting_ = true;
                Print("hit notice");
                break;
            case vexproto::kCodeHitData: {
                outstanding_ = false;
                const QStringList v = text.split(' ', Qt::SkipEmptyParts);
                if (v.size() == 7)
                    Print(QStringLiteral("hit: %1 %2 %3 %4 vector: %5 %6 %7")
                              .arg(v[0], v[1], v[2], v[3], v[4], v[5], v[6]));
                else
                    Print("hit: " + text);
                break;
            }
            default:
                Print("line: " + line);
        }
    }

    WatchOptions options_;
    QTcpSocket socket_;
    QTimer tick_;
    QElapsedTimer running_;
    QElapsedTimer sentAt_;
    QByteArray pending_;
    bool outstanding_ = false;
    bool hitWaiting_ = false;
    bool connectedOnce_ = false;
    bool finished_ = false;
    int status_ = 0;
};

int Watch(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Connects to a position server the way the driver does and prints its greeting, the\n"
        "position (asked for every 100 ms) and every hit with its approach vector."));
    parser.addPositionalArgument(QStringLiteral("HOST:PORT"),
                                 QStringLiteral("The server: a name or an address and the TCP "
                                                "port ([::1]:1390 for IPv6)."));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("End by itself after SECONDS (fractions "
                                                     "allowed)."),
                                      QStringLiteral("SECONDS"));
    parser.addOption(duration);
    if (const auto status = tool::ParseArguments(
            parser, "watch", kSynopsis, args,
            QStringLiteral("Ends with status 0 on Ctrl-C or SIGTERM, after --duration or when the "
                           "server closes;\n1 when it cannot connect.")))
        return *status;
    const QStringList positional = parser.positionalArguments();
    const auto endpoint =
        positional.size() == 1 ? tool::ParseEndpoint(positional[0]) : std::nullopt;
    if (!endpoint)
        return tool::UsageError("watch",
                                positional.size() == 1
                                    ? "expected HOST:PORT, got '" + positional[0] + "'"
                                    : QStringLiteral("expected one HOST:PORT"),
                                kSynopsis);
    WatchOptions options{endpoint->host, endpoint->port, 0};
    if (parser.isSet(duration)) {
        const auto seconds = tool::ParseSeconds(parser.value(duration));
        if (!seconds)
            return tool::UsageError("watch",
                                    QStringLiteral("--duration needs a positive number of seconds"),
                                    kSynopsis);
        options.durationSeconds = *seconds;
    }
    tool::CatchStopSignals();

    Watcher watcher(options);
    return watcher.Run();
}

const tool::ToolCommand kWatch("watch", {kSynopsis, "Show a position server's positions and hits.",
                                         nullptr, Watch});

}  // namespace
