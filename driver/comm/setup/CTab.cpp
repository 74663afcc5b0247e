#include "driver/comm/setup/CTab.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

#include "driver/comm/setup/SetupControls.h"
#include "driver/comm/setup/SetupTexts.h"

CTab::CTab(DriverAxisHooks axisHooks, DebugLog& log, CQLNapplication* hostApp, QWidget* parent,
           int selectPage)
    : QDialog(parent), comm_(hostApp), axis_(std::move(axisHooks), hostApp), debug_(log, hostApp) {
    setWindowTitle(HostString(setuptext::kSheetCaption));
    debug_.SetShowLevels(true);

    tabs_ = new QTabBar(this);
    tabs_->setDrawBase(true);
    stack_ = new QStackedWidget(this);
    for (SetupPage* page : {static_cast<SetupPage*>(&comm_), static_cast<SetupPage*>(&axis_),
                            static_cast<SetupPage*>(&debug_)}) {
        tabs_->addTab(page->Title());
        stack_->addWidget(page);
        connect(page, &SetupPage::modifiedChanged, this, &CTab::UpdateApplyButton);
    }
    active_ = selectPage >= 0 && selectPage < kPageCount ? selectPage : 0;
    tabs_->setCurrentIndex(active_);
    stack_->setCurrentIndex(active_);
    connect(tabs_, &QTabBar::currentChanged, this, &CTab::TabChanged);
    // Ctrl+Tab and Ctrl+Shift+Tab page through the tabs, as in any tabbed dialog.
    connect(new QShortcut(QKeySequence::NextChild, this), &QShortcut::activated, this,
            [this] { SetActivePage((active_ + 1) % kPageCount); });
    connect(new QShortcut(QKeySequence::PreviousChild, this), &QShortcut::activated, this,
            [this] { SetActivePage((active_ + kPageCount - 1) % kPageCount); });

    buttons_ = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    connect(OkButton(), &QPushButton::clicked, this, &CTab::Ok);
    connect(CancelButton(), &QPushButton::clicked, this, &QDialog::reject);
    connect(ApplyButton(), &QPushButton::clicked, this, &CTab::Apply);
    OkButton()->setDefault(true);
    ApplyButton()->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addWidget(tabs_);
    layout->addWidget(stack_, 1);
    layout->addSpacing(8);
    layout->addWidget(buttons_);
}

QPushButton* CTab::OkButton() const {
    return buttons_->button(QDialogButtonBox::Ok);
}

QPushButton* CTab::CancelButton() const {
    return buttons_->button(QDialogButtonBox::Cancel);
}

QPushButton* CTab::ApplyButton() const {
    return buttons_->button(QDialogButtonBox::Apply);
}

SetupPage* CTab::Page(int index) {
    switch (index) {
        case 0:
            return &comm_;
        case 1:
            return &axis_;
        default:
            return &debug_;
    }
}

bool CTab::SetActivePage(int index) {
    if (index < 0 || index >= kPageCount)
        return false;
    tabs_->setCurrentIndex(index);
    return active_ == index;
}

void CTab::TabChanged(int index) {
    if (index == active_ || index < 0)
        return;
    if (!Page(active_)->OnKillActive()) {
        // The tab bar has moved already; put it back without announcing it again.
        const QSignalBlocker blocker(tabs_);
        tabs_->setCurrentIndex(active_);
        return;
    }
    active_ = index;
    stack_->setCurrentIndex(index);
}

bool CTab::Apply() {
    if (!Page(active_)->OnKillActive())
        return false;
    for (int index = 0; index < kPageCount; ++index) {
        SetupPage* page = Page(index);
        if (page->IsInitialized() && !page->OnApply()) {
            const QSignalBlocker blocker(tabs_);
            tabs_->setCurrentIndex(index);
            active_ = index;
            stack_->setCurrentIndex(index);
            return false;
        }
    }
    UpdateApplyButton();
    return true;
}

void CTab::Ok() {
    if (Apply())
        accept();
}

void CTab::UpdateApplyButton() {
    bool modified = false;
    for (int index = 0; index < kPageCount; ++index)
        modified = modified || Page(index)->IsModified();
    ApplyButton()->setEnabled(modified);
}
