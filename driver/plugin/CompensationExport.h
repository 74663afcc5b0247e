#pragma once
// Bridge to the compensation library's driver_Initialize_WCompens32, which is a C++ function
// of the same name as the C export and so cannot be declared in the exporting file.

int ReinitializeDeaCompensation(const wchar_t* fileName, int arm);
