#pragma once
// Test access to a loaded test-double library.
//
// FakeLibrary holds its own reference to the library for the life of the object, so the
// state survives the device freeing its binding and every test starts from a freshly
// loaded copy once the object is gone. IsLoaded() asks the loader without loading.

#include <dlfcn.h>

#include <QFile>

#include "server/device/SharedLibrary.h"

inline QByteArray FakePath(const char* name) {
    return QFile::encodeName(SharedLibrary::Locate(QString::fromLatin1(name)));
}

inline bool IsLoaded(const char* name) {
    void* handle = dlopen(FakePath(name).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

// The state of the copy that is loaded now, without keeping it loaded.
template <typename State>
State* LoadedState(const char* name, const char* stateFunction) {
    void* handle = dlopen(FakePath(name).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return nullptr;
    auto function = reinterpret_cast<State* (*)()>(dlsym(handle, stateFunction));
    State* state = function != nullptr ? function() : nullptr;
    dlclose(handle);
    return state;
}

template <typename State>
class FakeLibrary {
  public:
    FakeLibrary(const char* name, const char* stateFunction)
        : handle_(dlopen(FakePath(name).constData(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ != nullptr) {
            auto function = reinterpret_cast<State* (*)()>(dlsym(handle_, stateFunction));
            state_ = function != nullptr ? function() : nullptr;
        }
    }
    ~FakeLibrary() {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;

    State* get() const { return state_; }
    State* operator->() const { return state_; }

  private:
    void* handle_;
    State* state_ = nullptr;
};
