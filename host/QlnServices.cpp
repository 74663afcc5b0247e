#include "host/QlnServices.h"

#include <QString>
#include <cmath>
#include <cstdio>

#include "host/HostConfig.h"
#include "host/HostMessageBox.h"
#include "host/HostRecorder.h"
#include "host/QlnStrings.h"

namespace {

CQLNhostInterface theInterface;
CQLNapplication theApp = [] {
    CQLNapplication app;
    app.hostIface = &theInterface;
    return app;
}();

std::wstring text(const wchar_t* value) {
    return value ? std::wstring(value) : std::wstring();
}

void record(HostEvent event) {
    QlnRecorder().record(std::move(event));
}

int messageBox(unsigned resourceId, const std::wstring& message, unsigned style, unsigned helpId) {
    HostConfig& config = QlnConfig();
    int answer;
    bool answeredById = false;
    if (!config.queuedAnswers.empty()) {
        answer = config.queuedAnswers.front();
        config.queuedAnswers.pop_front();
    } else if (auto it = config.answersById.find(resourceId); it != config.answersById.end()) {
        answer = it->second;
        answeredById = true;
    } else if ((style & 0xF) == kQlnBoxOk) {
        answer = config.okAnswer;
    } else {
        answer = config.discardingBoxes.count(resourceId) ? kQlnAnswerNo : config.yesNoAnswer;
    }
    const bool interactive =
        !answeredById && config.interactiveMessageBoxes && HostMessageBoxesAreInteractive();
    if (config.echoMessageBoxes) {
        const QByteArray shown = QString::fromStdWString(message).toLocal8Bit();
        if (interactive)
            std::fprintf(stderr, "QLNRUN message box %u (style %u): %s\n", resourceId, style,
                         shown.constData());
        else
            std::fprintf(stderr, "QLNRUN message box %u (style %u): %s -> %d\n", resourceId, style,
                         shown.constData(), answer);
        std::fflush(stderr);
    }
    if (interactive)
        answer = HostShowModalBox(message, style);
    HostEvent event{HostEventKind::MessageBox};
    event.id = int(resourceId);
    event.text = message;
    event.ints = {int(style), int(helpId)};
    event.result = answer;
    record(std::move(event));
    return answer;
}

void statusMessage(unsigned resourceId, const std::wstring& message, int extra1, int extra2) {
    HostEvent event{HostEventKind::StatusMessage};
    event.id = int(resourceId);
    event.text = message;
    event.ints = {extra1, extra2};
    record(std::move(event));
}

}  // namespace

CQLNapplication* qlnTheApp = &theApp;
CQLNdebugOutput qlnDebugOutput;
void* qlnResourceModule = const_cast<QlnString*>(QlnStringTable().data());

CQLNdebugOutput::CQLNdebugOutput() : lines(1), lock(&ownLock_) {}
CQLNdebugOutput::~CQLNdebugOutput() {
    if (logFile)
        std::fclose(logFile);
}

HostConfig& QlnConfig() {
    static HostConfig config;
    return config;
}

std::wstring QlnSectionName(CQLNapplication*, const wchar_t* name) {
    const std::wstring section = name ? QlnConfig().sectionPrefix + name : std::wstring();
    HostEvent event{HostEventKind::SectionName};
    event.text = text(name);
    event.detail = section;
    record(std::move(event));
    return section;
}

void QlnRegisterUserSetting(const wchar_t* section, const wchar_t* key, int kind, int userWritable,
                            int userScoped, const wchar_t* userSection, const wchar_t* userKey) {
    HostEvent event{HostEventKind::UserSetting};
    event.text = text(section);
    event.detail = text(key);
    event.more = {text(userSection), text(userKey)};
    event.ints = {kind, userWritable, userScoped};
    record(std::move(event));
}

std::wstring QlnVersionText() {
    HostEvent event{HostEventKind::VersionText};
    event.detail = QlnConfig().versionText;
    record(event);
    return event.detail;
}

void QlnMachineInitComplete(CQLNapplication* app) {
    if (app)
        app->startupState = 0;
    record(HostEvent{HostEventKind::MachineInitComplete});
}

void QlnStatusMessage(CQLNapplication*, unsigned resourceId, int extra1, int extra2) {
    statusMessage(resourceId, QlnLoadString(resourceId), extra1, extra2);
}

void QlnStatusMessage(CQLNapplication*, const wchar_t* message, int extra1, int extra2) {
    statusMessage(0, text(message), extra1, extra2);
}

int QlnMessageBox(CQLNhostInterface*, unsigned resourceId, unsigned style, unsigned helpId) {
    return messageBox(resourceId, QlnLoadString(resourceId), style, helpId);
}

int QlnMessageBox(CQLNhostInterface*, const wchar_t* message, unsigned style, unsigned helpId) {
    return messageBox(0, text(message), style, helpId);
}

void QlnUpdateReadout(const double xyz[3], CQLNapplication*, double rotaryAngle, int mode, int axes,
                      int refresh, int tipIndex, double probeA, double probeB, double probeC,
                      int flags, double scanValue) {
    HostEvent event{HostEventKind::Readout};
    if (xyz)
        event.values = {xyz[0], xyz[1], xyz[2], rotaryAngle, probeA, probeB, probeC, scanValue};
    event.ints = {mode, axes, refresh, tipIndex, flags};
    record(std::move(event));
}

void QlnManualHit(CQLNapplication*, const double xyz[3], const double ijk[3],
                  const double headAngles[3], double rotaryAngle, int count, int tipIndex,
                  int flags, int feature, double marker) {
    static const double kZero[3] = {0.0, 0.0, 0.0};
    const double* p = xyz ? xyz : kZero;
    const double* v = ijk ? ijk : kZero;
    const double* h = headAngles ? headAngles : kZero;
    HostEvent event{HostEventKind::ManualHit};
    event.values = {p[0], p[1], p[2], v[0], v[1], v[2], h[0], h[1], h[2], rotaryAngle, marker};
    event.ints = {count, tipIndex, flags, feature};
    record(std::move(event));
}

void QlnPreparePoint(CQLNapplication*, double xyz[3], const CQLNframe& frame, int mask, int flags) {
    if (!xyz)
        return;
    HostEvent event{HostEventKind::PreparePoint};
    event.values = {xyz[0], xyz[1], xyz[2]};
    if (mask != 0) {
        for (int axis = 0; axis < 3; ++axis)
            xyz[axis] -= frame.origin[axis];
    }
    event.values.insert(event.values.end(), xyz, xyz + 3);
    event.ints = {mask, flags};
    record(std::move(event));
}

int QlnAutoHitTest(CQLNhostInterface*, const double current[3], double ijkOut[3], QLNpoint previous,
                   int* beepInterval) {
    const HostConfig& config = QlnConfig();
    static const double kZero[3] = {0.0, 0.0, 0.0};
    const double* cur = current ? current : kZero;
    const double d[3] = {cur[0] - previous.x, cur[1] - previous.y, cur[2] - previous.z};
    const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    double ijk[3] = {0.0, 0.0, 1.0};
    if (distance > 0.0) {
        for (int axis = 0; axis < 3; ++axis)
            ijk[axis] = d[axis] / distance;
    }
    int answer = 0;
    if (config.autoHitAnswer)
        answer = *config.autoHitAnswer;
    else if (config.autoHitDistance && distance >= *config.autoHitDistance)
        answer = 1;
    if (ijkOut) {
        for (int axis = 0; axis < 3; ++axis)
            ijkOut[axis] = ijk[axis];
    }
    if (beepInterval && config.autoHitBeepInterval >= 0)
        *beepInterval = config.autoHitBeepInterval;
    HostEvent event{HostEventKind::AutoHitTest};
    event.values = {cur[0],     cur[1], cur[2], previous.x, previous.y,
                    previous.z, ijk[0], ijk[1], ijk[2]};
    event.result = answer;
    record(std::move(event));
    return answer;
}

CQLNtip_data* QlnActiveTip(CQLNhostInterface*) {
    return QlnConfig().activeTip;
}

void QlnTipOffset(const CQLNtip_data* tip, double xyz[3]) {
    if (!xyz)
        return;
    xyz[0] = xyz[1] = xyz[2] = 0.0;
    if (tip)
        tip->tipOffset(xyz);
}

std::wstring QlnTipName(const CQLNtip_data* tip) {
    return tip ? tip->tipName() : std::wstring(L"NONE");
}

CQLNmachine* QlnMachineRecord(CQLNhostInterface* iface, int machine) {
    if (!iface || machine < 1 || machine > CQLNhostInterface::kMachineCount)
        return nullptr;
    return &iface->machines[machine - 1];
}

CQLNmachine* QlnCurrentMachine(CQLNhostInterface* iface, int) {
    return iface ? QlnMachineRecord(iface, iface->currentMachine) : nullptr;
}

int QlnHasRotaryTable(const CQLNmachine* record) {
    return record && record->rotaryTablePresent ? 1 : 0;
}

int QlnQueryOption(int option) {
    const auto& options = QlnConfig().options;
    const auto found = options.find(option);
    HostEvent event{HostEventKind::OptionQuery};
    event.id = option;
    event.result = found == options.end() ? 0 : found->second;
    record(event);
    return event.result;
}

int QlnQueryOption() {
    HostEvent event{HostEventKind::OptionQuery};
    event.id = -1;
    event.result = QlnConfig().fallbackPermission;
    record(event);
    return event.result;
}

void QlnKillTimer(CQLNapplication*, unsigned timerId) {
    HostEvent event{HostEventKind::KillTimer};
    event.id = int(timerId);
    record(std::move(event));
}

void QlnSetResourceModule(void*) {
    record(HostEvent{HostEventKind::ResourceModule});
}

std::wstring QlnLoadString(unsigned resourceId) {
    for (const QlnString& entry : QlnStringTable()) {
        if (entry.id == resourceId)
            return entry.text;
    }
    return {};
}
