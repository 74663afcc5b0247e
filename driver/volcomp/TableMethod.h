#pragma once
// What AsiVolcomp and CncVolcomp share: the directions of a table-based method around its
// error model, and the text reported when the table file does not load. Internal to the
// compensation library.

#include <string>

#include "driver/core/CPoint3.h"
#include "driver/volcomp/GridCompensation.h"

namespace tablemethod {

using ErrorModelFn = void (*)(const double tip[3], double point[4], int direction);

// The four log formats of a method's two directions.
struct LogTexts {
    const wchar_t* fromEntering;
    const wchar_t* fromExiting;
    const wchar_t* toEntering;
    const wchar_t* toExiting;
};

// Reading -> corrected point relative to origin. grid is applied first when not null.
void FromMachine(ErrorModelFn model, const GridCompensation* grid, const CPoint3& origin,
                 const LogTexts& texts, const CPoint3& tip, CPoint3& in, CPoint3& out);
// Corrected point relative to origin -> machine position. grid is applied last when not
// null. With in and out different objects, in.x receives the second drive's target.
void ToMachine(ErrorModelFn model, const GridCompensation* grid, const CPoint3& origin,
               const LogTexts& texts, const CPoint3& tip, CPoint3& in, CPoint3& out);

// The report for a failed ReadCompensationFile: host string 6068 (cannot open) or 6066
// (damaged), a line feed and host string 6062; the reader's problem text, when there is
// one, on a line between them.
std::wstring ReadFailureText(int result, const std::wstring& problem = {});

}  // namespace tablemethod
