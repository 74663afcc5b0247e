#include "driver/core/driver/PollTimer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

PollTimer::PollTimer() = default;

PollTimer::~PollTimer() {
    Stop();
}

bool PollTimer::Start(int intervalMs, std::function<void()> callback) {
    Stop();
    if (!QCoreApplication::instance())
        return false;
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), std::move(callback));
    timer_->start(intervalMs);
    return timer_->isActive();
}

void PollTimer::Stop() {
    if (!timer_)
        return;
    // The timer may be stopped from inside its own callback (the host re-initialising from
    // a result it was given), so it is deleted once control is back in the event loop.
    timer_->stop();
    timer_->disconnect();
    timer_.release()->deleteLater();
}

bool PollTimer::IsRunning() const {
    return timer_ && timer_->isActive();
}

void DriverBeep(int, int) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}
