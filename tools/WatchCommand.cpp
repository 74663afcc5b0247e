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
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "server/net/VexProtocol.h"
#include "tools/Command.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kAnswerTimeoutMs = 1000;
constexpr int kConnectTimeoutMs = 10000;
constexpr qsizetype kMaxLineBytes = 64 * 1024;

volatile std::sig_atomic_t gStopRequested = 0;

void RequestStop(int) {
    gStopRequested = 1;
}

struct WatchOptions {
    QString host;
    quint16 port = 0;
    double durationSeconds = 0;  // 0 = until stopped
};

void Print(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

std::optional<WatchOptions> ParseArguments(const std::vector<std::string>& args,
                                           std::string& error) {
    WatchOptions options;
    bool haveEndpoint = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QString arg = QString::fromStdString(args[i]);
        if (arg == "--duration") {
            bool ok = false;
            options.durationSeconds =
                i + 1 < args.size() ? QString::fromStdString(args[++i]).toDouble(&ok) : 0.0;
            if (!ok || !(options.durationSeconds > 0)) {
                error = "--duration needs a positive number of seconds";
                return std::nullopt;
            }
            continue;
        }
        const qsizetype colon = arg.lastIndexOf(':');
        bool portOk = false;
        const uint port = colon > 0 ? arg.mid(colon + 1).toUInt(&portOk) : 0;
        if (haveEndpoint || !portOk || port == 0 || port > 65535) {
            error = "expected HOST:PORT, got '" + args[i] + "'";
            return std::nullopt;
        }
        options.host = arg.left(colon);
        if (options.host.startsWith('[') && options.host.endsWith(']'))
            options.host = options.host.mid(1, options.host.size() - 2);
        options.port = quint16(port);
        haveEndpoint = true;
    }
    if (!haveEndpoint) {
        error = "expected HOST:PORT";
        return std::nullopt;
    }
    return options;
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
        if (gStopRequested) {
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
    std::string error;
    const std::optional<WatchOptions> options = ParseArguments(args, error);
    if (!options) {
        std::fprintf(
            stderr,
            "tactus-tool watch: %s\nusage: tactus-tool watch HOST:PORT [--duration SECONDS]\n",
            error.c_str());
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int argc = 1;
    char name[] = "tactus-tool";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Watcher watcher(*options);
    return watcher.Run();
}

const tool::ToolCommand kWatch(
    "watch", "watch HOST:PORT [--duration SECONDS]   show a position server's positions and hits",
    Watch);

}  // namespace
