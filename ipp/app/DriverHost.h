#pragma once
// DriverHost: tactus-ipp as the host application of the Tactus driver. It sets the host
// stand-in up (millimetres, message-box answers, the active tip), loads the driver with
// qlnrun's DriverLibrary, starts and closes it, and turns what the driver hands the host
// into the machine an I++ DME session talks to: the readout is the position, a manual hit
// is a touch, the completion of a measurement request is the answer to PtMeas.
//
// Only real touches come out: manual hits the driver records, and measurement requests the
// driver completes with a hit and its vector. The host's automatic-hit test always answers
// no, so a position can never complete a measurement, and the operator's "hit here" request
// is never set.
//
// The driver is not reentrant, and it calls the host (and so the session) from inside its
// own steps: a request made while such a call runs is kept and made from the event loop
// right after, in order. GUI thread only; host events reported from another thread are
// passed on through the event loop.

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "host/HostRecorder.h"
#include "host/HostTip.h"
#include "host/qlnrun/DriverLibrary.h"
#include "ipp/session/Machine.h"

class DriverHost : public QObject, public ipp::Machine {
    Q_OBJECT
  public:
    explicit DriverHost(QObject* parent = nullptr);
    ~DriverHost() override;

    // Applies the host settings; `answers` maps message-box numbers to 6 (Yes) or 7 (No).
    void configureHost(const std::map<unsigned, int>& answers);
    // False with errorText() when the library or a required entry point is missing.
    bool load(const QString& path);
    const QString& errorText() const { return error_; }
    // driver_initialize; true when it returned 0.
    bool initialize();
    // driver_close, once (also after a failed start-up).
    void close();

    ipp::Vec3 Position() const override { return position_; }
    void BeginMeasurement() override;
    void CancelMeasurement() override;
    void SetActiveTool(const ipp::Tool& tool) override;

  signals:
    void touched(const ipp::Vec3& point, const ipp::Vec3& vector);
    void measured(const ipp::Vec3& point, const ipp::Vec3& vector);
    void positionChanged(const ipp::Vec3& point);
    // A status-line text of the driver's, for the operator.
    void status(const QString& text);

  private:
    class Callback;

    void passOn(const HostEvent& event);
    void result(const double* xyz, const double* ijk);
    void callDriver(std::function<void()> call);
    void runDeferred();

    DriverLibrary driver_;
    std::unique_ptr<Callback> callback_;
    std::unique_ptr<HostTip> tip_;
    ipp::Vec3 position_{};
    int depth_ = 0;  // inside a driver call, or inside the host's handling of one
    std::deque<std::function<void()>> deferred_;
    bool loaded_ = false;
    bool closed_ = false;
    QString error_;
};
