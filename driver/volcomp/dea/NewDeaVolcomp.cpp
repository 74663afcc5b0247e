#include "driver/volcomp/dea/NewDeaVolcomp.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

#include "driver/comm/log/LogLine.h"
#include "driver/volcomp/VolcompStrings.h"
#include "host/QlnServices.h"

namespace {

unsigned long Address(void* entry) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(entry));
}

template <typename Fn>
Fn EntryPoint(void* address) {
    return reinterpret_cast<Fn>(address);
}

}  // namespace

int NewDeaVolcomp::LoadCompensation(const wchar_t* fileName, int arm2Mode) {
    library_ = nullptr;
    initCompens_ = nullptr;
    initCompensOld_ = nullptr;
    setCompensMode_ = nullptr;
    compensa_ = nullptr;
    int result = -1;
    const wchar_t* libraryName =
        usingOldWcompens32 ? dealib::kOldLibraryName : dealib::kNewLibraryName;

    LibraryLoader::LoadError error;
    library_ = LibraryLoader::Load(libraryName, &error);
    if (!library_) {
        LogLine(L"CMM=%ls can't load new dea comp dll (%ls)\n", MachineName(), libraryName);
        // The loader's own message says why (missing file, missing dependency, bad format)
        // better than the text of the bare error number would.
        TheDebugLog().PrintText(L"System error code: 0x%x, text: %ls\n", unsigned(error.code),
                                error.text.c_str());
        const std::wstring text =
            QlnLoadString(kMsgCompNotLoaded) + L"\nAfxLoadLibrary failed for " + libraryName;
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk, 0);
    } else {
        std::wstring text = QlnLoadString(kMsgCompNotLoaded);
        LogLine(L"CMM=%ls loaded new dea comp dll (%ls), looking for subs in dll\n", MachineName(),
                libraryName);
        void* init = LibraryLoader::Symbol(library_, dealib::kInitCompensName);
        void* mode = LibraryLoader::Symbol(library_, dealib::kSetCompensModeName);
        void* compensa = LibraryLoader::Symbol(library_, dealib::kCompensaName);
        if (!init)
            text += L"\nGetProcAddress failed for InitCompens";
        if (!mode)
            text += L"\nGetProcAddress failed for SetCompensMode";
        if (!compensa)
            text += L"\nGetProcAddress failed for COMPENSA";
        LogLine(L"CMM=%ls Subroutine addresses Initcompens=%lx SetCompensMode=%lx COMPENSA=%lx\n",
                MachineName(), Address(init), Address(mode), Address(compensa));
        if (!init || !mode || !compensa) {
            QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk, 0);
        } else {
            initCompens_ = EntryPoint<DeaInitCompensNewFn>(init);
            initCompensOld_ = EntryPoint<DeaInitCompensOldFn>(init);
            setCompensMode_ = EntryPoint<DeaSetCompensModeFn>(mode);
            compensa_ = EntryPoint<DeaCompensaFn>(compensa);
            result = InitialiseLibrary(fileName, arm2Mode ? 2 : 1);
        }
    }
    ready = result >= 0 ? 1 : 0;
    return result;
}

int NewDeaVolcomp::InitialiseLibrary(const wchar_t* fileName, int arm) {
    std::wstring text = QlnLoadString(kMsgCompNotLoaded);
    LogLine(L"CMM=%ls DEA WCOMPENS32 compensation file name=%ls , Arm number=%d\n", MachineName(),
            fileName ? fileName : L"", arm);
    // The library takes 8-bit names in the locale's encoding; a null name stays null.
    const QByteArray name =
        fileName ? QString::fromWCharArray(fileName).toLocal8Bit() : QByteArray();
    const char* namePointer = fileName ? name.constData() : nullptr;

    int result;
    if (usingOldWcompens32) {
        result = initCompensOld_(namePointer, arm);
        LogLine(L"CMM=%ls DEA InitCompens (older format) results=%d\n", MachineName(), result);
    } else {
        result = initCompens_(0, namePointer, arm);
        LogLine(L"CMM=%ls DEA InitCompens (newer format) results=%d\n", MachineName(), result);
    }
    text += L"\nInitCompens return=" + std::to_wstring(result);

    if (result >= 0) {
        double values[3] = {0.0, 0.0, 0.0};
        result = setCompensMode_(deaMode, values);
        text += L"\nSetCompensMode return=" + std::to_wstring(result);
        LogLine(L"CMM=%ls DEA SetCompensMode  WCompensMode=%d  results=%d\n", MachineName(),
                deaMode, result);
    }
    if (result < 0)
        QlnMessageBox(hostIface, text.c_str(), kQlnBoxOk, 0);
    return result;
}

void NewDeaVolcomp::CompensateFromCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(L"NewDeaVolcomp Entering CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    CPoint3 point = in - origin;
    if (compensa_)
        compensa_(dealib::kFromMachine, tip.Array(), point.Array());
    out = point;
    LogLine(L"NewDeaVolcomp: exiting CompensateFromCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}

void NewDeaVolcomp::CompensateToCMM(CPoint3 tip, CPoint3& in, CPoint3& out) {
    LogLine(L"NewDeaVolcomp Entering CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
    CPoint3 point = in;
    if (compensa_)
        compensa_(dealib::kToMachine, tip.Array(), point.Array());
    out = point + origin;
    LogLine(L"NewDeaVolcomp Exiting CompensateToCMM with in=(%lf %lf %lf), out=(%lf %lf %lf)\n",
            in.x(), in.y(), in.z(), out.x(), out.y(), out.z());
}
