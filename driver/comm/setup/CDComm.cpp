#include "driver/comm/setup/CDComm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "driver/comm/channel/SerialPort.h"
#include "driver/comm/setup/CommSettingsText.h"
#include "driver/comm/setup/SetupControls.h"
#include "driver/comm/setup/SetupTexts.h"
#include "host/CQLNapplication.h"

using namespace setuptext;

namespace {

// The value a list's selection stands for, or the variable's own value without a selection.
int SelectedOr(const QComboBox* list, int offset, int current) {
    const int index = list->currentIndex();
    return index < 0 ? current : index + offset;
}

}  // namespace

CDComm::CDComm(CQLNapplication* hostApp, QWidget* parent) : SetupPage(parent), hostApp_(hostApp) {
    setObjectName(QString::number(kCommTemplate));
    portList_ = MakeControl<QComboBox>(kPortList, this);
    baudList_ = MakeControl<QComboBox>(kBaudList, this);
    parityList_ = MakeControl<QComboBox>(kParityList, this);
    dataBitsList_ = MakeControl<QComboBox>(kDataBitsList, this);
    stopList_ = MakeControl<QComboBox>(kStopBitsList, this);
    summary_ = MakeControl<QLineEdit>(kCommSummary, this);
    summary_->setReadOnly(true);
    link_ = new QLineEdit(this);
    link_->setObjectName(QStringLiteral("link"));
    link_->setReadOnly(true);
    linkNote_ = new QLabel(QString::fromLatin1(kTcpLinkNote), this);
    linkNote_->setWordWrap(true);

    // The entries the page's layout brings; OnInitDialog adds the rest.
    for (int port = 1; port <= kListedPorts; ++port)
        portList_->addItem(QString::fromLatin1(kPortEntryFormat).arg(port));
    for (const char* entry : kDataBitsEntries)
        dataBitsList_->addItem(QString::fromLatin1(entry));
    for (const char* entry : kStopBitsEntries)
        stopList_->addItem(QString::fromLatin1(entry));
    // The baud rate may be typed as well as chosen, in digits only.
    baudList_->setEditable(true);
    baudList_->setInsertPolicy(QComboBox::NoInsert);
    baudList_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,7}")), this));

    auto* form = form_ = new QFormLayout;
    form->addRow(QString::fromLatin1(kLinkLabel), link_);
    form->addRow(linkNote_);
    form->addRow(QString::fromLatin1(kPortLabel), portList_);
    form->addRow(QString::fromLatin1(kBaudLabel), baudList_);
    form->addRow(QString::fromLatin1(kParityLabel), parityList_);
    form->addRow(QString::fromLatin1(kDataBitsLabel), dataBitsList_);
    form->addRow(QString::fromLatin1(kStopBitsLabel), stopList_);
    form->addRow(QString::fromLatin1(kSummaryLabel), summary_);
    auto* nextStart = new QLabel(QString::fromLatin1(kNextStartNote), this);
    nextStart->setWordWrap(true);
    form->addRow(nextStart);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    // Shown for a TCP machine only.
    form->setRowVisible(link_, false);
    form->setRowVisible(linkNote_, false);

    for (QComboBox* list : {portList_, parityList_, dataBitsList_, stopList_})
        connect(list, &QComboBox::currentIndexChanged, this, [this] { UpdateModified(); });
    connect(baudList_, &QComboBox::currentTextChanged, this, [this] { UpdateModified(); });
}

QString CDComm::Title() const {
    return HostString(kCommTabTitle);
}

void CDComm::SetCommValues(bool editable, int* port, int* baud, int* parityIndex, int* dataBits,
                           int* stopIndex) {
    if (!port || !baud || !parityIndex || !dataBits || !stopIndex || *port == -1)
        return;
    editable_ = editable;
    port_ = port;
    baud_ = baud;
    parity_ = parityIndex;
    dataBits_ = dataBits;
    stop_ = stopIndex;
    summary_->setText(
        QString::fromStdWString(FormatCommSettings(*port_, *baud_, *parity_, *dataBits_, *stop_)));
    if (IsInitialized()) {
        LoadControls();
        UpdateEnabling();
        UpdateModified();
    }
}

void CDComm::ShowTcpLink(const QString& address, int port) {
    tcp_ = true;
    link_->setText(QString::fromLatin1(kTcpLinkFormat).arg(address).arg(port));
    form_->setRowVisible(link_, true);
    form_->setRowVisible(linkNote_, true);
    UpdateEnabling();
}

void CDComm::OnInitDialog() {
    loading_ = true;
    parityList_->clear();
    parityList_->addItem(HostString(kFirstListEntry));
    for (unsigned id : kParityEntries)
        parityList_->addItem(HostString(id));
    parityList_->setCurrentIndex(0);
    portList_->insertItem(0, HostString(kFirstListEntry));
    portList_->setCurrentIndex(0);
    baudList_->clear();
    for (const char* rate : kBaudRates)
        baudList_->addItem(QString::fromLatin1(rate));
    loading_ = false;
    LoadControls();
}

void CDComm::ShowPort(int port) {
    // Index n is port n; a port beyond the listed ones gets its entries rather than no
    // selection, which would lose the value.
    while (port >= portList_->count() && port <= kHighestPort && portList_->count() > 0)
        portList_->addItem(QString::fromLatin1(kPortEntryFormat).arg(portList_->count()));
    portList_->setCurrentIndex(port);
}

void CDComm::LoadControls() {
    if (!port_)
        return;
    loading_ = true;
    ShowPort(*port_);
    baudList_->setEditText(QString::number(*baud_));
    parityList_->setCurrentIndex(*parity_);
    dataBitsList_->setCurrentIndex(*dataBits_ - kFirstDataBits);
    stopList_->setCurrentIndex(*stop_);
    loading_ = false;
}

void CDComm::UpdateModified() {
    if (loading_ || !port_ || !IsInitialized())
        return;
    const bool modified = SelectedOr(portList_, 0, *port_) != *port_ ||
                          BaudFromText(baudList_->currentText().toStdWString()) != *baud_ ||
                          SelectedOr(parityList_, 0, *parity_) != *parity_ ||
                          SelectedOr(dataBitsList_, kFirstDataBits, *dataBits_) != *dataBits_ ||
                          SelectedOr(stopList_, 0, *stop_) != *stop_;
    SetModified(modified);
}

void CDComm::UpdateEnabling() {
    for (QComboBox* list : {baudList_, parityList_, dataBitsList_, stopList_})
        list->setEnabled(editable_ && !tcp_);
    portList_->setEnabled(!tcp_);
    summary_->setEnabled(!tcp_);
}

bool CDComm::CheckValues() {
    // A TCP machine's page changes nothing, so its serial values are not judged.
    if (!port_ || tcp_)
        return true;
    QString problem;
    if (portList_->currentIndex() == 0)
        problem = QString::fromLatin1(kNoPortText);
    else if (editable_ &&
             !SerialPort::SupportsBaudRate(BaudFromText(baudList_->currentText().toStdWString())))
        problem = QString::fromLatin1(kBadBaudText).arg(baudList_->currentText());
    if (problem.isEmpty())
        return true;
    QlnMessageBox(hostApp_ ? hostApp_->hostIface : nullptr, problem.toStdWString().c_str(),
                  kQlnBoxOk);
    return false;
}

bool CDComm::OnKillActive() {
    return CheckValues();
}

void CDComm::OnShown() {
    UpdateEnabling();
    UpdateModified();
}

void CDComm::OnHidden() {
    SetModified(false);
}

bool CDComm::OnApply() {
    if (!CheckValues())
        return false;
    if (port_) {
        *port_ = SelectedOr(portList_, 0, *port_);
        *baud_ = BaudFromText(baudList_->currentText().toStdWString());
        *parity_ = SelectedOr(parityList_, 0, *parity_);
        *dataBits_ = SelectedOr(dataBitsList_, kFirstDataBits, *dataBits_);
        *stop_ = SelectedOr(stopList_, 0, *stop_);
        summary_->setText(QString::fromStdWString(
            FormatCommSettings(*port_, *baud_, *parity_, *dataBits_, *stop_)));
    }
    SetModified(false);
    return true;
}
