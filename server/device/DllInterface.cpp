#include "server/device/DllInterface.h"

DllInterface::~DllInterface() {
    SharedLibrary::Unload(module_);
}

bool DllInterface::Load(const QString& path) {
    if (module_ != nullptr)
        return true;
    errorText_.clear();
    QString message;
    module_ = SharedLibrary::Load(path, &message);
    if (module_ == nullptr) {
        errorText_ = message + u'\n' + path;
        return false;
    }
    return true;
}

void* DllInterface::GetProc(const char* name) {
    QString message;
    void* symbol = module_ != nullptr ? SharedLibrary::Symbol(module_, name, &message) : nullptr;
    if (symbol == nullptr) {
        if (module_ == nullptr)
            message = QStringLiteral("no library is loaded");
        errorText_ = message + u'\n' + QLatin1String(name);
    }
    return symbol;
}
