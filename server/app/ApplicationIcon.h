#pragma once
// The program's icon: a probe tip over a crosshair, drawn at run time so the program
// needs no image files. Used as the windows' icon and in the About box. Needs a
// QGuiApplication; GUI thread only.

#include <QIcon>

QIcon VexServerIcon();
