#include "driver/core/driver/PostedStep.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>

#include "driver/comm/channel/WakeEvent.h"

// What the requesters share with the UI thread: the event descriptor and whether a run has
// been asked for since the last one started. Lives as long as a requester or the notifier
// holds it, so a late request never signals a closed descriptor.
struct PostedStep::Shared {
    WakeEvent event;
    std::atomic<bool> requested{false};
};

PostedStep::PostedStep() = default;

PostedStep::~PostedStep() {
    Stop();
}

bool PostedStep::Start(std::function<void()> step) {
    Stop();
    if (!QCoreApplication::instance())
        return false;
    auto shared = std::make_shared<Shared>();
    if (shared->event.Create() != 0)
        return false;
    notifier_ = new QSocketNotifier(shared->event.Handle(), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_,
                     [shared, step = std::move(step)] {
                         // Reset before clearing the flag: a request in between finds the flag
                         // still set and sends no signal, and the step below serves it.
                         shared->event.Reset();
                         shared->requested.store(false, std::memory_order_release);
                         step();
                     });
    shared_ = std::move(shared);
    return true;
}

void PostedStep::Stop() {
    if (!notifier_)
        return;
    // Stop may run inside the step, that is inside the notifier's own signal: the notifier
    // (and with it the step) goes once control is back in the event loop.
    notifier_->setEnabled(false);
    notifier_->disconnect();
    notifier_->deleteLater();
    notifier_ = nullptr;
    shared_.reset();
}

std::function<void()> PostedStep::Requester() const {
    std::shared_ptr<Shared> shared = shared_;
    if (!shared)
        return [] {};
    return [shared] {
        if (!shared->requested.exchange(true, std::memory_order_acq_rel))
            shared->event.Signal();
    };
}
