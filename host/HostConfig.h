#pragma once
// How the host stand-in answers drivers: message-box answers, option values, the automatic
// hit test, the active tip and the texts it hands out. One process-wide instance
// (QlnConfig()), set up by tests and the host shell before and between driver calls, on the
// host's UI thread.

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>

class CQLNtip_data;

struct HostConfig {
    // Message box answers (Win32 codes: 1 OK, 2 Cancel, 6 Yes, 7 No). Queued answers are
    // used first, one per box; then a box whose resource number is in answersById gets
    // that answer at once, without being shown; then a question in discardingBoxes is
    // answered No, OK-style boxes okAnswer and the others yesNoAnswer. A box shown to a
    // person (see interactiveMessageBoxes) is answered by the button pressed instead.
    std::deque<int> queuedAnswers;
    std::map<unsigned, int> answersById;
    int okAnswer = 1;
    int yesNoAnswer = 6;
    // Questions whose Yes throws state away (4739: reset the machine's axis counters, which
    // zeroes the position of a real card): when nobody can see them, No is the safe answer.
    std::set<unsigned> discardingBoxes = {4739};
    // Show a real modal box when a display and a QApplication exist.
    bool interactiveMessageBoxes = true;
    // Copy every message box to stderr.
    bool echoMessageBoxes = true;

    // Option queries: values by option code (unknown codes answer 0) and the answer of the
    // query without a code (permission to fall back to plain compensation files).
    std::map<int, int> options;
    int fallbackPermission = 0;

    // Automatic-hit test: never a hit by default, as for a machine whose touch-trigger
    // probe reports its touches; with autoHitDistance set, a hit when the current point is
    // at least that far (host units) from the previous one. autoHitAnswer, when set,
    // forces the answer. When autoHitBeepInterval is zero or more it is written to the
    // driver's beep interval.
    std::optional<double> autoHitDistance;
    std::optional<int> autoHitAnswer;
    int autoHitBeepInterval = -1;

    // Active tip (not owned; null: no tip active).
    CQLNtip_data* activeTip = nullptr;

    std::wstring versionText = L"QLNRUN stand-in 4.4.0";
    // Section name service: prefix + driver name.
    std::wstring sectionPrefix;

    // Back to the values above (tip and queued answers cleared).
    void reset() { *this = HostConfig(); }
};

HostConfig& QlnConfig();
