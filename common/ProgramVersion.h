#pragma once

// The text every program of the product prints for --version: one line
// "PROGRAM (PRODUCT) VERSION", the form help2man reads for the man pages' headers.

#include <string>

#include "common/ProductVersion.h"

inline std::string ProgramVersionText(const char* program) {
    return std::string(program) + " (" + kProductName + ") " + kProductVersion + "\n";
}
