#include "server/app/TerminationSignals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// The socket pair: the handler writes to [1], the notifier reads [0].
int pairFds[2] = {-1, -1};

void OnSignal(int number) {
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing to do on failure: the pair is full only when signals were already noted.
    [[maybe_unused]] const ssize_t n = ::write(pairFds[1], &byte, 1);
}

constexpr int kSignals[] = {SIGTERM, SIGINT};

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pairFds) != 0)
        return;
    notifier_ = new QSocketNotifier(pairFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr)
        return;
    for (int number : kSignals)
        ::signal(number, SIG_DFL);
    delete notifier_;
    notifier_ = nullptr;
    ::close(pairFds[0]);
    ::close(pairFds[1]);
    pairFds[0] = pairFds[1] = -1;
}

QString TerminationSignals::ReceivedName() const {
    switch (received_) {
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        case SIGINT:
            return QStringLiteral("SIGINT");
        default:
            return {};
    }
}

void TerminationSignals::OnReadable() {
    unsigned char byte = 0;
    bool any = false;
    while (::read(pairFds[0], &byte, 1) == 1) {
        if (received_ == 0)
            received_ = byte;
        any = true;
    }
    if (any)
        emit received();
}
