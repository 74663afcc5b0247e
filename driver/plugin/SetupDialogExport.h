#pragma once
// Bridge from the exported driver_cmm_setup_dialog to the setup dialog: hands the dialog
// the driver core's state (host objects, serial values, axis codes and the axis
// initialisation). Host UI thread only; never throws past the caller's guard.

void RunDriverSetupDialog();
