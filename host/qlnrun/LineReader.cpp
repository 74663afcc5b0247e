#include "host/qlnrun/LineReader.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

LineReader::LineReader(int fd, QObject* parent) : QObject(parent), fd_(fd) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, &LineReader::readAvailable);
}

void LineReader::setEnabled(bool enabled) {
    enabled_ = enabled;
    notifier_->setEnabled(enabled && !endOfInput_);
    // Lines read before a pause are still waiting in the buffer.
    if (enabled)
        QTimer::singleShot(0, this, &LineReader::emitPending);
}

void LineReader::readAvailable() {
    char buffer[4096];
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (count <= 0) {
        endOfInput_ = true;
        notifier_->setEnabled(false);
    } else {
        pending_.append(buffer, count);
    }
    emitPending();
}

void LineReader::emitPending() {
    qsizetype start = 0;
    for (qsizetype end = pending_.indexOf('\n'); enabled_ && end >= 0;
         end = pending_.indexOf('\n', start)) {
        const QByteArray line = pending_.mid(start, end - start);
        start = end + 1;
        if (discarding_)
            discarding_ = false;
        else
            emit lineRead(line);  // a slot may pause reading: the rest waits
    }
    pending_.remove(0, start);
    if (pending_.size() > kMaxLine && !pending_.contains('\n')) {
        pending_.clear();
        if (!discarding_)
            emit tooLong();
        discarding_ = true;
    }
    if (enabled_ && endOfInput_ && !ended_) {
        ended_ = true;
        if (!pending_.isEmpty() && !discarding_)
            emit lineRead(pending_);
        pending_.clear();
        emit ended();
    }
}
