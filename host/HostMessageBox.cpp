#include "host/HostMessageBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

bool HostMessageBoxesAreInteractive() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

int HostShowModalBox(const std::wstring& text, unsigned style) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (style & 0xF) {
        case 1:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case 3:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case 4:
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
        default:
            break;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("QLNRUN"), QString::fromStdWString(text),
                    buttons);
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return 2;
        case QMessageBox::Yes:
            return 6;
        case QMessageBox::No:
            return 7;
        default:
            return 1;
    }
}
