#pragma once
// The stand-in DEA correction library the tests load in place of the machine maker's:
// what its COMPENSA does and the two extra entry points through which tests read and reset
// its record of calls. Built from DeaStandIn.cpp as libwcompens32.so (older InitCompens),
// libwcompens32_2.so (newer InitCompens) and an init-only libwcompens32_2.so.

namespace deastandin {

// COMPENSA adds shift + tipFactor * tip to the point from the machine (direction 0) and
// subtracts it to the machine (direction 1).
inline constexpr double kShift[3] = {0.001, 0.002, 0.003};
inline constexpr double kTipFactor = 0.0001;

}  // namespace deastandin

extern "C" {
// One line per call, e.g. "InitCompens(0, \"dea.dat\", 2)", "SetCompensMode(3, 0 0 0)",
// "COMPENSA(0, tip 1 2 3, point 4 5 6)" (the point as passed in).
using DeaStandInJournalFn = const char* (*)();
// Clears the record and sets the results of InitCompens and SetCompensMode.
using DeaStandInResetFn = void (*)(int initResult, int modeResult);
}
