#pragma once
// CDComm: the communication page of the setup sheet: port, baud rate, parity, data bits
// and stop bits of the machine's serial line, with a one-line summary of them.
//
// The page does not own its values: SetCommValues hands it the addresses of the caller's
// five variables (CommSettingsText.h explains them), which must outlive the page; the page
// writes them only on Apply or OK. Until then the caller's variables are what the controls
// are compared with to tell whether the page is modified. Leaving or applying the page is
// refused, with a host message box saying why, while it shows no port ("None") or a baud
// rate the serial port cannot take. On a TCP machine (ShowTcpLink) the page shows the
// address and port in use and leaves the serial settings as they are. GUI thread only.

#include <QString>

#include "driver/comm/setup/SetupPage.h"

class CQLNapplication;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;

class CDComm : public SetupPage {
    Q_OBJECT

  public:
    // `hostApp` (not owned, may be null) is asked for its message boxes.
    explicit CDComm(CQLNapplication* hostApp = nullptr, QWidget* parent = nullptr);

    QString Title() const override;

    // Takes the caller's variables (unless the port variable holds -1, which leaves the
    // page as it is) and shows their values; `editable` enables the line settings.
    void SetCommValues(bool editable, int* port, int* baud, int* parityIndex, int* dataBits,
                       int* stopIndex);

    // The machine is reached over TCP at `address`, `port`: shown read only, with a note that
    // the serial settings apply to serial machines, which are then not edited.
    void ShowTcpLink(const QString& address, int port);

    // Writes the controls into the caller's variables and shows the new summary. A list
    // without a selection (a value the list does not offer) leaves its variable unchanged.
    bool OnKillActive() override;
    bool OnApply() override;

  protected:
    void OnInitDialog() override;
    void OnShown() override;
    void OnHidden() override;

  private:
    void LoadControls();
    void UpdateModified();
    void UpdateEnabling();
    void ShowPort(int port);
    bool CheckValues();

    bool editable_ = false;
    bool tcp_ = false;
    CQLNapplication* hostApp_;
    int* port_ = nullptr;
    int* baud_ = nullptr;
    int* parity_ = nullptr;
    int* dataBits_ = nullptr;
    int* stop_ = nullptr;
    bool loading_ = false;

    QComboBox* portList_;
    QComboBox* baudList_;
    QComboBox* parityList_;
    QComboBox* dataBitsList_;
    QComboBox* stopList_;
    QLineEdit* summary_;
    QLineEdit* link_;
    QLabel* linkNote_;
    QFormLayout* form_;
};
