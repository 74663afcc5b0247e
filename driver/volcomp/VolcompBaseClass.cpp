#include "driver/volcomp/VolcompBaseClass.h"

#include "driver/comm/log/LogLine.h"
#include "host/QlnServices.h"

const wchar_t* VolcompBaseClass::MachineName() const {
    return hostApp ? hostApp->machineName.c_str() : L"";
}

void VolcompBaseClass::ReportText(const std::wstring& text) const {
    LogLine(L"CMM=%ls %ls", MachineName(), text.c_str());
    QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk);
}
