#pragma once
// The server's settings readers, run once on the GUI thread at start-up.
//
// Each reader opens its file by the name given (the server passes bare names, so the
// working directory is searched), never writes it, and reports only whether the file
// could be loaded. Malformed or unknown values are not errors: they leave the value the
// setting had before. File names, keys and messages are in ServerConfigNames.h.

#include <QString>
#include <QStringList>

#include "server/config/ServerConfig.h"

class VexEnc7480;
class VexSimulator;

// Fills `out` from VEX.XML. False when the file cannot be loaded (missing, unreadable, not
// well formed, or refused by the limits of common/XmlLimits.h); `out.interfaceName` is then
// empty and the other members keep their values. When `problems` is given, a file that
// exists but cannot be loaded adds a text saying why. A POLL_TIME or IdleClientTime outside
// its range (ServerConfig) is clamped to it and, when `problems` is given, a text saying so
// is appended for the user.
bool ReadServerConfig(const QString& fileName, ServerConfig& out, QStringList* problems = nullptr);

// Gives the card device its settings from VEXENC7480.XML. The card settings are reset to
// their defaults first; the vector depth, vector sensitivity and history capacity keep
// the device's values unless the file sets them. False when the file cannot be loaded;
// the defaults are in place either way. A counts-per-unit value of 0 cannot be used: the
// axis keeps its default and, when `problems` is given, a text saying so is appended for
// the user; so is the reason why a file that exists could not be loaded. POINT_HISTORY is
// clamped to 0 to PointHistory::kMaxCapacity and reported the same way.
bool ReadEnc7480Config(const QString& fileName, VexEnc7480& device,
                       QStringList* problems = nullptr);

// Prepares the simulator device: its history keeps the 5 latest changed positions. The
// simulator has no settings file to read; always true.
bool ReadSimulatorConfig(const QString& fileName, VexSimulator& device);
