#include "ipp/app/DriverHost.h"

#include <QThread>
#include <QTimer>

#include "host/HostConfig.h"
#include "host/QlnServices.h"
#include "ipp/session/ToolTable.h"

namespace {

// I++ DME works in millimetres: the host's length unit is the millimetre.
constexpr double kMillimetres = 25.4;
// A manual machine moves nothing: the driver only logs a measurement's approach and speeds.
constexpr double kApproach[3] = {0.0, 0.0, -1.0};
constexpr double kNoSpeed = 0.0;

}  // namespace

// The host's callback object of every measurement request; lives as long as the host.
class DriverHost::Callback : public CQLNinterface {
  public:
    explicit Callback(DriverHost& host) : host_(host) {}
    void setMode(int, int) override {}
    void reportResult(const double* xyz, const double* ijk, double, const CQLNresultExtras&,
                      double) override {
        host_.result(xyz, ijk);
    }

  private:
    DriverHost& host_;
};

DriverHost::DriverHost(QObject* parent)
    : QObject(parent), callback_(std::make_unique<Callback>(*this)) {}

DriverHost::~DriverHost() {
    QlnRecorder().setListener({});
    if (QlnConfig().activeTip == tip_.get())
        QlnConfig().activeTip = nullptr;
}

void DriverHost::configureHost(const std::map<unsigned, int>& answers) {
    HostConfig& config = QlnConfig();
    for (const auto& [id, answer] : answers)
        config.answersById[id] = answer;
    // A server has no one to click a box: each is answered at once (and echoed on stderr).
    config.interactiveMessageBoxes = false;
    config.autoHitAnswer = 0;
    config.activeTip = nullptr;
    CQLNhostInterface* iface = qlnTheApp->hostIface;
    iface->lengthUnit = kMillimetres;
    iface->hitDeliveryFlag = 1;

    QlnRecorder().setKeepEvents(false);
    QlnRecorder().setListener([this](const HostEvent& event) {
        if (QThread::currentThread() == thread())
            passOn(event);
        else
            QMetaObject::invokeMethod(
                this, [this, event] { passOn(event); }, Qt::QueuedConnection);
    });
}

bool DriverHost::load(const QString& path) {
    loaded_ = driver_.Load(path);
    if (!loaded_)
        error_ = driver_.errorText();
    else if (!driver_.measurePoint || !driver_.stopProbe)
        error_ = QStringLiteral(
                     "The driver library %1 lacks driver_measure_point or "
                     "driver_stop_probe")
                     .arg(path);
    return loaded_ && error_.isEmpty();
}

bool DriverHost::initialize() {
    int result = 1;
    callDriver([&] { result = driver_.initialize(); });
    return result == 0;
}

void DriverHost::close() {
    if (closed_ || !loaded_)
        return;
    closed_ = true;
    deferred_.clear();
    ++depth_;
    driver_.close();
    --depth_;
}

void DriverHost::passOn(const HostEvent& event) {
    ++depth_;
    switch (event.kind) {
        case HostEventKind::Readout:
            if (event.values.size() >= 3) {
                position_ = {event.values[0], event.values[1], event.values[2]};
                emit positionChanged(position_);
            }
            break;
        case HostEventKind::ManualHit:
            if (event.values.size() >= 6)
                emit touched({event.values[0], event.values[1], event.values[2]},
                             {event.values[3], event.values[4], event.values[5]});
            break;
        case HostEventKind::StatusMessage:
            emit status(QString::fromStdWString(event.text));
            break;
        default:
            break;
    }
    --depth_;
}

void DriverHost::result(const double* xyz, const double* ijk) {
    // A measurement completes with a hit, which always carries its vector; anything else
    // (no point, no vector) is no touch.
    if (!xyz || !ijk)
        return;
    ++depth_;
    emit measured({xyz[0], xyz[1], xyz[2]}, {ijk[0], ijk[1], ijk[2]});
    --depth_;
}

void DriverHost::callDriver(std::function<void()> call) {
    if (closed_ || !loaded_)
        return;
    if (depth_ > 0 || !deferred_.empty()) {
        deferred_.push_back(std::move(call));
        if (deferred_.size() == 1)
            QTimer::singleShot(0, this, &DriverHost::runDeferred);
        return;
    }
    ++depth_;
    call();
    --depth_;
}

void DriverHost::runDeferred() {
    if (depth_ > 0) {
        QTimer::singleShot(0, this, &DriverHost::runDeferred);
        return;
    }
    while (!deferred_.empty() && depth_ == 0 && !closed_) {
        std::function<void()> call = std::move(deferred_.front());
        deferred_.pop_front();
        ++depth_;
        call();
        --depth_;
    }
}

void DriverHost::BeginMeasurement() {
    callDriver([this] {
        const double target[3] = {position_[0], position_[1], position_[2]};
        driver_.measurePoint(callback_.get(), target, kApproach, QlnConfig().activeTip, kNoSpeed,
                             kNoSpeed, kNoSpeed, kNoSpeed, kNoSpeed);
    });
}

void DriverHost::CancelMeasurement() {
    callDriver([this] { driver_.stopProbe(); });
}

void DriverHost::SetActiveTool(const ipp::Tool& tool) {
    // The reference and no-tool tools are the probe without a tip of the host's.
    std::unique_ptr<HostTip> tip;
    if (!tool.predefined)
        tip = std::make_unique<HostTip>(QString::fromStdString(tool.name).toStdWString(),
                                        tool.offset[0], tool.offset[1], tool.offset[2]);
    QlnConfig().activeTip = tip.get();
    tip_ = std::move(tip);
}
