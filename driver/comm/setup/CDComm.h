#pragma once
// CDComm: the communication page of the setup sheet: port, baud rate, parity, data bits
// and stop bits of the machine's serial line, with a one-line summary of them.
//
// The page does not own its values: SetCommValues hands it the addresses of the caller's
// five variables (CommSettingsText.h explains them), which must outlive the page; the page
// writes them only on Apply or OK. Until then the caller's variables are what the controls
// are compared with to tell whether the page is modified. GUI thread only.

#include <QString>

#include "driver/comm/setup/SetupPage.h"

class QComboBox;
class QLineEdit;

class CDComm : public SetupPage {
    Q_OBJECT

  public:
    explicit CDComm(QWidget* parent = nullptr);

    QString Title() const override;

    // Takes the caller's variables (unless the port variable holds -1, which leaves the
    // page as it is) and shows their values; `editable` enables the line settings.
    void SetCommValues(bool editable, int* port, int* baud, int* parityIndex, int* dataBits,
                       int* stopIndex);

    // Writes the controls into the caller's variables and shows the new summary. A list
    // without a selection (a value the list does not offer) leaves its variable unchanged.
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

    bool editable_ = false;
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
};
