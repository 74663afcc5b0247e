#pragma once
// Platform side of the host's message boxes: a real modal box when a display and a
// QApplication exist, nothing otherwise. GUI thread only.

#include <string>

// True when a modal box would really be shown.
bool HostMessageBoxesAreInteractive();

// Shows a modal box with the buttons of style (0 OK, 1 OK/Cancel, 3 Yes/No/Cancel,
// 4 Yes/No) and returns the Win32 answer code of the button pressed.
int HostShowModalBox(const std::wstring& text, unsigned style);
