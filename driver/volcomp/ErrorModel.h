#pragma once
// The error models of the ASI and CNC methods: they evaluate the driver-wide tables
// (CompensationTables.h) at a point and add (from the machine) or subtract (to the
// machine) the resulting displacement.
//
// The model point is four doubles x, y, z, s in millimetres relative to the compensation
// origin; s is the position of the second X drive. The tip is the reversed probe tip
// (millimetres, machine axes). The layout of the machine comes from the arm number of the
// table file: arms 1 to 5 of a 251-entry file use the composed model, anything else and
// every 51-entry file the 51-entry model. The inverse is a single step: the errors are
// evaluated at the given point and subtracted. Both log every intermediate value. No
// allocation, no failure; a point outside a table gets no error from that axis (CNC arm 5
// clamps to the table ends instead). Host UI thread only.

inline constexpr int kModelFromMachine = 1;
inline constexpr int kModelToMachine = 0;

struct CompensationTables;

// The 51-entry model alone, on the given tables, with the arm number and sub-mode chosen by
// the caller (the DEA method runs it on its own tables as arm 1, sub-mode 2). Logs nothing.
void ShortErrorModel(const CompensationTables& tables, int arm, int subMode, const double tip[3],
                     double point[4], int direction);

void AsiErrorModel(const double tip[3], double point[4], int direction);
void CncErrorModel(const double tip[3], double point[4], int direction);
