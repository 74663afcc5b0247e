// tactus-tool spy: a transparent relay between a driver and its machine that shows and
// records everything that passes (docs/tactus-tool.md, format docs/session-recording.md).
//
//   spy LISTEN HOST:PORT [--record FILE] [--duration SECONDS]
//     Listens on LISTEN (PORT for 127.0.0.1, or ADDRESS:PORT) and relays each client to the
//     server at HOST:PORT, one client at a time; later clients wait until the first leaves.
//     The server may still be starting when the driver connects: it is tried again for 10 s.
//   spy --serial DEVICE [--line BAUD,PARITY,DATA,STOP] [--link PATH] ...
//     Opens the controller's serial port DEVICE and offers the driver a pseudo-terminal in
//     its place (TACTUS_COMn names it; --link makes PATH a symbolic link to it).
//
// Standard output is itself a recording: the header, then one line per message and a mark
// per connection. --record writes the same lines to FILE. Ends with status 0 on SIGINT,
// SIGTERM or after --duration; 1 when it cannot listen, open the port or write FILE.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
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
using sessionrec::Mark;

constexpr char kSynopsis[] =
    "spy LISTEN HOST:PORT | --serial DEVICE [--line BAUD,PARITY,DATA,STOP] [--link PATH] "
    "[--record FILE] [--duration SECONDS]";
constexpr int kUpstreamPatienceMs = 10000;
constexpr int kUpstreamRetryMs = 200;
constexpr int kTickMs = 100;

// Relays TCP clients to the server, one at a time.
class TcpRelay {
  public:
    TcpRelay(tool::SessionOutput& recorder, tool::Endpoint upstream)
        : rec_(recorder), upstream_(upstream) {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    }

    bool Listen(const tool::Endpoint& at) {
        if (!server_.listen(QHostAddress(at.host), at.port)) {
            std::fprintf(stderr, "tactus-tool spy: cannot listen on %s: %s\n",
                         qPrintable(at.Text()), qPrintable(server_.errorString()));
            return false;
        }
        const tool::Endpoint bound{at.host, server_.serverPort()};
        rec_.Note("listening on " + bound.Text() + ", relaying to " + upstream_.Text());
        return true;
    }

  private:
    void Accept() {
        if (client_)
            return;  // paused while a client is served; it is taken when that one leaves
        client_.reset(server_.nextPendingConnection());
        if (!client_)
            return;
        server_.pauseAccepting();
        sessionOver_ = false;
        client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const tool::Endpoint peer{client_->peerAddress().toString(), client_->peerPort()};
        rec_.AddMark(Mark::Open, peer.Text().toLatin1());
        QObject::connect(client_.get(), &QTcpSocket::readyRead, [this] { FromClient(); });
        QObject::connect(client_.get(), &QTcpSocket::disconnected,
                         [this] { End(Mark::CloseByClient); });
        waiting_.clear();
        patience_.start();
        ConnectUpstream();
    }

    void ConnectUpstream() {
        serverSide_ = std::make_unique<QTcpSocket>();
        QObject::connect(serverSide_.get(), &QTcpSocket::connected, [this] {
            serverSide_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            serverSide_->write(waiting_);
            waiting_.clear();
        });
        QObject::connect(serverSide_.get(), &QTcpSocket::readyRead, [this] { FromServer(); });
        QObject::connect(serverSide_.get(), &QTcpSocket::disconnected,
                         [this] { End(Mark::CloseByServer); });
        QObject::connect(serverSide_.get(), &QTcpSocket::errorOccurred,
                         [this](QAbstractSocket::SocketError) { UpstreamError(); });
        serverSide_->connectToHost(upstream_.host, upstream_.port);
    }

    void UpstreamError() {
        if (sessionOver_ || serverSide_->state() == QAbstractSocket::ConnectedState ||
            serverSide_->state() == QAbstractSocket::ClosingState)
            return;  // the end of an established connection comes as disconnected
        if (patience_.elapsed() < kUpstreamPatienceMs) {
            // The server may still be starting (the driver starts it and connects at once).
            QTimer::singleShot(kUpstreamRetryMs, serverSide_.get(), [this] {
                if (!sessionOver_)
                    serverSide_->connectToHost(upstream_.host, upstream_.port);
            });
            return;
        }
        rec_.Note("cannot reach " + upstream_.Text() + ": " + serverSide_->errorString());
        End(Mark::CloseByServer);
    }

    void FromClient() {
        const QByteArray bytes = client_->readAll();
        if (bytes.isEmpty())
            return;
        rec_.Read(Direction::ToServer, bytes);
        if (serverSide_ && serverSide_->state() == QAbstractSocket::ConnectedState)
            serverSide_->write(bytes);
        else
            waiting_ += bytes;
    }

    void FromServer() {
        const QByteArray bytes = serverSide_->readAll();
        if (bytes.isEmpty())
            return;
        rec_.Read(Direction::ToClient, bytes);
        client_->write(bytes);
    }

    // One side left: pass on what it still sent, close the other side, take the next client.
    void End(Mark by) {
        if (sessionOver_)
            return;
        sessionOver_ = true;
        if (by == Mark::CloseByServer && serverSide_->bytesAvailable() > 0)
            FromServer();
        if (by == Mark::CloseByClient && client_->bytesAvailable() > 0)
            FromClient();
        rec_.AddMark(by);
        for (QTcpSocket* s : {client_.get(), serverSide_.get()}) {
            QObject::disconnect(s, nullptr, nullptr, nullptr);
            s->flush();
            s->disconnectFromHost();
        }
        // Deleted from the event loop: this may run inside one of their signals.
        client_.release()->deleteLater();
        serverSide_.release()->deleteLater();
        server_.resumeAccepting();
        QTimer::singleShot(0, [this] {
            if (server_.hasPendingConnections())
                Accept();
        });
    }

    tool::SessionOutput& rec_;
    tool::Endpoint upstream_;
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> client_;
    std::unique_ptr<QTcpSocket> serverSide_;
    QByteArray waiting_;  // from the client, before the server answered the connection
    QElapsedTimer patience_;
    bool sessionOver_ = true;
};

// BAUD,PARITY,DATA,STOP as the machine file's SERIAL entry gives them, e.g. 19200,N,8,1.
bool ApplyLine(QSerialPort& port, const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return false;
    bool baudOk = false, dataOk = false, stopOk = false;
    const int baud = parts[0].toInt(&baudOk);
    const int data = parts[2].toInt(&dataOk);
    const int stop = parts[3].toInt(&stopOk);
    const QString parity = parts[1].toUpper();
    static const QMap<QString, QSerialPort::Parity> parities{{"N", QSerialPort::NoParity},
                                                             {"E", QSerialPort::EvenParity},
                                                             {"O", QSerialPort::OddParity},
                                                             {"M", QSerialPort::MarkParity},
                                                             {"S", QSerialPort::SpaceParity}};
    if (!baudOk || baud <= 0 || !dataOk || data < 5 || data > 8 || !stopOk ||
        (stop != 1 && stop != 2) || !parities.contains(parity))
        return false;
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::DataBits(data));
    port.setParity(parities[parity]);
    port.setStopBits(stop == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

// Relays between the driver's pseudo-terminal and the controller's serial port.
class SerialRelay {
  public:
    explicit SerialRelay(tool::SessionOutput& recorder) : rec_(recorder) {}

    bool Open(const QString& device, const QString& line, const QString& link) {
        port_.setPortName(device);
        if (!port_.open(QIODevice::ReadWrite) || !ApplyLine(port_, line)) {
            std::fprintf(stderr, "tactus-tool spy: cannot open %s with %s: %s\n",
                         qPrintable(device), qPrintable(line), qPrintable(port_.errorString()));
            return false;
        }
        QString error;
        if (!pty_.Open(&error, link)) {
            std::fprintf(stderr, "tactus-tool spy: %s\n", qPrintable(error));
            return false;
        }
        const QString driverSide = QString::fromStdString(pty_.DevicePath());
        rec_.Note(QString("the driver's serial line is %1%2 (set TACTUS_COMn to it)")
                      .arg(driverSide, link.isEmpty() ? QString() : ", linked as " + link));
        rec_.AddMark(Mark::Open, ("serial " + device + " " + line).toLatin1());
        notifier_ = std::make_unique<QSocketNotifier>(pty_.Descriptor(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { FromDriver(); });
        QObject::connect(&port_, &QSerialPort::readyRead, [this] { FromController(); });
        QObject::connect(&port_, &QSerialPort::errorOccurred,
                         [this](QSerialPort::SerialPortError e) {
                             if (e == QSerialPort::ResourceError) {
                                 rec_.Note("the serial port failed: " + port_.errorString());
                                 failed_ = true;
                             }
                         });
        return true;
    }
    bool Failed() const { return failed_; }

  private:
    void FromDriver() {
        char buffer[4096];
        const int n = pty_.Read(buffer, sizeof buffer);
        if (n <= 0)
            return;
        rec_.Read(Direction::ToServer, QByteArrayView(buffer, n));
        port_.write(buffer, n);
    }
    void FromController() {
        const QByteArray bytes = port_.readAll();
        if (bytes.isEmpty())
            return;
        rec_.Read(Direction::ToClient, bytes);
        if (!pty_.Write(bytes.constData(), int(bytes.size()))) {
            rec_.Note(QStringLiteral("cannot write to the driver's serial line"));
            failed_ = true;
        }
    }

    tool::SessionOutput& rec_;
    QSerialPort port_;
    tool::PseudoTerminal pty_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool failed_ = false;
};

int Spy(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sits between a driver and its machine, passes every byte on unchanged, and prints\n"
        "(and with --record writes) each message with its time and direction. Point the\n"
        "driver's machine file at the spy instead of the server (CMMPort-IP), or its serial\n"
        "port at the spy's pseudo-terminal (TACTUS_COMn); nothing else changes."));
    parser.addPositionalArgument(QStringLiteral("LISTEN"),
                                 QStringLiteral("Where the driver connects: PORT (on 127.0.0.1) "
                                                "or ADDRESS:PORT."),
                                 QStringLiteral("[LISTEN"));
    parser.addPositionalArgument(QStringLiteral("HOST:PORT"),
                                 QStringLiteral("The position server (or TCP controller)."),
                                 QStringLiteral("HOST:PORT]"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Relay a serial controller on DEVICE instead "
                                                   "of TCP."),
                                    QStringLiteral("DEVICE"));
    const QCommandLineOption line(QStringLiteral("line"),
                                  QStringLiteral("The controller's line settings (default "
                                                 "19200,N,8,1)."),
                                  QStringLiteral("BAUD,PARITY,DATA,STOP"),
                                  QStringLiteral("19200,N,8,1"));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Make PATH a symbolic link to the driver's "
                                                 "pseudo-terminal (removed at the end)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Write the recording to FILE as well."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("End by itself after SECONDS."),
                                      QStringLiteral("SECONDS"));
    for (const QCommandLineOption* o : {&serial, &line, &link, &record, &duration})
        parser.addOption(*o);
    if (const auto status = tool::ParseArguments(
            parser, "spy", kSynopsis, args,
            QStringLiteral(
                "Standard output is a recording (docs/session-recording.md): a header, one line\n"
                "'SECONDS DIRECTION BYTES' per message ('>' towards the server, '<' towards the\n"
                "driver, control characters escaped) and '# SECONDS open|close ...' marks.\n"
                "Ends with status 0 on Ctrl-C, SIGTERM or after --duration; 1 when it cannot\n"
                "listen, open the serial port or write FILE.")))
        return *status;

    const QStringList positional = parser.positionalArguments();
    std::optional<tool::Endpoint> listen, upstream;
    if (parser.isSet(serial)) {
        if (!positional.isEmpty())
            return tool::UsageError("spy", QStringLiteral("--serial takes no LISTEN HOST:PORT"),
                                    kSynopsis);
    } else {
        if (positional.size() != 2)
            return tool::UsageError("spy", QStringLiteral("expected LISTEN and HOST:PORT"),
                                    kSynopsis);
        listen = tool::ParseEndpoint(positional[0], QStringLiteral("127.0.0.1"), true);
        upstream = tool::ParseEndpoint(positional[1]);
        if (!listen || !upstream)
            return tool::UsageError(
                "spy",
                "expected PORT or ADDRESS:PORT and HOST:PORT, got '" + positional.join("' '") + "'",
                kSynopsis);
    }
    std::optional<double> seconds;
    if (parser.isSet(duration) && !(seconds = tool::ParseSeconds(parser.value(duration))))
        return tool::UsageError(
            "spy", QStringLiteral("--duration needs a positive number of seconds"), kSynopsis);

    tool::CatchStopSignals();
    tool::SessionOutput recorder("spy");
    if (!recorder.Open(parser.value(record)))
        return tool::kExitFailed;
    std::unique_ptr<TcpRelay> tcp;
    std::unique_ptr<SerialRelay> serialRelay;
    if (listen) {
        tcp = std::make_unique<TcpRelay>(recorder, *upstream);
        if (!tcp->Listen(*listen))
            return tool::kExitFailed;
    } else {
        serialRelay = std::make_unique<SerialRelay>(recorder);
        if (!serialRelay->Open(parser.value(serial), parser.value(line), parser.value(link)))
            return tool::kExitFailed;
    }
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const bool failed = !recorder.Healthy() || (serialRelay && serialRelay->Failed());
        if (failed || tool::StopRequested() || (seconds && recorder.Seconds() >= *seconds))
            QCoreApplication::exit(failed ? tool::kExitFailed : tool::kExitOk);
    });
    tick.start(kTickMs);
    const int status = QCoreApplication::exec();
    recorder.Note(QStringLiteral("spy stopped"));
    return status;
}

const tool::ToolCommand kSpy("spy", {kSynopsis,
                                     "Relay a driver's connection to its machine and record "
                                     "every message.",
                                     nullptr, Spy});

}  // namespace
