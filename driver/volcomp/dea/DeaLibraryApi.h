#pragma once
// The DEA correction library as the driver calls it: its two file names and the C
// declarations of the three entry points it must export. Any library honouring these
// declarations works. Described for integrators in docs/compensation-dea.md.
//
// Strings are 8-bit (the locale's encoding); coordinates are millimetres in machine axes.

namespace dealib {

// Library names as the machine maker ships them; the loader maps "NAME.dll" to the
// platform's file name (libNAME.so).
inline constexpr const wchar_t* kOldLibraryName = L"wcompens32.dll";
inline constexpr const wchar_t* kNewLibraryName = L"wcompens32_2.dll";

inline constexpr const char* kInitCompensName = "InitCompens";
inline constexpr const char* kSetCompensModeName = "SetCompensMode";
inline constexpr const char* kCompensaName = "COMPENSA";

// COMPENSA direction codes.
inline constexpr int kFromMachine = 0;
inline constexpr int kToMachine = 1;

}  // namespace dealib

extern "C" {

// InitCompens of wcompens32_2.dll: reserved (always 0), data file name (may be null), arm
// number (1 or 2). Negative on failure.
using DeaInitCompensNewFn = int (*)(int reserved, const char* fileName, int arm);
// InitCompens of the older wcompens32.dll: data file name (may be null), arm number.
using DeaInitCompensOldFn = int (*)(const char* fileName, int arm);
// Selects the correction mode; values points to three doubles (the driver passes zeros).
// Negative on failure.
using DeaSetCompensModeFn = int (*)(int mode, double* values);
// Corrects point (three doubles) in place for the reversed probe tip `tip` (three
// doubles), in the direction kFromMachine or kToMachine. The result is not used.
using DeaCompensaFn = int (*)(int direction, double* tip, double* point);
}
