#pragma once
// CDDebug: the debug page of the setup sheet: the debug log file, the terminal window, the
// three report levels and whether the host resets its log with the machine.
//
// The page edits eight of the driver's settings (driverSettings, DriverSettings.h). Apply
// acts at once: it opens or closes the log file and shows or hides the terminal window
// through `log` as the settings change, stores the eight values in the live settings (they
// are written to the settings file when the sheet ends with OK) and copies DebugLogReset
// into the host's machine record. `log` and `hostApp` are not owned and must outlive the
// page; hostApp may be null. GUI thread only.

#include <QString>

#include "driver/comm/setup/SetupPage.h"

class CQLNapplication;
class DebugLog;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class CDDebug : public SetupPage {
    Q_OBJECT

  public:
    // The page's values. Texts compare without regard to letter case.
    struct Values {
        bool log = false;
        QString file;
        bool window = false;
        QString title;
        int posReport = 0;
        int cmmLevel = 0;
        int cpuLevel = 0;
        bool logReset = false;

        bool operator==(const Values& other) const;
    };

    CDDebug(DebugLog& log, CQLNapplication* hostApp, QWidget* parent = nullptr);

    QString Title() const override;

    // Shows the machine and driver level lists (the sheet sets it).
    void SetShowLevels(bool show) { showLevels_ = show; }

    bool OnApply() override;

    // The values the controls show; a list without a selection keeps the setting's value.
    Values ControlValues() const;

  protected:
    void OnInitDialog() override;
    void OnShown() override;

  private:
    void LoadControls(const Values& values);
    void UpdateModified();

    DebugLog& log_;
    CQLNapplication* hostApp_;
    bool showLevels_ = false;
    bool loading_ = false;
    Values applied_;  // as the page started or was last applied

    QCheckBox* logCheck_;
    QLineEdit* fileText_;
    QCheckBox* windowCheck_;
    QLineEdit* titleText_;
    QComboBox* posReportList_;
    QComboBox* cmmList_;
    QComboBox* cpuList_;
    QLabel* cmmLabel_;
    QLabel* cpuLabel_;
    QCheckBox* logResetCheck_;
};
