#include "server/app/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/app/ApplicationIcon.h"
#include "server/app/VexServerStrings.h"

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
    version_->setText(QStringLiteral("Version: %1").arg(QString::fromLatin1(kVersionText)));
}

QString CAboutDlg::versionText() const {
    return version_->text();
}
