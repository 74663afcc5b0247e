#include "driver/volcomp/TableMethod.h"

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/CompensationTables.h"
#include "driver/volcomp/ErrorModel.h"
#include "driver/volcomp/VolcompStrings.h"
#include "host/QlnServices.h"

namespace tablemethod {

void FromMachine(ErrorModelFn model, const GridCompensation* grid, const CPoint3& origin,
                 const LogTexts& texts, const CPoint3& tip, CPoint3& in, CPoint3& out) {
    LogLine(texts.fromEntering, in.x(), in.y(), in.z(), out.x());
    // out.x carries the second drive's reading; read it before out is written.
    double point[4] = {in.x() - origin.x(), in.y() - origin.y(), in.z() - origin.z(),
                       out.x() - origin.x()};
    if (grid)
        grid->Apply(tip, point, GridCompensation::kFromMachine);
    model(tip.Array(), point, kModelFromMachine);
    out = CPoint3(point);
    LogLine(texts.fromExiting, in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}

void ToMachine(ErrorModelFn model, const GridCompensation* grid, const CPoint3& origin,
               const LogTexts& texts, const CPoint3& tip, CPoint3& in, CPoint3& out) {
    const bool same = &in == &out;
    double point[4] = {in.x(), in.y(), in.z(), 0.0};
    LogLine(texts.toEntering, in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    model(tip.Array(), point, kModelToMachine);
    if (grid)
        grid->Apply(tip, point, GridCompensation::kToMachine);
    out = CPoint3(point) + origin;
    if (!same)
        in.x() = point[3] + origin.x();
    LogLine(texts.toExiting, out.x(), out.y(), out.z(), in.x());
}

std::wstring ReadFailureText(int result, const std::wstring& problem) {
    std::wstring text = QlnLoadString(result == compfile::kReadNoFile ? kMsgCompFileNotOpened
                                                                      : kMsgCompFileDamaged);
    text += L"\n";
    if (!problem.empty())
        text += problem + L"\n";
    text += QlnLoadString(kMsgNoCompensation);
    return text;
}

}  // namespace tablemethod
