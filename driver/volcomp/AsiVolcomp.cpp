#include "driver/volcomp/AsiVolcomp.h"

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/TableMethod.h"
#include "driver/volcomp/VolcompStrings.h"
#include "host/QlnServices.h"

namespace {

constexpr tablemethod::LogTexts kTexts{
    L"AsiVolcomp Entering CompensateFromCMM with in=(%lf %lf %lf %lf)\n",
    L"AsiVolcomp: exiting CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
    L"AsiVolcomp Entering CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
    L"AsiVolcomp Exiting CompensateToCMM with out=(%lf %lf %lf %lf)\n"};

}  // namespace

int AsiVolcomp::LoadCompensation(const wchar_t* fileName, int) {
    const wchar_t* name = fileName ? fileName : L"";
    LogLine(L"CMM=%ls ASI_Volcomp FileName=:%ls:\n", MachineName(), name);
    std::wstring problem;
    const int rc = *name ? ReadCompensationFile(name, &problem) : compfile::kReadNoFile;
    LogLine(L"CMM=%ls ASI ReadCompensationFile results=%d\n", MachineName(), rc);
    if (rc < 0)
        ReportText(tablemethod::ReadFailureText(rc, problem));

    if (grid.Load() < 0)
        ReportText(QlnLoadString(kMsgCompNotLoaded) + L" - " + grid.Problem());
    // With the grid loaded, say so when the tables carry data too; without a grid, say so
    // when there is no table data either.
    const bool tableData = HasTableData();
    const unsigned note =
        grid.IsLoaded() ? (tableData ? kMsgGridActive : 0) : (tableData ? 0 : kMsgNoTableData);
    if (note) {
        const std::wstring text = QlnLoadString(note);
        LogLine(L"CMM=%ls %ls\n", MachineName(), text.c_str());
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk);
    }

    ready = rc == compfile::kReadOk ? 1 : 0;
    return rc;
}

void AsiVolcomp::CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    tablemethod::FromMachine(AsiErrorModel, grid.IsLoaded() ? &grid : nullptr, origin, kTexts, tip,
                             in, out);
}

void AsiVolcomp::CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    tablemethod::ToMachine(AsiErrorModel, grid.IsLoaded() ? &grid : nullptr, origin, kTexts, tip,
                           in, out);
}
