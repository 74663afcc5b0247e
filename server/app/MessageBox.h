#pragma once
// The server's modal message box, translated for unattended running.
//
// Every text is written to stderr (one line, prefixed "VexServer: ") so that a log or a
// supervising process sees it. When a display exists and a QApplication is running, a
// modal box with an OK button is shown and the call returns when the user answers.
// Without a display (no DISPLAY/WAYLAND_DISPLAY, or the offscreen/minimal platform)
// the box is answered OK at once, so an unattended server never hangs on an invisible
// dialog. Call it on the GUI thread only. It never fails.

#include <QString>

void ShowMessageBox(const QString& text);

// True when message boxes would really be shown (a display and a GUI application).
bool MessageBoxesAreInteractive();
