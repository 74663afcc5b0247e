#include "driver/volcomp/dea/DeaStandardVolcomp.h"

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/VolcompStrings.h"
#include "driver/volcomp/dea/DeaCompFile.h"
#include "host/QlnServices.h"

int DeaStandardVolcomp::LoadCompensation(const wchar_t* fileName, int) {
    const wchar_t* name = fileName ? fileName : L"";
    LogLine(L"CMM=%ls DeaStandardVolcomp FileName=:%ls:\n", MachineName(), name);
    std::wstring problem;
    const int results = DeaReadCompFile(name, &problem);
    LogLine(L"CMM=%ls DEA DeaReadCompFile results=%d\n", MachineName(), results);
    if (!problem.empty())
        ReportText(QlnLoadString(kMsgCompNotLoaded) + L"\n" + problem);
    else if (results != deafile::kReadOk)
        QlnMessageBox(hostIface, kMsgCompNotLoaded, kQlnBoxOk, 0);
    ready = results == deafile::kReadOk ? 1 : 0;
    return results;
}

void DeaStandardVolcomp::CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(
        L"DeaStandardVolcomp Entering CompensateFromCMM with in=(%lf %lf %lf), "
        L"out=(%lf %lf %lf)\n",
        in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    CPoint3 point = in - origin;
    DeaErrorModel(tip.Array(), point.Array(), kModelFromMachine);
    out = point;
    LogLine(
        L"DeaStandardVolcomp: exiting CompensateFromCMM with in=(%lf %lf %lf), "
        L"out=(%lf %lf %lf)\n",
        in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}

void DeaStandardVolcomp::CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(
        L"DeaStandardVolcomp Entering CompensateToCMM with in=(%lf %lf %lf), "
        L"out=(%lf %lf %lf)\n",
        in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    CPoint3 point = in;
    DeaErrorModel(tip.Array(), point.Array(), kModelToMachine);
    out = point + origin;
    LogLine(
        L"DeaStandardVolcomp Exiting CompensateToCMM with in=(%lf %lf %lf), "
        L"out=(%lf %lf %lf)\n",
        in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}
