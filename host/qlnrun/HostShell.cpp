#include "host/qlnrun/HostShell.h"

#include <QApplication>
#include <QDialog>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "host/HostConfig.h"
#include "host/QlnServices.h"

namespace {

// What a measurement request passes besides its target: a manual machine moves nothing,
// so the driver only logs these.
constexpr double kApproach[3] = {0.0, 0.0, -1.0};
constexpr double kNoSpeed = 0.0;

// The name the active tip carries in the host and in the driver's log lines.
const wchar_t kTipName[] = L"T1A0B0";

}  // namespace

HostShell::HostShell(const QlnrunOptions& options, QObject* parent)
    : QObject(parent), options_(options) {}

HostShell::~HostShell() {
    QlnRecorder().setListener({});
    if (QlnConfig().activeTip == tip_.get())
        QlnConfig().activeTip = nullptr;
}

void HostShell::configureHost() {
    HostConfig& config = QlnConfig();
    // A box answered on the command line is answered at once, without being shown.
    for (const auto& [id, answer] : options_.answers)
        config.answersById[unsigned(id)] = answer;
    if (options_.tip) {
        const auto& offset = *options_.tip;
        tip_ = std::make_unique<HostTip>(kTipName, offset[0], offset[1], offset[2]);
        config.activeTip = tip_.get();
    }
    CQLNhostInterface* iface = qlnTheApp->hostIface;
    if (options_.lengthUnit)
        iface->lengthUnit = *options_.lengthUnit;
    if (options_.hitDelivery)
        iface->hitDeliveryFlag = *options_.hitDelivery;
    config.autoHitDistance = options_.autoHitDistance;

    // A shell runs for hours: events go to the listener only.
    QlnRecorder().setKeepEvents(false);
    QlnRecorder().setListener([this](const HostEvent& event) {
        if (QThread::currentThread() == thread())
            passOn(event);
        else
            QMetaObject::invokeMethod(
                this, [this, event] { passOn(event); }, Qt::QueuedConnection);
    });
}

bool HostShell::loadDriver(const QString& path) {
    if (driver_.Load(path))
        return true;
    error_ = driver_.errorText();
    return false;
}

void HostShell::passOn(const HostEvent& event) {
    if (event.kind == HostEventKind::Readout && event.values.size() >= 3) {
        for (int axis = 0; axis < 3; ++axis)
            lastPoint_[axis] = event.values[size_t(axis)];
    }
    emit hostEvent(event);
}

template <typename Call>
void HostShell::callDriver(Call call) {
    if (depth_++ == 0)
        emit busyChanged(true);
    call();
    if (--depth_ == 0) {
        emit busyChanged(false);
        if (finishPending_)
            completeFinish();
        else if (!waiting_.empty())
            QTimer::singleShot(0, this, &HostShell::runWaiting);
    }
}

void HostShell::submit(const ShellCommand& command) {
    if (command.kind == ShellCommandKind::Quit) {
        finish(0);
        return;
    }
    if (command.kind == ShellCommandKind::None)
        return;
    waiting_.push_back(command);
    if (depth_ == 0 && waiting_.size() == 1)
        runWaiting();
}

void HostShell::runWaiting() {
    while (depth_ == 0 && !finished_ && !waiting_.empty()) {
        const ShellCommand command = waiting_.front();
        waiting_.pop_front();
        QString error;
        if (!execute(command, error))
            emit commandRefused(error);
    }
}

bool HostShell::initialize() {
    int result = 1;
    callDriver([&] {
        result = driver_.initialize();
        // Also when a signal already asked to finish: the session failed.
        if (result != 0)
            exitCode_ = 1;
    });
    return result == 0;
}

bool HostShell::execute(const ShellCommand& command, QString& error) {
    if (finished_ || finishPending_) {
        error = QStringLiteral("the session is ending");
        return false;
    }
    CQLNtip_data* tip = QlnConfig().activeTip;
    auto missing = [&](const char* entryPoint) {
        error = QStringLiteral("the driver does not export %1").arg(QLatin1String(entryPoint));
        return false;
    };
    switch (command.kind) {
        case ShellCommandKind::None:
            return true;
        case ShellCommandKind::Read:
            if (!driver_.readPosition)
                return missing("driver_read_position");
            callDriver([&] { driver_.readPosition(&callback_, tip); });
            return true;
        case ShellCommandKind::Measure:
            if (!driver_.measurePoint)
                return missing("driver_measure_point");
            callDriver([&] {
                driver_.measurePoint(&callback_, lastPoint_, kApproach, tip, kNoSpeed, kNoSpeed,
                                     kNoSpeed, kNoSpeed, kNoSpeed);
            });
            return true;
        case ShellCommandKind::Manual:
            if (!driver_.manualHit)
                return missing("driver_manual_hit");
            callDriver([&] { driver_.manualHit(&callback_, lastPoint_, kApproach, tip); });
            return true;
        case ShellCommandKind::ScanBegin:
            if (!driver_.beginManualScan)
                return missing("driver_begin_manual_scan");
            callDriver([&] { driver_.beginManualScan(&callback_, lastPoint_, kApproach, tip); });
            return true;
        case ShellCommandKind::ScanEnd:
            if (!driver_.endManualScan)
                return missing("driver_end_manual_scan");
            callDriver([&] { driver_.endManualScan(); });
            return true;
        case ShellCommandKind::Stop:
            if (!driver_.stopProbe)
                return missing("driver_stop_probe");
            callDriver([&] { driver_.stopProbe(); });
            return true;
        case ShellCommandKind::HitRequest:
            // The operator's "take a hit here" button: bit 0 of machine 1's request flags.
            if (CQLNmachine* machine = QlnMachineRecord(qlnTheApp->hostIface, 1))
                machine->hitRequestFlags |= 1u;
            return true;
        case ShellCommandKind::ReadoutState:
            qlnTheApp->readoutState = command.value;
            return true;
        case ShellCommandKind::Setup:
            if (!driver_.setupDialog)
                return missing("driver_cmm_setup_dialog");
            callDriver([&] { driver_.setupDialog(nullptr); });
            return true;
        case ShellCommandKind::Quit:
            finish(0);
            return true;
    }
    return true;
}

void HostShell::finish(int exitCode) {
    if (finished_ || finishPending_)
        return;
    exitCode_ = exitCode;
    if (depth_ == 0) {
        completeFinish();
        return;
    }
    // The driver is inside a call that runs its own event loop (a dialog or message box):
    // close the dialogs so the call returns; callDriver() then completes the finish.
    finishPending_ = true;
    auto closeDialogs = [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else if (modal)
            modal->close();
    };
    closeDialogs();
    QTimer* retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this, retry, closeDialogs] {
        if (finished_)
            retry->deleteLater();
        else
            closeDialogs();
    });
    retry->start(200);
}

void HostShell::completeFinish() {
    finishPending_ = false;
    if (finished_)
        return;
    ++depth_;  // driver_close runs no command and no second finish
    driver_.close();
    --depth_;
    finished_ = true;
    emit finishedWith(exitCode_);
}
