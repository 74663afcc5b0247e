#pragma once
// CTab: the setup sheet: a dialog with the pages communication (CDComm), axes (CDAxis)
// and debug output (CDDebug) on tabs, and the buttons OK, Cancel and Apply.
//
// The sheet owns its three pages as members. Changing tabs first asks the page being left
// (OnKillActive); a refusal keeps it. Apply asks the active page the same and then applies
// every page that has been shown; OK does the same and closes the sheet with Accepted;
// Cancel (or Esc, or closing the window) closes it with Rejected and undoes nothing that was
// applied. The Apply button is enabled while a page reports changes.
//
// Construct it, fill the communication page with Comm().SetCommValues, then exec() it.
// GUI thread only; the hooks, the debug log and hostApp must outlive the sheet.

#include <QDialog>

#include "driver/comm/setup/CDAxis.h"
#include "driver/comm/setup/CDComm.h"
#include "driver/comm/setup/CDDebug.h"

class QDialogButtonBox;
class QPushButton;
class QStackedWidget;
class QTabBar;

class CTab : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kPageCount = 3;

    // Caption from the host's string 1663; `selectPage` is shown first.
    CTab(DriverAxisHooks axisHooks, DebugLog& log, CQLNapplication* hostApp, QWidget* parent,
         int selectPage = 0);

    CDComm& Comm() { return comm_; }
    CDAxis& Axis() { return axis_; }
    CDDebug& Debug() { return debug_; }

    int ActivePage() const { return active_; }
    // Changes the page as a click on its tab does; false when the active page refused.
    bool SetActivePage(int index);

    QTabBar* Tabs() const { return tabs_; }
    QPushButton* OkButton() const;
    QPushButton* CancelButton() const;
    QPushButton* ApplyButton() const;

    // The buttons' actions. Apply returns false when a page refused.
    bool Apply();
    void Ok();

  private:
    SetupPage* Page(int index);
    void TabChanged(int index);
    void UpdateApplyButton();

    CDComm comm_;
    CDAxis axis_;
    CDDebug debug_;
    QTabBar* tabs_;
    QStackedWidget* stack_;
    QDialogButtonBox* buttons_;
    int active_ = 0;
};
