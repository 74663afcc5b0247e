#pragma once
// SharedLibrary: the platform adapter for loading device libraries at run time.
//
// The server names its libraries the way their vendors ship them ("ENC7480.DLL",
// "VexSimulator.DLL"). A bare "NAME.DLL" (any case of the suffix) stands for the
// platform's file "libNAME.so"; it is looked for in each directory of LD_LIBRARY_PATH and
// otherwise handed to the system loader's own search: the program's RUNPATH, the loader
// cache and the system's library folders. A program in the build tree carries its own
// folder as RUNPATH, so the stand-in libraries built beside it are found there; an
// installed VexServer carries none, so a card library installed in the system is the one
// found and nothing lying beside the program can shadow it. A name containing '/' is a
// path and is used as given (the server passes one when the user names a library folder).
//
// Failures return a null handle or symbol and fill *systemMessage with the loader's
// message (at most 200 characters). Callers own handles and release them with Unload().
// Thread-compatible: the loader's error state is per thread.

#include <QString>

namespace SharedLibrary {

using Handle = void*;

// The platform file name for a library name: "ENC7480.DLL" -> "libENC7480.so".
QString PlatformFileName(const QString& name);

// What Load() hands to the loader for a name: the first existing file of the
// LD_LIBRARY_PATH directories, or else the platform file name for the loader to search.
QString Locate(const QString& name);

Handle Load(const QString& name, QString* systemMessage);
void* Symbol(Handle handle, const char* name, QString* systemMessage);
void Unload(Handle handle);

// The absolute path of the file the loader opened for `handle`, links resolved; empty when
// unknown.
QString LoadedPath(Handle handle);

}  // namespace SharedLibrary
