#include "driver/comm/setup/SetupPage.h"

SetupPage::SetupPage(QWidget* parent) : QWidget(parent) {}

bool SetupPage::OnApply() {
    SetModified(false);
    return true;
}

void SetupPage::SetModified(bool modified) {
    if (modified_ == modified)
        return;
    modified_ = modified;
    emit modifiedChanged();
}

void SetupPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!initialized_) {
        initialized_ = true;
        OnInitDialog();
    }
    OnShown();
}

void SetupPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (initialized_)
        OnHidden();
}
