// A small stand-in driver for testing qlnrun without the real one: it exports the entry
// points qlnrun calls and answers them through the host services with a made-up machine
// whose X grows by 1 every fifth tick (so the readout changes only now and then).
//
// Environment: FAKE_DRIVER_FAIL=1 makes driver_initialize fail after message box 561.
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <string>

#include "driver/core/DriverExports.h"
#include "host/QlnServices.h"

namespace {

constexpr int kTickMs = 20;
constexpr int kTicksPerStep = 5;

CQLNapplication* app = qlnTheApp;
QTimer* ticker = nullptr;
int ticks = 0;
int closes = 0;
bool announced = false;
CQLNinterface* pending = nullptr;
enum class Pending { None, Hit, Scan } pendingKind = Pending::None;

void position(double xyz[3]) {
    xyz[0] = double(ticks / kTicksPerStep);
    xyz[1] = 2.0;
    xyz[2] = 3.0;
}

void report(CQLNinterface* callback, const double* xyz, const double* ijk) {
    callback->reportResult(xyz, ijk, -9876.54, CQLNresultExtras{}, -9876.54);
}

void tick() {
    ++ticks;
    if (!announced) {
        announced = true;
        QlnMachineInitComplete(app);
    }
    double xyz[3];
    position(xyz);
    QlnUpdateReadout(xyz, app, 90.0, 0, 1, 1, -1, -999.0, -999.0, -999.0, 0, -999.0);
    const double ijk[3] = {0.0, 0.0, 1.0};
    CQLNmachine* machine = QlnMachineRecord(app->hostIface, 1);
    if (machine->hitRequestFlags & 1u) {
        machine->hitRequestFlags &= ~1u;
        if (pendingKind == Pending::Hit) {
            pendingKind = Pending::None;
            report(pending, xyz, ijk);
        } else if (app->hostIface->hitDeliveryFlag) {
            const double head[3] = {0.0, 0.0, 0.0};
            QlnManualHit(app, xyz, ijk, head, 90.0, 1, -1, 0, 0, -9876.54);
        }
    }
    if (pendingKind == Pending::Scan)
        report(pending, xyz, nullptr);
}

}  // namespace

extern "C" {

int driver_initialize() {
    // Output a careless driver writes to stdout must not reach qlnrun's event stream.
    std::printf("fake driver: noise on stdout\n");
    std::fflush(stdout);
    QlnStatusMessage(app, 5523u);
    if (qgetenv("FAKE_DRIVER_FAIL") == "1") {
        QlnMessageBox(app->hostIface, 561u, kQlnBoxOk);
        return 1;
    }
    const int answer = QlnMessageBox(app->hostIface, 4739u, kQlnBoxYesNo);
    CQLNtip_data* tip = QlnActiveTip(app->hostIface);
    double offset[3];
    QlnTipOffset(tip, offset);
    char text[256];
    std::snprintf(text, sizeof text, "fake answer=%d unit=%.3f delivery=%d tip=%ls %.3f,%.3f,%.3f",
                  answer, app->hostIface->lengthUnit, app->hostIface->hitDeliveryFlag,
                  QlnTipName(tip).c_str(), offset[0], offset[1], offset[2]);
    QlnStatusMessage(app, QString::fromLatin1(text).toStdWString().c_str());
    ticker = new QTimer;
    QObject::connect(ticker, &QTimer::timeout, tick);
    ticker->start(kTickMs);
    return 0;
}

void driver_close() {
    ++closes;
    delete ticker;
    ticker = nullptr;
    QlnStatusMessage(app, (L"fake closed " + std::to_wstring(closes)).c_str());
}

void driver_read_position(CQLNinterface* callback, CQLNtip_data*) {
    double xyz[3];
    position(xyz);
    report(callback, xyz, nullptr);
}

void driver_measure_point(CQLNinterface* callback, const double*, const double*, CQLNtip_data*,
                          double, double, double, double, double) {
    pending = callback;
    pendingKind = Pending::Hit;
}

void driver_begin_manual_scan(CQLNinterface* callback, const double*, const double*,
                              CQLNtip_data*) {
    pending = callback;
    pendingKind = Pending::Scan;
}

void driver_end_manual_scan() {
    if (pendingKind == Pending::Scan) {
        pending->setMode(2, 1);
        pending->setMode(1, 0);
        pending->setMode(16, 0);
    }
    pendingKind = Pending::None;
}

void driver_stop_probe() {
    pendingKind = Pending::None;
    QlnStatusMessage(app, L"fake stopped");
}

// A modal dialog nobody answers when headless: qlnrun must still be able to end.
void driver_cmm_setup_dialog(CWinApp*) {
    QDialog dialog;
    QlnStatusMessage(app, L"fake setup open");
    dialog.exec();
    QlnStatusMessage(app, L"fake setup closed");
}

}  // extern "C"
