#pragma once
// SharedLibrary: the platform adapter for loading device libraries at run time.
//
// The server names its libraries the way their vendors ship them ("ENC7480.DLL",
// "VexSimulator.DLL"). A bare "NAME.DLL" (any case of the suffix) stands for the
// platform's file "libNAME.so"; it is looked for in each directory of LD_LIBRARY_PATH,
// then in the directory of the running executable, and finally handed to the system
// loader's own search. A name containing '/' is a path and is used as given.
//
// Failures return a null handle or symbol and fill *systemMessage with the loader's
// message (at most 200 characters). Callers own handles and release them with Unload().
// Thread-compatible: the loader's error state is per thread.

#include <QString>

namespace SharedLibrary {

using Handle = void*;

// The platform file name for a library name: "ENC7480.DLL" -> "libENC7480.so".
QString PlatformFileName(const QString& name);

// The path Load() opens for a name: the first existing candidate of the search above,
// or the platform file name itself when none exists.
QString Locate(const QString& name);

Handle Load(const QString& name, QString* systemMessage);
void* Symbol(Handle handle, const char* name, QString* systemMessage);
void Unload(Handle handle);

}  // namespace SharedLibrary
