#include "server/app/MessageBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

bool MessageBoxesAreInteractive() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void ShowMessageBox(const QString& text) {
    std::fprintf(stderr, "VexServer: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    if (!MessageBoxesAreInteractive())
        return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vexline"), text, QMessageBox::Ok);
    box.exec();
}
