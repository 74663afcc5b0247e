#include "driver/comm/setup/CDAxis.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "driver/comm/setup/SetupControls.h"
#include "driver/comm/setup/SetupTexts.h"
#include "host/CQLNapplication.h"

using namespace setuptext;

namespace {

constexpr int kAxisCodeCount = int(std::size(kAxisCodeEntries));

}  // namespace

bool AxisCodesAreValid(const AxisCodes& codes) {
    for (int code : codes) {
        if (code < 0 || code >= kAxisCodeCount)
            return false;
    }
    const int x = codes[0] / 2;
    const int y = codes[1] / 2;
    const int z = codes[2] / 2;
    return x != y && y != z && x != z;
}

CDAxis::CDAxis(DriverAxisHooks hooks, CQLNapplication* hostApp, QWidget* parent)
    : SetupPage(parent), hooks_(std::move(hooks)), hostApp_(hostApp) {
    setObjectName(QString::number(kAxisTemplate));
    const int ids[] = {kAxisXList, kAxisYList, kAxisZList};
    const char* labels[] = {kAxisXLabel, kAxisYLabel, kAxisZLabel};
    auto* form = new QFormLayout;
    for (int axis = 0; axis < 3; ++axis) {
        lists_[axis] = MakeControl<QComboBox>(ids[axis], this);
        form->addRow(QString::fromLatin1(labels[axis]), lists_[axis]);
        connect(lists_[axis], &QComboBox::currentIndexChanged, this, [this] { UpdateModified(); });
    }
    auto* hint = new QLabel(QString::fromLatin1(kAxisHint), this);
    hint->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addStretch();
}

QString CDAxis::Title() const {
    return QString::fromLatin1(kAxisTabTitle);
}

AxisCodes CDAxis::DriverCodes() const {
    return hooks_.codes ? hooks_.codes() : AxisCodes{0, 2, 4};
}

AxisCodes CDAxis::SelectedCodes() const {
    return {lists_[0]->currentIndex(), lists_[1]->currentIndex(), lists_[2]->currentIndex()};
}

void CDAxis::OnInitDialog() {
    loading_ = true;
    const AxisCodes codes = DriverCodes();
    for (int axis = 0; axis < 3; ++axis) {
        for (const char* entry : kAxisCodeEntries)
            lists_[axis]->addItem(QString::fromLatin1(entry));
        // A code outside 0..5 shows as no selection: the operator has to choose one.
        lists_[axis]->setCurrentIndex(codes[axis]);
    }
    loading_ = false;
    UpdateModified();
}

void CDAxis::UpdateModified() {
    if (loading_ || !IsInitialized())
        return;
    SetModified(SelectedCodes() != DriverCodes());
}

bool CDAxis::CheckCodes() {
    if (AxisCodesAreValid(SelectedCodes()))
        return true;
    QlnMessageBox(hostApp_ ? hostApp_->hostIface : nullptr, kMsgInvalidAxes, kQlnBoxOk);
    return false;
}

bool CDAxis::OnKillActive() {
    return CheckCodes();
}

bool CDAxis::OnApply() {
    if (!CheckCodes())
        return false;
    if (hooks_.setCodes)
        hooks_.setCodes(SelectedCodes());
    SetModified(false);
    if (hooks_.initialize)
        hooks_.initialize();
    return true;
}
