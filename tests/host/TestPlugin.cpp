// A tiny plug-in for the host stand-in test: like a driver, it takes the host application
// object when it is loaded and then calls a handful of host services.
#include "host/QlnServices.h"

namespace {

CQLNapplication* appAtLoad = qlnTheApp;

}  // namespace

extern "C" CQLNapplication* plugin_app_at_load() {
    return appAtLoad;
}

// Returns the operator's answer to the reset question.
extern "C" int plugin_run() {
    CQLNhostInterface* iface = appAtLoad->hostIface;
    const std::wstring section = QlnSectionName(appAtLoad, L"Tactus");
    QlnStatusMessage(appAtLoad, 5523u);
    const int answer = QlnMessageBox(iface, 4739u, kQlnBoxYesNo);

    const double xyz[3] = {1.0, 2.0, 3.0};
    QlnUpdateReadout(xyz, appAtLoad, 270.0, 0, 1, 1, -1, -999.0, -999.0, -999.0, 0, -999.0);

    CQLNtip_data* tip = QlnActiveTip(iface);
    double offset[3];
    QlnTipOffset(tip, offset);
    const double hit[3] = {xyz[0] - offset[0], xyz[1] - offset[1], xyz[2] - offset[2]};
    const double ijk[3] = {0.0, 0.0, 1.0};
    const double head[3] = {0.0, 0.0, 0.0};
    if (iface->hitDeliveryFlag)
        QlnManualHit(appAtLoad, hit, ijk, head, 270.0, 1, -1, 0, 0, -9876.54);

    if (QlnQueryOption(63) == 1)
        QlnStatusMessage(appAtLoad, (L"enciphered maps for " + QlnTipName(tip)).c_str());
    QlnMachineRecord(iface, 1)->hitRequestFlags = 2;
    appAtLoad->readoutState = 1;
    QlnMachineInitComplete(appAtLoad);
    return section == L"Tactus" ? answer : -1;
}
