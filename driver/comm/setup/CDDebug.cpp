#include "driver/comm/setup/CDDebug.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "driver/comm/log/DebugLog.h"
#include "driver/comm/log/LogLine.h"
#include "driver/comm/setup/SetupControls.h"
#include "driver/comm/setup/SetupTexts.h"
#include "driver/core/settings/DriverSettings.h"
#include "host/CQLNapplication.h"

using namespace setuptext;

namespace {

bool SameText(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

int SelectedOr(const QComboBox* list, int current) {
    const int index = list->currentIndex();
    return index < 0 ? current : index;
}

CDDebug::Values SettingsValues() {
    const DriverSettings& s = driverSettings;
    CDDebug::Values values;
    values.log = s.DebugLog;
    values.file = QString::fromStdWString(s.DebugFile);
    values.window = s.DebugWindow;
    values.title = QString::fromStdWString(s.DebugTitle);
    values.posReport = s.DebugPosReport;
    values.cmmLevel = s.DebugCMM;
    values.cpuLevel = s.DebugCPU;
    values.logReset = s.DebugLogReset;
    return values;
}

}  // namespace

bool CDDebug::Values::operator==(const Values& other) const {
    return log == other.log && SameText(file, other.file) && window == other.window &&
           SameText(title, other.title) && posReport == other.posReport &&
           cmmLevel == other.cmmLevel && cpuLevel == other.cpuLevel && logReset == other.logReset;
}

CDDebug::CDDebug(DebugLog& log, CQLNapplication* hostApp, QWidget* parent)
    : SetupPage(parent), log_(log), hostApp_(hostApp) {
    setObjectName(QString::number(kDebugTemplate));
    logCheck_ = MakeControl<QCheckBox>(kDebugLogCheck, this);
    logCheck_->setText(QString::fromLatin1(kDebugLogText));
    fileText_ = MakeControl<QLineEdit>(kDebugFileText, this);
    windowCheck_ = MakeControl<QCheckBox>(kDebugWindowCheck, this);
    windowCheck_->setText(QString::fromLatin1(kDebugWindowText));
    titleText_ = MakeControl<QLineEdit>(kDebugTitleText, this);
    posReportList_ = MakeControl<QComboBox>(kPosReportList, this);
    cmmList_ = MakeControl<QComboBox>(kCmmLevelList, this);
    cpuList_ = MakeControl<QComboBox>(kCpuLevelList, this);
    cmmLabel_ = MakeControl<QLabel>(kCmmLevelLabel, this);
    cmmLabel_->setText(QString::fromLatin1(kCmmLevelText));
    cpuLabel_ = MakeControl<QLabel>(kCpuLevelLabel, this);
    cpuLabel_->setText(QString::fromLatin1(kCpuLevelText));
    logResetCheck_ = MakeControl<QCheckBox>(kLogResetCheck, this);
    logResetCheck_->setText(QString::fromLatin1(kLogResetText));

    auto* form = new QFormLayout;
    form->addRow(logCheck_);
    form->addRow(QString::fromLatin1(kDebugFileLabel), fileText_);
    form->addRow(windowCheck_);
    form->addRow(QString::fromLatin1(kDebugTitleLabel), titleText_);
    form->addRow(QString::fromLatin1(kPosReportLabel), posReportList_);
    form->addRow(cmmLabel_, cmmList_);
    form->addRow(cpuLabel_, cpuList_);
    form->addRow(logResetCheck_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();

    for (QCheckBox* check : {logCheck_, windowCheck_, logResetCheck_})
        connect(check, &QCheckBox::toggled, this, [this] { UpdateModified(); });
    for (QLineEdit* text : {fileText_, titleText_})
        connect(text, &QLineEdit::textChanged, this, [this] { UpdateModified(); });
    for (QComboBox* list : {posReportList_, cmmList_, cpuList_})
        connect(list, &QComboBox::currentIndexChanged, this, [this] { UpdateModified(); });
}

QString CDDebug::Title() const {
    return QString::fromLatin1(kDebugTabTitle);
}

void CDDebug::OnInitDialog() {
    loading_ = true;
    for (QComboBox* list : {posReportList_, cmmList_, cpuList_}) {
        list->addItem(HostString(kFirstListEntry));
        for (unsigned id : kLevelEntries)
            list->addItem(HostString(id));
        list->setCurrentIndex(0);
    }
    loading_ = false;
    applied_ = SettingsValues();
    LoadControls(applied_);
}

void CDDebug::OnShown() {
    for (QWidget* widget : {static_cast<QWidget*>(cpuList_), static_cast<QWidget*>(cmmList_),
                            static_cast<QWidget*>(cpuLabel_), static_cast<QWidget*>(cmmLabel_)})
        widget->setVisible(showLevels_);
}

void CDDebug::LoadControls(const Values& values) {
    loading_ = true;
    logCheck_->setChecked(values.log);
    fileText_->setText(values.file);
    windowCheck_->setChecked(values.window);
    titleText_->setText(values.title);
    // A stored level the lists do not offer shows as no selection and is kept as it is.
    posReportList_->setCurrentIndex(values.posReport);
    cmmList_->setCurrentIndex(values.cmmLevel);
    cpuList_->setCurrentIndex(values.cpuLevel);
    logResetCheck_->setChecked(values.logReset);
    loading_ = false;
    UpdateModified();
}

CDDebug::Values CDDebug::ControlValues() const {
    const DriverSettings& s = driverSettings;
    Values values;
    values.log = logCheck_->isChecked();
    values.file = fileText_->text();
    values.window = windowCheck_->isChecked();
    values.title = titleText_->text();
    values.posReport = SelectedOr(posReportList_, s.DebugPosReport);
    values.cmmLevel = SelectedOr(cmmList_, s.DebugCMM);
    values.cpuLevel = SelectedOr(cpuList_, s.DebugCPU);
    values.logReset = logResetCheck_->isChecked();
    return values;
}

void CDDebug::UpdateModified() {
    if (loading_ || !IsInitialized())
        return;
    SetModified(!(ControlValues() == applied_));
}

bool CDDebug::OnApply() {
    DriverSettings& s = driverSettings;
    const Values values = ControlValues();
    const std::wstring file = values.file.toStdWString();
    const std::wstring title = values.title.toStdWString();

    if (values.log && !s.DebugLog) {
        OpenDriverLogFile(log_, file, s.DebugLogMaxSize, hostApp_);
    } else if (!values.log && s.DebugLog) {
        log_.CloseLogFile();
    } else if (values.log && !SameText(values.file, QString::fromStdWString(s.DebugFile))) {
        log_.CloseLogFile();
        OpenDriverLogFile(log_, file, s.DebugLogMaxSize, hostApp_);
    }

    // A new title alone leaves an open window as it is.
    if (values.window && !s.DebugWindow)
        log_.ShowTerminal(title.c_str(), true, 0, 0);
    else if (!values.window && s.DebugWindow)
        log_.HideTerminal();

    s.DebugLog = values.log;
    s.DebugFile = file;
    s.DebugWindow = values.window;
    s.DebugTitle = title;
    s.DebugPosReport = std::uint8_t(values.posReport);
    s.DebugCMM = std::uint8_t(values.cmmLevel);
    s.DebugCPU = std::uint8_t(values.cpuLevel);
    s.DebugLogReset = values.logReset;
    if (CQLNmachine* record = QlnMachineRecord(hostApp_ ? hostApp_->hostIface : nullptr, 1))
        record->debugLogReset = values.logReset ? 1 : 0;

    applied_ = values;
    SetModified(false);
    return true;
}
