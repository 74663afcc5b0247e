#pragma once
// Makes sure the program never fails for want of a screen. Call before the QApplication.
//
// Unless a platform was asked for (QT_QPA_PLATFORM): without a display (neither DISPLAY
// nor WAYLAND_DISPLAY set) Qt's offscreen platform is used; with one, the display's
// platform is tried first and offscreen is the fallback, so a display that cannot be
// reached (a stale DISPLAY in a remote shell) does not abort the program.
void UseOffscreenPlatformWithoutDisplay();
