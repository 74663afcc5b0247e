#pragma once
// LibraryLoader: the driver's platform adapter for loading a library at run time and
// finding its entry points by name.
//
// Libraries are named the way their makers ship them ("wcompens32.dll"). A bare
// "NAME.dll" (any case of the suffix) stands for the platform's file "libNAME.so", looked
// for in each directory of LD_LIBRARY_PATH, then in the directory of the running program,
// and finally handed to the system loader's own search. A name containing '/' is a path
// and is used as given.
//
// Failures give a null handle or entry point and fill the LoadError with the system's
// error code and the loader's message. Handles are never released here: a library stays
// loaded for the life of the process. Thread-compatible (the loader's error state is per
// thread); the driver uses it on the host's UI thread.

#include <string>
#include <vector>

namespace LibraryLoader {

using Handle = void*;

struct LoadError {
    int code = 0;       // errno after the failed load
    std::wstring text;  // the loader's message
};

// The platform file name for a library name: "wcompens32.dll" -> "libwcompens32.so".
std::string PlatformFileName(const std::wstring& name);

// The directories searched before the system loader's own search, in order.
std::vector<std::string> SearchDirectories();

// The path Load() opens for a name: the first existing candidate of the search above, or
// the platform file name itself when none exists.
std::string Locate(const std::wstring& name);

Handle Load(const std::wstring& name, LoadError* error);
// Null when the handle is null or the entry point is missing.
void* Symbol(Handle handle, const char* name);

}  // namespace LibraryLoader
