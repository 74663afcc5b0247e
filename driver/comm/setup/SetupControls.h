#pragma once
// Small helpers the setup pages build their controls with: host texts by resource number
// and controls named by their identifiers. GUI thread only.

#include <QString>
#include <QWidget>

#include "host/QlnServices.h"

// The host's string resource `id` (empty for an unknown number).
inline QString HostString(unsigned id) {
    return QString::fromStdWString(QlnLoadString(id));
}

// A new control of type W on `parent` whose object name is its identifier, e.g. "1714".
template <class W>
W* MakeControl(int id, QWidget* parent) {
    W* control = new W(parent);
    control->setObjectName(QString::number(id));
    return control;
}
