#include "ipp/app/IppConnection.h"

#include <QTcpSocket>

#include "common/SessionRecording.h"

namespace {

// A line may hold kMaxLineLength characters and its CR.
constexpr qsizetype kMaxKept = qsizetype(ipp::kMaxLineLength) + 1;

}  // namespace

IppConnection::IppConnection(QTcpSocket* socket, ipp::ServerState& state, ipp::Machine& machine,
                             sessionrec::Writer* log, QObject* parent)
    : QObject(parent), socket_(socket), log_(log), session_(state, machine, *this) {
    socket_->setParent(this);
    clock_.start();
    moveTimer_.setTimerType(Qt::PreciseTimer);
    connect(&moveTimer_, &QTimer::timeout, this, [this] { session_.OnMoveTimer(); });
    connect(socket_, &QTcpSocket::readyRead, this, &IppConnection::readAvailable);
    connect(socket_, &QTcpSocket::disconnected, this, &IppConnection::end);
    connect(socket_, &QTcpSocket::errorOccurred, this, &IppConnection::end);
}

IppConnection::~IppConnection() {
    moveTimer_.stop();
}

void IppConnection::abort() {
    ended_ = true;
    moveTimer_.stop();
    session_.Close();
    socket_->abort();
}

void IppConnection::readAvailable() {
    while (!ended_ && socket_->bytesAvailable() > 0) {
        const QByteArray bytes = socket_->read(64 * 1024);
        if (bytes.isEmpty())
            break;
        record(true, bytes);
        qsizetype start = 0;
        while (!ended_) {
            const qsizetype end = bytes.indexOf('\n', start);
            const QByteArrayView piece = end < 0 ? QByteArrayView(bytes).sliced(start)
                                                 : QByteArrayView(bytes).sliced(start, end - start);
            if (!discarding_) {
                if (pending_.size() + piece.size() > kMaxKept) {
                    // Keep the start only: it holds the tag for the error line.
                    longStart_ = (pending_ + piece.toByteArray()).left(5);
                    pending_.clear();
                    discarding_ = true;
                } else {
                    pending_ += piece;
                }
            }
            if (end < 0)
                break;
            start = end + 1;
            if (discarding_) {
                discarding_ = false;
                session_.HandleOverlongLine(longStart_.toStdString());
            } else {
                const QByteArray line = std::move(pending_);
                pending_.clear();
                session_.HandleLine(std::string_view(line.constData(), size_t(line.size())));
            }
        }
    }
}

void IppConnection::SendLine(const std::string& line) {
    if (ended_)
        return;
    const QByteArray bytes = QByteArray::fromStdString(line) + "\r\n";
    socket_->write(bytes);
    record(false, bytes);
    if (socket_->bytesToWrite() > kMaxUnsent) {
        // The client stopped reading; drop it rather than keep its lines without bound.
        QMetaObject::invokeMethod(
            this,
            [this] {
                socket_->abort();
                end();
            },
            Qt::QueuedConnection);
        ended_ = true;
        return;
    }
    // Events go out at once, not at the next turn of the event loop.
    socket_->flush();
}

void IppConnection::StartMoveTimer(double seconds) {
    moveTimer_.start(std::max(1, int(seconds * 1000.0 + 0.5)));
}

void IppConnection::StopMoveTimer() {
    moveTimer_.stop();
}

double IppConnection::Now() const {
    return double(clock_.nsecsElapsed()) / 1e9;
}

void IppConnection::record(bool toServer, const QByteArray& bytes) {
    if (!log_ || !log_->IsOpen())
        return;
    if (!log_->Write(toServer ? sessionrec::Direction::ToServer : sessionrec::Direction::ToClient,
                     bytes))
        emit logFailed(log_->errorString());
}

void IppConnection::end() {
    if (finished_)
        return;  // once: the server deletes the connection on the signal
    finished_ = true;
    ended_ = true;
    moveTimer_.stop();
    session_.Close();
    disconnect(socket_, nullptr, this, nullptr);
    emit finished();
}
