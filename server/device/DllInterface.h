#pragma once
// DllInterface: owns one device library loaded at run time and binds its entry points.
//
// Subclasses hold the entry-point pointers of one library and bind them in Resolve().
// Load() and GetProc() report failure by return value and leave the reason in
// ErrorText(): the system's message, a line break, then the library name as given to
// Load() or the entry-point name. Resolve() throws a copy of that text (QString) at the
// first entry point it cannot bind. The destructor frees the library. GUI thread only.

#include <QString>

#include "server/device/SharedLibrary.h"

class DllInterface {
  public:
    DllInterface() = default;
    virtual ~DllInterface();
    DllInterface(const DllInterface&) = delete;
    DllInterface& operator=(const DllInterface&) = delete;

    // Loads the library; true at once when one is already loaded.
    bool Load(const QString& path);
    // Looks an exported name up; nullptr when it is missing.
    void* GetProc(const char* name);
    // Binds every entry point not bound yet, in declaration order; throws the error text.
    virtual void Resolve() = 0;

    bool IsLoaded() const { return module_ != nullptr; }
    // The file the loader opened; empty while nothing is loaded.
    QString LoadedPath() const { return SharedLibrary::LoadedPath(module_); }
    const QString& ErrorText() const { return errorText_; }

  protected:
    // Binds one entry point if it is still empty; throws the error text when missing.
    template <typename Function>
    void Bind(Function*& slot, const char* name) {
        if (slot != nullptr)
            return;
        void* symbol = GetProc(name);
        if (symbol == nullptr)
            throw QString(errorText_);
        slot = reinterpret_cast<Function*>(symbol);
    }

  private:
    SharedLibrary::Handle module_ = nullptr;
    QString errorText_;
};
