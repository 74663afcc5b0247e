#include "driver/volcomp/VolcompFactory.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/AsiVolcomp.h"
#include "driver/volcomp/CncVolcomp.h"
#include "driver/volcomp/NoVolcomp.h"
#include "driver/volcomp/VolcompStrings.h"
#include "driver/volcomp/bns/BnsVolcomp.h"
#include "driver/volcomp/dea/DeaStandardVolcomp.h"
#include "driver/volcomp/dea/NewDeaVolcomp.h"
#include "host/QlnServices.h"

namespace {

enum class DataFile {
    None,     // LoadCompensation gets null
    Setting,  // the CompensFileName setting
    Fixed,    // the entry's own name
};

struct MethodEntry {
    int number;
    VolcompBaseClass* (*create)();
    DataFile file;
    const wchar_t* fixedName;
    bool announceFileName;  // pass the file name to the host's section-name service
};

template <class Method>
VolcompBaseClass* Create() {
    try {
        return new (std::nothrow) Method;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// One row per method; numbers without a row are refused.
constexpr MethodEntry kMethods[] = {
    {0, Create<NoVolcomp>, DataFile::None, nullptr, true},
    {11, Create<DeaStandardVolcomp>, DataFile::Setting, nullptr, true},
    {12, Create<NewDeaVolcomp>, DataFile::Setting, nullptr, true},
    {13, Create<AsiVolcomp>, DataFile::Fixed, L"compens.dat", true},
    {14, Create<BnsVolcomp>, DataFile::Fixed, L"comp.dat", true},
    {16, Create<CncVolcomp>, DataFile::Setting, nullptr, false},
};

const MethodEntry* FindMethod(int number) {
    for (const MethodEntry& entry : kMethods)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

// The setting of the first coordinate of the origin that is not a finite number, or null.
// Every correcting method subtracts the origin, so such an origin would make every point nan.
const wchar_t* NonFiniteOriginKey(const CPoint3& origin) {
    static constexpr const wchar_t* kKeys[] = {L"VolOffsetX", L"VolOffsetY", L"VolOffsetZ"};
    for (int axis = 0; axis < 3; ++axis)
        if (!std::isfinite(origin.Array()[axis]))
            return kKeys[axis];
    return nullptr;
}

unsigned long Address(const void* object) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(object));
}

}  // namespace

VolcompBaseClass* InitializeVolcomp(int method, CQLNapplication* hostApp,
                                    CQLNhostInterface* hostIface, int usingOldWcompens32,
                                    int rotaryTable, int rotaryValue2, int wcompensMode,
                                    CPoint3 origin, const wchar_t* compensFileName,
                                    int arm2CompMode) {
    const MethodEntry* entry = FindMethod(method);
    if (!entry) {
        QlnMessageBox(hostIface, kMsgCompNotLoaded, kQlnBoxOk, 0);
        return nullptr;
    }
    // The pass-through method does not use the origin.
    const wchar_t* badOrigin = method != 0 ? NonFiniteOriginKey(origin) : nullptr;
    VolcompBaseClass* volcomp = badOrigin ? nullptr : entry->create();
    if (badOrigin) {
        const std::wstring text = QlnLoadString(kMsgCompNotLoaded) + L"\nThe setting " + badOrigin +
                                  L" is not a finite number.";
        LogLine(L"CMM=%ls %ls\n", hostApp ? hostApp->machineName.c_str() : L"", text.c_str());
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk, 0);
    } else if (!volcomp) {
        QlnMessageBox(hostIface, kMsgOutOfMemory, kQlnBoxOk, 0);
    } else {
        volcomp->SetContext(hostApp, hostIface, usingOldWcompens32, rotaryTable, rotaryValue2,
                            wcompensMode, origin);
        const wchar_t* fileName = entry->file == DataFile::Fixed     ? entry->fixedName
                                  : entry->file == DataFile::Setting ? compensFileName
                                                                     : nullptr;
        if (entry->announceFileName)
            QlnSectionName(hostApp, fileName);
        volcomp->LoadCompensation(fileName, arm2CompMode);
        if (!volcomp->IsReady()) {
            delete volcomp;
            volcomp = nullptr;
        }
    }
    LogLine(L"\tInitializeVolcomp, nMethod=%d ptrVolcomp=%lx\n", method, Address(volcomp));
    return volcomp;
}

void CloseVolcomp(VolcompBaseClass* volcomp) {
    LogLine(L"CloseVolcomp: pVolComp = %lx\n", Address(volcomp));
    delete volcomp;
}

int driver_Initialize_WCompens32(const wchar_t*, int) {
    return -1;
}
