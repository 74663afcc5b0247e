#include "server/app/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ProductVersion.h"
#include "server/app/ApplicationIcon.h"
#include "server/app/VexServerStrings.h"

namespace {

// The product version in the box's own style: four numbers separated by commas
// ("1,0,20,0" for 1.0.20).
QString AboutVersionText() {
    QStringList parts = QString::fromLatin1(kProductVersion).split(u'.');
    while (parts.size() < 4)
        parts << QStringLiteral("0");
    return parts.join(u',');
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kAboutTitle));
    setWindowIcon(VexServerIcon());
    auto* icon = new QLabel(this);
    icon->setPixmap(VexServerIcon().pixmap(32, 32));
    auto* name = new QLabel(QStringLiteral("Vexline"), this);
    version_ = new QLabel(QStringLiteral("Version 1.0"), this);
    version_->setObjectName(QStringLiteral("1019"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(version_);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);

    // The label's design-time text is replaced when the box opens.
    version_->setText(QStringLiteral("Version: %1").arg(AboutVersionText()));
}

QString CAboutDlg::versionText() const {
    return version_->text();
}
