#pragma once
// Building, closing and the DEA re-initialisation entry of the driver's compensation
// object.
//
// InitializeVolcomp builds the method chosen by the VolCompMethod setting, loads it and
// hands the caller (the driver core) a ready object it owns until CloseVolcomp, or null:
// for an unknown method (host message 2252), when memory runs out (509), or when the
// method's data do not load (the method reports why). Host UI thread only.
//
// Methods and their data file (the table lives in VolcompFactory.cpp; a method is one row):
//    0  NoVolcomp   none
//   11  DeaStandardVolcomp  CompensFileName (DEA table file)
//   12  NewDeaVolcomp       CompensFileName, through the DEA correction library
//   13  AsiVolcomp  "compens.dat", whatever CompensFileName says
//   14  BnsVolcomp  "comp.dat" (or its enciphered form), whatever CompensFileName says
//   16  CncVolcomp  CompensFileName (the only method not announced to the host's
//                   section-name service)

#include "driver/core/CPoint3.h"
#include "driver/volcomp/VolcompBaseClass.h"

VolcompBaseClass* InitializeVolcomp(int method, CQLNapplication* hostApp,
                                    CQLNhostInterface* hostIface, int usingOldWcompens32,
                                    int rotaryTable, int rotaryValue2, int wcompensMode,
                                    CPoint3 origin, const wchar_t* compensFileName,
                                    int arm2CompMode);

// Logs and destroys the object (null is allowed).
void CloseVolcomp(VolcompBaseClass* volcomp);

// Kept for hosts that re-initialise the DEA data at run time; the driver never supports
// it, whatever the state: returns -1 and changes nothing. (The driver library exports it
// with C linkage.)
int driver_Initialize_WCompens32(const wchar_t* fileName, int arm);
