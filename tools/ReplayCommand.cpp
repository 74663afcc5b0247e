// tactus-tool replay: plays a recorded session back as the server (or serial controller) it
// recorded, so a driver runs against it with no machine (docs/tactus-tool.md).
//
//   replay FILE [--port [ADDRESS:]N] [--speed X] [--duration SECONDS]
//   replay FILE --serial [--link PATH] [--speed X] [--duration SECONDS]
//
// A recorded connection is a dialogue: what the server sent before the first request (the
// greeting), then requests, each followed by what the server sent until the next request
// (its reply, and what it sent by itself meanwhile, such as a hit notice). Replay sends the
// greeting at its recorded time and answers each request with what followed the same
// request in the recording, the first message at once and the rest at their recorded
// distances from it; times are divided by --speed. A request out of turn (the driver asked
// for a position before it saw the hit notice that was just sent) gets the same reply as the
// last time; out of turn twice in a row, it is looked for further on and the recording
// skips to it. An unknown request is not answered. So positions and hits come in their
// recorded order whatever the pace of the driver; with a high --speed (1000) everything the
// server sent after a reply follows it at once, and a replay gives the same events every
// time, which the regression tests rely on.
//
// The k-th client plays the k-th recorded connection (the last one again beyond them). A
// connection the server closed is closed at its recorded time. Replay prints the session as
// a recording and "# end of recording" once the last connection has played; it then ends
// when that connection is closed (by the recording or by the client). Serial replays end
// on SIGINT, SIGTERM or --duration. Exit status: 0 done, 1 the file cannot be read or the
// port not opened, 2 bad arguments.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/SessionRecording.h"
#include "tools/Command.h"
#include "tools/CommandLine.h"
#include "tools/SessionOutput.h"
#include "tools/TerminalDevice.h"

namespace {

using sessionrec::Direction;
using sessionrec::Entry;
using sessionrec::Mark;

constexpr char kSynopsis[] =
    "replay FILE [--port [ADDRESS:]N | --serial [--link PATH]] [--speed X] "
    "[--duration SECONDS]";
constexpr quint16 kDefaultPort = 1390;  // VexServer's default TCPPortNumber
constexpr int kTickMs = 100;

struct Request {
    Entry request;
    QList<Entry> answer;  // what the server sent after it, until the next request
};

struct Connection {
    double openedAt = 0;
    QList<Entry> greeting;  // sent before the first request
    std::vector<Request> requests;
    bool closedByServer = false;
    double closedAt = 0;
};

std::optional<std::vector<Connection>> LoadRecording(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QString("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines[0].trimmed() != sessionrec::kHeader) {
        *error = QString("%1 is not a recording (its first line is not '%2')")
                     .arg(path, sessionrec::kHeader);
        return std::nullopt;
    }
    std::vector<Connection> connections;
    bool open = false;  // the last connection takes further messages
    for (qsizetype n = 1; n < lines.size(); ++n) {
        QByteArray line = lines[n];
        if (line.endsWith('\r'))
            line.chop(1);
        if (const auto mark = sessionrec::ParseMark(line)) {
            if (mark->mark == Mark::Open) {
                connections.push_back({mark->seconds, {}, {}, false, 0});
                open = true;
            } else if (open) {
                connections.back().closedByServer = mark->mark == Mark::CloseByServer;
                connections.back().closedAt = mark->seconds;
                open = false;
            }
            continue;
        }
        QString why;
        const auto entry = sessionrec::ParseLine(line, &why);
        if (!entry) {
            if (!why.isEmpty()) {
                *error = QString("%1, line %2: %3").arg(path).arg(n + 1).arg(why);
                return std::nullopt;
            }
            continue;
        }
        if (!open) {  // messages without an open mark: a connection from time 0 (or now)
            connections.push_back({connections.empty() ? 0.0 : entry->seconds, {}, {}, false, 0});
            open = true;
        }
        Connection& c = connections.back();
        if (entry->direction == Direction::ToServer)
            c.requests.push_back({*entry, {}});
        else if (c.requests.empty())
            c.greeting.append(*entry);
        else
            c.requests.back().answer.append(*entry);
    }
    if (connections.empty()) {
        *error = path + " holds no messages";
        return std::nullopt;
    }
    return connections;
}

// Plays one recorded connection to one client. send and close act on the client; finished
// is called once, when the recording of this connection has been played to its end.
class Player {
  public:
    struct Sink {
        std::function<void(const QByteArray&)> send;
        std::function<void()> close;
        std::function<void()> finished;
    };

    Player(const Connection& c, double speed, tool::SessionOutput& out, Sink sink)
        : c_(c), speed_(speed), out_(out), sink_(std::move(sink)) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { SendDue(); });
        for (const Request& r : c_.requests)
            if (std::find(known_.begin(), known_.end(), r.request.bytes) == known_.end())
                known_.push_back(r.request.bytes);
    }

    void Start() {
        clock_.start();
        for (const Entry& e : c_.greeting)
            Schedule(e.seconds - c_.openedAt, e.bytes);
        last_ = c_.greeting.isEmpty() ? c_.openedAt : c_.greeting.back().seconds;
        if (c_.requests.empty())
            AfterLastRequest();
        SendDue();
    }

    // What the client sent in one read.
    void Received(const QByteArray& bytes) {
        for (const QByteArray& piece : sessionrec::SplitMessages(bytes))
            for (const QByteArray& request : Requests(piece))
                Answer(request);
    }

  private:
    struct Pending {
        qint64 dueMs;
        QByteArray bytes;
        bool close;
    };

    // A read may hold several requests written close together: cut it into recorded ones.
    std::vector<QByteArray> Requests(QByteArray rest) const {
        std::vector<QByteArray> requests;
        while (!rest.isEmpty()) {
            qsizetype longest = 0;
            for (const QByteArray& k : known_)
                if (k.size() > longest && rest.startsWith(k))
                    longest = k.size();
            if (longest == 0) {
                requests.push_back(rest);
                break;
            }
            requests.push_back(rest.left(longest));
            rest.remove(0, longest);
        }
        return requests;
    }

    void Answer(const QByteArray& request) {
        // Whatever was still due goes first, so the order of the recording holds.
        while (!pending_.empty() && !pending_.front().close)
            SendFront();
        const std::size_t n = c_.requests.size();
        const bool expected = next_ < n && c_.requests[next_].request.bytes == request;
        const std::optional<std::size_t> before = Earlier(request);
        // Out of turn once (the driver asked before it saw what was just sent, a hit notice,
        // say): the same reply as last time keeps the dialogue in step. Out of turn again:
        // the driver goes another way, and the recording follows it further on.
        if (!expected && before && !outOfTurn_) {
            outOfTurn_ = true;
            Send(c_.requests[*before].answer.front().bytes);
            return;
        }
        std::size_t j = next_;
        while (j < n && c_.requests[j].request.bytes != request)
            ++j;
        if (j == n) {
            if (before)
                Send(c_.requests[*before].answer.front().bytes);
            else
                out_.Note("unrecorded request '" +
                          QString::fromLatin1(sessionrec::Escape(request)) + "': not answered");
            return;
        }
        outOfTurn_ = false;
        if (j > next_)
            out_.Note(QString("skipped %1 recorded request(s) to answer this one").arg(j - next_));
        next_ = j + 1;
        const QList<Entry>& answer = c_.requests[j].answer;
        for (const Entry& e : answer)
            Schedule(e.seconds - answer.front().seconds, e.bytes);
        last_ = answer.isEmpty() ? c_.requests[j].request.seconds : answer.back().seconds;
        if (next_ == n)
            AfterLastRequest();
        SendDue();
    }

    // The last request before the next one that equals `request` and was answered.
    std::optional<std::size_t> Earlier(const QByteArray& request) const {
        for (std::size_t k = next_; k-- > 0;)
            if (c_.requests[k].request.bytes == request && !c_.requests[k].answer.isEmpty())
                return k;
        return std::nullopt;
    }

    void AfterLastRequest() {
        if (c_.closedByServer)
            pending_.push_back({DueMs(c_.closedAt - last_), {}, true});
        else
            atEnd_ = true;
    }

    qint64 DueMs(double recordedDelay) const {
        const qint64 due =
            clock_.elapsed() + qint64(std::llround(std::max(0.0, recordedDelay) / speed_ * 1000.0));
        return pending_.empty() ? due : std::max(due, pending_.back().dueMs);
    }

    void Schedule(double recordedDelay, const QByteArray& bytes) {
        pending_.push_back({DueMs(recordedDelay), bytes, false});
    }

    void Send(const QByteArray& bytes) {
        out_.Read(Direction::ToClient, bytes);
        sink_.send(bytes);
    }

    void SendFront() {
        const Pending p = pending_.front();
        pending_.pop_front();
        if (p.close) {
            // The close is always last: the recording has played once it is done.
            atEnd_ = true;
            finishedReported_ = true;
            sink_.finished();
            sink_.close();
        } else {
            Send(p.bytes);
        }
    }

    void SendDue() {
        while (!pending_.empty() && pending_.front().dueMs <= clock_.elapsed())
            SendFront();
        if (!pending_.empty())
            timer_.start(int(std::max<qint64>(1, pending_.front().dueMs - clock_.elapsed())));
        if (atEnd_ && pending_.empty() && !finishedReported_) {
            finishedReported_ = true;
            sink_.finished();
        }
    }

    const Connection& c_;
    double speed_;
    tool::SessionOutput& out_;
    Sink sink_;
    std::vector<QByteArray> known_;
    std::deque<Pending> pending_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::size_t next_ = 0;
    double last_ = 0;  // recorded time of the last message scheduled
    bool atEnd_ = false;
    bool finishedReported_ = false;
    bool outOfTurn_ = false;  // the last request was answered out of turn
};

// Serves the recorded connections to TCP clients, one at a time.
class TcpReplay {
  public:
    TcpReplay(const std::vector<Connection>& c, double speed, tool::SessionOutput& out)
        : connections_(c), speed_(speed), out_(out) {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    }

    bool Listen(const tool::Endpoint& at) {
        if (!server_.listen(QHostAddress(at.host), at.port)) {
            std::fprintf(stderr, "tactus-tool replay: cannot listen on %s: %s\n",
                         qPrintable(at.Text()), qPrintable(server_.errorString()));
            return false;
        }
        out_.Note("listening on " + tool::Endpoint{at.host, server_.serverPort()}.Text());
        return true;
    }

  private:
    void Accept() {
        if (client_)
            return;
        client_.reset(server_.nextPendingConnection());
        if (!client_)
            return;
        server_.pauseAccepting();
        client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const std::size_t index = std::min(served_++, connections_.size() - 1);
        last_ = index + 1 == connections_.size();
        played_ = false;
        out_.AddMark(Mark::Open,
                     tool::Endpoint{client_->peerAddress().toString(), client_->peerPort()}
                         .Text()
                         .toLatin1());
        QTcpSocket* socket = client_.get();
        player_ = std::make_unique<Player>(
            connections_[index], speed_, out_,
            Player::Sink{[socket](const QByteArray& b) { socket->write(b); },
                         [this] { End(Mark::CloseByServer); },
                         [this] {
                             played_ = true;
                             if (last_)
                                 out_.Note(QStringLiteral("end of recording"));
                         }});
        QObject::connect(socket, &QTcpSocket::readyRead, [this] {
            const QByteArray bytes = client_->readAll();
            out_.Read(Direction::ToServer, bytes);
            player_->Received(bytes);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, [this] { End(Mark::CloseByClient); });
        player_->Start();
    }

    void End(Mark by) {
        if (!client_)
            return;
        out_.AddMark(by);
        QObject::disconnect(client_.get(), nullptr, nullptr, nullptr);
        client_->flush();
        client_->disconnectFromHost();
        client_.release()->deleteLater();
        // The player may be the caller (its close step): deleted from the event loop.
        QTimer::singleShot(0, [retired = player_.release()] { delete retired; });
        if (last_ && played_) {
            QCoreApplication::exit(tool::kExitOk);
            return;
        }
        server_.resumeAccepting();
        QTimer::singleShot(0, [this] {
            if (server_.hasPendingConnections())
                Accept();
        });
    }

    const std::vector<Connection>& connections_;
    double speed_;
    tool::SessionOutput& out_;
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> client_;
    std::unique_ptr<Player> player_;
    std::size_t served_ = 0;
    bool last_ = false;
    bool played_ = false;
};

// Plays the first recorded connection as a controller on a pseudo-terminal.
class SerialReplay {
  public:
    SerialReplay(const Connection& c, double speed, tool::SessionOutput& out)
        : out_(out),
          player_(c, speed, out,
                  Player::Sink{[this](const QByteArray& b) {
                                   if (!pty_.Write(b.constData(), int(b.size())))
                                       out_.Note(QStringLiteral("cannot write to the serial line"));
                               },
                               [this] {
                                   out_.Note(
                                       QStringLiteral("the recording ends with a close, "
                                                      "which a serial line cannot do"));
                               },
                               [this] { out_.Note(QStringLiteral("end of recording")); }}) {}

    bool Open(const QString& link) {
        QString error;
        if (!pty_.Open(&error, link)) {
            std::fprintf(stderr, "tactus-tool replay: %s\n", qPrintable(error));
            return false;
        }
        const QString path = QString::fromStdString(pty_.DevicePath());
        out_.Note(QString("the controller's serial line is %1%2 (set TACTUS_COMn to it)")
                      .arg(path, link.isEmpty() ? QString() : ", linked as " + link));
        out_.AddMark(Mark::Open, ("serial " + path).toLatin1());
        notifier_ = std::make_unique<QSocketNotifier>(pty_.Descriptor(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char buffer[4096];
            const int n = pty_.Read(buffer, sizeof buffer);
            if (n <= 0)
                return;
            out_.Read(Direction::ToServer, QByteArrayView(buffer, n));
            player_.Received(QByteArray(buffer, n));
        });
        player_.Start();
        return true;
    }

  private:
    tool::SessionOutput& out_;
    tool::PseudoTerminal pty_;
    Player player_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

int Replay(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a recording (from spy --record, or tactus-ipp --log) back as the server it\n"
        "recorded: sends the greeting and what the server sent by itself at their recorded\n"
        "times, and answers each request with the reply that followed the same request in\n"
        "the recording. Point the driver's machine file at it (CMMPort-IP, no StartEXE), or\n"
        "with --serial its serial port (TACTUS_COMn) at the printed pseudo-terminal."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The recording."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Listen on port N of 127.0.0.1 (or of ADDRESS); 0 picks a free port. "
                       "Default 1390."),
        QStringLiteral("[ADDRESS:]N"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Play a serial controller on a "
                                                   "pseudo-terminal instead of a TCP server."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("With --serial: make PATH a symbolic link to "
                                                 "the pseudo-terminal (removed at the end)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Divide the recorded times by X (default 1; 2 "
                                                  "plays twice as fast)."),
                                   QStringLiteral("X"), QStringLiteral("1"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("End by itself after SECONDS."),
                                      QStringLiteral("SECONDS"));
    for (const QCommandLineOption* o : {&port, &serial, &link, &speed, &duration})
        parser.addOption(*o);
    if (const auto status = tool::ParseArguments(
            parser, "replay", kSynopsis, args,
            QStringLiteral(
                "Prints the session as a recording, and '# end of recording' once the last\n"
                "recorded connection has been played; a TCP replay then ends when that\n"
                "connection closes. Exit status: 0 done (also on Ctrl-C, SIGTERM, --duration),\n"
                "1 the file cannot be read or the port not opened, 2 bad arguments.")))
        return *status;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return tool::UsageError("replay", QStringLiteral("expected one FILE"), kSynopsis);
    const auto listen = tool::ParseEndpoint(
        parser.value(port).isEmpty() ? QString::number(kDefaultPort) : parser.value(port),
        QStringLiteral("127.0.0.1"), true);
    if (!listen)
        return tool::UsageError("replay", "bad --port '" + parser.value(port) + "'", kSynopsis);
    if (parser.isSet(serial) && parser.isSet(port))
        return tool::UsageError("replay", QStringLiteral("--serial and --port exclude each other"),
                                kSynopsis);
    if (parser.isSet(link) && !parser.isSet(serial))
        return tool::UsageError("replay", QStringLiteral("--link needs --serial"), kSynopsis);
    const auto factor = tool::ParseSeconds(parser.value(speed));
    if (!factor)
        return tool::UsageError("replay", QStringLiteral("--speed needs a positive number"),
                                kSynopsis);
    std::optional<double> seconds;
    if (parser.isSet(duration) && !(seconds = tool::ParseSeconds(parser.value(duration))))
        return tool::UsageError(
            "replay", QStringLiteral("--duration needs a positive number of seconds"), kSynopsis);

    QString error;
    const auto connections = LoadRecording(positional[0], &error);
    if (!connections) {
        std::fprintf(stderr, "tactus-tool replay: %s\n", qPrintable(error));
        return tool::kExitFailed;
    }
    tool::CatchStopSignals();
    tool::SessionOutput out("replay");
    out.Open();
    std::unique_ptr<TcpReplay> tcp;
    std::unique_ptr<SerialReplay> line;
    if (parser.isSet(serial)) {
        line = std::make_unique<SerialReplay>(connections->front(), *factor, out);
        if (!line->Open(parser.value(link)))
            return tool::kExitFailed;
    } else {
        tcp = std::make_unique<TcpReplay>(*connections, *factor, out);
        if (!tcp->Listen(*listen))
            return tool::kExitFailed;
    }
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (tool::StopRequested() || (seconds && out.Seconds() >= *seconds))
            QCoreApplication::exit(tool::kExitOk);
    });
    tick.start(kTickMs);
    return QCoreApplication::exec();
}

const tool::ToolCommand kReplay("replay", {kSynopsis,
                                           "Play a recorded session back as the server or serial "
                                           "controller it recorded.",
                                           nullptr, Replay});

}  // namespace
