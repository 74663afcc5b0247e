#pragma once
// CDAxis: the axes page of the setup sheet: which machine axis feeds the host's X, Y and Z.
//
// Each list selects an axis code 0 to 5 (machine axis code / 2, reversed for an odd code).
// The codes belong to the driver core; the page reaches them only through DriverAxisHooks,
// which must stay callable while the page exists. The page cannot be left, and the sheet
// cannot apply, while two host axes share a machine axis or a list has no selection; the
// operator is told so with the host's message 6063. Apply hands the codes to the driver and
// runs its axis initialisation again. GUI thread only.

#include <array>
#include <functional>

#include "driver/comm/setup/SetupPage.h"

class QComboBox;
class CQLNapplication;

using AxisCodes = std::array<int, 3>;  // codes of host X, Y, Z

// What the axes page needs from the driver core. Empty functions: codes 0, 2, 4 and nothing
// to store or re-run.
struct DriverAxisHooks {
    std::function<AxisCodes()> codes;                // the driver's current codes
    std::function<void(const AxisCodes&)> setCodes;  // store new codes in the driver
    std::function<void()> initialize;                // re-run the axis initialisation
};

// True when every code lies in 0..5 and the three machine axes (code / 2) differ.
bool AxisCodesAreValid(const AxisCodes& codes);

class CDAxis : public SetupPage {
    Q_OBJECT

  public:
    // hostApp (not owned, may be null) is asked for the host interface of the message box.
    CDAxis(DriverAxisHooks hooks, CQLNapplication* hostApp, QWidget* parent = nullptr);

    QString Title() const override;

    bool OnKillActive() override;
    bool OnApply() override;

    // The codes the lists select (-1 for a list without a selection).
    AxisCodes SelectedCodes() const;

  protected:
    void OnInitDialog() override;

  private:
    AxisCodes DriverCodes() const;
    void UpdateModified();
    bool CheckCodes();

    DriverAxisHooks hooks_;
    CQLNapplication* hostApp_;
    std::array<QComboBox*, 3> lists_;
    bool loading_ = false;
};
