#include "server/config/ConfigReaders.h"

#include <QDomDocument>
#include <QFileInfo>
#include <algorithm>

#include "server/config/ServerConfigNames.h"
#include "server/config/XmlValues.h"
#include "server/device/VexEnc7480.h"
#include "server/device/VexSimulator.h"

namespace N = ServerConfigNames;
using XmlValues::ChildText;
using XmlValues::ReadChoice;
using XmlValues::ReadInteger;

namespace {

constexpr int kSimulatorHistoryCapacity = 5;

// Reads one counts-per-unit key; 0 would divide every count by zero.
void ReadCountsPerUnit(const QDomElement& card, const char* key, int32_t defaultValue,
                       const QString& fileName, int32_t& member, QStringList* problems) {
    member = defaultValue;
    int value = defaultValue;
    if (!ReadInteger(card, key, value))
        return;
    if (value == 0) {
        if (problems != nullptr)
            *problems << QString::asprintf(N::kZeroCountsPerUnit, key,
                                           QFileInfo(fileName).fileName().toUtf8().constData(),
                                           static_cast<int>(defaultValue));
        return;
    }
    member = value;
}

// Keeps `value` of `key` within lowest to highest, saying so when it was outside.
void Clamp(const char* key, const QString& fileName, int lowest, int highest, int& value,
           QStringList* problems) {
    const int used = std::clamp(value, lowest, highest);
    if (used != value && problems != nullptr)
        *problems << QString::asprintf(N::kOutOfRange, key, value,
                                       QFileInfo(fileName).fileName().toUtf8().constData(), lowest,
                                       highest, used);
    value = used;
}

}  // namespace

bool ReadServerConfig(const QString& fileName, ServerConfig& out, QStringList* problems) {
    QDomDocument document;
    QString refused;
    if (!XmlValues::Load(fileName, document, &refused)) {
        out.interfaceName.clear();
        if (problems != nullptr && !refused.isEmpty())
            *problems << refused;
        return false;
    }
    const QDomElement root = document.documentElement();
    out.interfaceName = ChildText(root, N::kInterface);
    if (ChildText(root, N::kTcpPortNumber).isEmpty())
        out.tcpPort = ServerConfig::kDefaultTcpPort;
    else
        ReadInteger(root, N::kTcpPortNumber, out.tcpPort);
    // Only the exact text HIDE hides the window; anything else shows it.
    out.windowMode = ChildText(root, N::kWindowHideShow) == QLatin1String(N::kWindowHide)
                         ? ServerConfig::kWindowHidden
                         : ServerConfig::kWindowShown;
    if (ReadInteger(root, N::kPollTime, out.pollTime))
        Clamp(N::kPollTime, fileName, ServerConfig::kMinPollTime, ServerConfig::kMaxPollTime,
              out.pollTime, problems);
    if (ReadInteger(root, N::kIdleClientTime, out.idleClientTime))
        Clamp(N::kIdleClientTime, fileName, 0, ServerConfig::kMaxIdleClientTime, out.idleClientTime,
              problems);
    out.bindAddress = ChildText(root, N::kBindAddress);
    out.deviceLibraryFolder = ChildText(root, N::kDeviceLibraryFolder);
    return true;
}

bool ReadEnc7480Config(const QString& fileName, VexEnc7480& device, QStringList* problems) {
    QDomDocument document;
    QString refused;
    const bool loaded = XmlValues::Load(fileName, document, &refused);
    if (problems != nullptr && !refused.isEmpty())
        *problems << refused;
    const QDomElement card =
        loaded ? XmlValues::Child(document.documentElement(), N::kCard) : QDomElement();
    // The card number is accepted for files written for several cards; the server
    // drives card 0 only.

    Enc7480Settings s = device.Settings();
    s.triggerLogic = 0;
    ReadChoice(card, N::kSetTriggerLogic, {{N::kRisingEdge, 0}, {N::kFallingEdge, 1}},
               s.triggerLogic);
    s.countMode = 0;
    // The four-phase mode has no count mode of its own on the card: it counts like the
    // three-phase mode.
    ReadChoice(card, N::kCountConfig,
               {{N::kModePulseDirection, 0},
                {N::kModeOneAbPhase, 1},
                {N::kModeTwoAbPhase, 2},
                {N::kModeThreeAbPhase, 3},
                {N::kModeFourAbPhase, 3}},
               s.countMode);
    s.indexPulseEnable = 0;
    ReadChoice(card, N::kEzLogic, {{N::kDisabled, 0}, {N::kEnabled, 1}}, s.indexPulseEnable);
    s.indexPulseLevel = 0;
    ReadChoice(card, N::kSetEzLogic, {{N::kActiveLow, 0}, {N::kActiveHigh, 1}}, s.indexPulseLevel);
    s.triggerChannel = 1;
    ReadChoice(card, N::kTriggerChannel, {{N::kTriggerChannel1, 1}, {N::kTriggerChannel2, 2}},
               s.triggerChannel);

    constexpr int32_t perMm = Enc7480Settings::kDefaultCountsPerMm;
    ReadCountsPerUnit(card, N::kXCountsPerMm, perMm, fileName, s.xCountsPerMm, problems);
    ReadCountsPerUnit(card, N::kYCountsPerMm, perMm, fileName, s.yCountsPerMm, problems);
    ReadCountsPerUnit(card, N::kZCountsPerMm, perMm, fileName, s.zCountsPerMm, problems);
    ReadCountsPerUnit(card, N::kWCountsPerTurn, Enc7480Settings::kDefaultCountsPerTurn, fileName,
                      s.wCountsPerTurn, problems);

    ReadInteger(card, N::kCalVecDepth, s.vectorDepth);
    int capacity = device.History().Capacity();
    const bool capacitySet = ReadInteger(card, N::kPointHistory, capacity);
    if (capacitySet)
        Clamp(N::kPointHistory, fileName, 0, PointHistory::kMaxCapacity, capacity, problems);
    XmlValues::ReadReal(card, N::kVectorSensitivity, s.vectorSensitivity);

    device.SetSettings(s);
    if (capacitySet)
        device.SetHistoryCapacity(capacity);
    return loaded;
}

bool ReadSimulatorConfig(const QString& /*fileName*/, VexSimulator& device) {
    device.SetHistoryCapacity(kSimulatorHistoryCapacity);
    return true;
}
