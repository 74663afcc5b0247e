#include "driver/volcomp/CncVolcomp.h"

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/TableMethod.h"

namespace {

constexpr tablemethod::LogTexts kTexts{
    L"CncVolcomp Entering CompensateFromCMM with in=(%lf %lf %lf %lf)\n",
    L"CncVolcomp: exiting CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
    L"CncVolcomp Entering CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
    L"CncVolcomp Exiting CompensateToCMM with out=(%lf %lf %lf %lf)\n"};

}  // namespace

int CncVolcomp::LoadCompensation(const wchar_t* fileName, int) {
    const wchar_t* name = fileName ? fileName : L"";
    LogLine(L"CMM=%ls CncVolcomp FileName=:%ls:\n", MachineName(), name);
    std::wstring problem;
    const int rc = ReadCompensationFile(name, &problem);
    LogLine(L"CMM=%ls CNC ReadCompensationFile results=%d\n", MachineName(), rc);
    if (rc < 0)
        ReportText(tablemethod::ReadFailureText(rc, problem));
    ready = rc == compfile::kReadOk ? 1 : 0;
    return rc;
}

void CncVolcomp::CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    tablemethod::FromMachine(CncErrorModel, nullptr, origin, kTexts, tip, in, out);
}

void CncVolcomp::CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    tablemethod::ToMachine(CncErrorModel, nullptr, origin, kTexts, tip, in, out);
}
