#include "driver/volcomp/bns/BnsVolcomp.h"

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/VolcompStrings.h"
#include "host/QlnServices.h"

BnsVolcomp::BnsVolcomp() : map_(std::make_unique<BnsCompMap>()) {}

BnsVolcomp::~BnsVolcomp() = default;

int BnsVolcomp::LoadCompensation(const wchar_t* fileName, int) {
    const bool enciphered = QlnQueryOption(kOptionEncipheredMaps) == 1;
    const bool fallback = QlnQueryOption() != 0;
    map_->SetSources(enciphered, fallback);

    const int nResult = map_->Load(fileName ? fileName : L"");
    LogLine(L"CMM=%ls BNS_Volcomp Filename=[%ls], nResult=%d\n", MachineName(),
            map_->FileName().c_str(), nResult);
    if (!map_->LastError().empty())
        LogLine(L"CMM=%ls BNS_Volcomp %s\n", MachineName(), map_->LastError().c_str());

    if (nResult > 0) {
        // The rotary correction stays off; the line only tells that the map could do it.
        if (rotaryTable != 0 && rotaryValue2 == 0 && map_->HasRotaryData())
            LogLine(L"CMM=%ls B&S volcomp - rotab present and compmap includes rotary comp data\n",
                    MachineName());
    } else {
        if (nResult == BnsCompMap::kEncipheredMissing)
            QlnStatusMessage(hostApp, kEncipheredMissingText, 0, -1);
        else
            QlnStatusMessage(hostApp, kMsgMapNotRead, 0, -1);
        QlnMessageBox(hostIface, kMsgCompNotLoaded, kQlnBoxOk, 0);
    }

    if (grid.Load() < 0)
        ReportText(QlnLoadString(kMsgCompNotLoaded) + L" - " + grid.Problem());

    const bool hasData = map_->HasData();
    if (grid.IsLoaded() && hasData) {
        const std::wstring text = QlnLoadString(kMsgGridActive);
        LogLine(L"CMM=%ls %ls\n", MachineName(), text.c_str());
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk);
    } else if (!grid.IsLoaded() && !hasData) {
        const std::wstring text = QlnLoadString(kMsgNoTableData);
        LogLine(L"CMM=%ls %ls\n", MachineName(), text.c_str());
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk);
    }

    ready = nResult > 0 ? 1 : 0;
    return nResult;
}

void BnsVolcomp::CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(L"BnsVolcomp Entering CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    const CPoint3 probe = tip - origin;
    double point[4] = {in.x(), in.y(), in.z(), 0.0};
    if (grid.IsLoaded())
        grid.Apply(tip, point, GridCompensation::kFromMachine);
    double result[4];
    map_->Correct(BnsCompMap::kFromMachine, point, probe.Array(), result);
    out = CPoint3(result);
    LogLine(L"BnsVolcomp: exiting CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}

void BnsVolcomp::CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(L"BnsVolcomp Entering CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    const CPoint3 probe = tip - origin;
    const double point[4] = {in.x(), in.y(), in.z(), 0.0};
    double result[4];
    map_->Correct(BnsCompMap::kToMachine, point, probe.Array(), result);
    if (grid.IsLoaded())
        grid.Apply(tip, result, GridCompensation::kToMachine);
    out = CPoint3(result);
    LogLine(L"BnsVolcomp Exiting CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}
