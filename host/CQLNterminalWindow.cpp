#include "host/CQLNterminalWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>
#include <chrono>
#include <mutex>

#include "host/CQLNdebugOutput.h"
#include "host/QlnServices.h"

CQLNterminalWindow::CQLNterminalWindow(CQLNdebugOutput* output, bool topmost)
    : QAbstractScrollArea(nullptr), output_(output) {
    Qt::WindowFlags windowFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                  Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
    if (topmost)
        windowFlags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(windowFlags);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qMax(6, output_->lineHeight - 3));
    setFont(font);
    viewport()->setAutoFillBackground(true);
    QPalette colours = viewport()->palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    viewport()->setPalette(colours);
    resize(640, 320);
}

QSize CQLNterminalWindow::clientSize() {
    if (!isVisible()) {
        // The scroll area lays out its viewport on a resize event; a hidden window has not had
        // one yet, so deliver it now to get the real client size.
        QResizeEvent pending(size(), size());
        QCoreApplication::sendEvent(this, &pending);
    }
    return viewport()->size();
}

void CQLNterminalWindow::applyScrollState() {
    applying_ = true;
    verticalScrollBar()->setRange(0, output_->vScrollMax);
    verticalScrollBar()->setPageStep(qMax(1, output_->clientHeight / qMax(1, output_->lineHeight)));
    verticalScrollBar()->setValue(output_->vScrollPos);
    horizontalScrollBar()->setRange(0, output_->hScrollMax);
    horizontalScrollBar()->setValue(output_->hScrollPos);
    applying_ = false;
    viewport()->update();
}

void CQLNterminalWindow::paintEvent(QPaintEvent*) {
    std::unique_lock<std::recursive_timed_mutex> guard;
    if (output_->lock) {
        guard = std::unique_lock(*output_->lock, std::chrono::milliseconds(50));
        if (!guard.owns_lock()) {
            QTimer::singleShot(50, viewport(), qOverload<>(&QWidget::update));
            return;
        }
    }
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(Qt::black);
    const int lineHeight = qMax(1, output_->lineHeight);
    const int ascent = painter.fontMetrics().ascent();
    const int left = 2 - output_->hScrollPos * qMax(1, output_->charWidth);
    const int visible = viewport()->height() / lineHeight + 1;
    const int first = qMax(0, output_->vScrollPos);
    for (int row = 0; row < visible; ++row) {
        const size_t index = size_t(first + row);
        if (index >= output_->lines.size())
            break;
        painter.drawText(left, row * lineHeight + ascent,
                         QString::fromStdWString(output_->lines[index]));
    }
}

void CQLNterminalWindow::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (!resizeHandler)
        return;
    int kind = Restored;
    if (windowState() & Qt::WindowMinimized)
        kind = Minimized;
    else if (windowState() & Qt::WindowMaximized)
        kind = Maximized;
    resizeHandler(kind, viewport()->width(), viewport()->height());
}

void CQLNterminalWindow::scrollContentsBy(int, int) {
    if (applying_)
        return;
    // The operator moved a scroll bar: paint from the new position.
    output_->vScrollPos = verticalScrollBar()->value();
    output_->hScrollPos = horizontalScrollBar()->value();
    viewport()->update();
}

void CQLNterminalWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
    if (output_->lock) {
        std::unique_lock guard(*output_->lock, std::chrono::milliseconds(5000));
        if (guard.owns_lock())
            output_->windowState = -1;
    }
}

CQLNterminalWindow* QlnCreateTerminalWindow(CQLNdebugOutput* output, bool topmost) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return nullptr;
    return new CQLNterminalWindow(output, topmost);
}

void QlnDestroyTerminalWindow() {
    CQLNterminalWindow* window = nullptr;
    if (qlnDebugOutput.lock) {
        std::unique_lock guard(*qlnDebugOutput.lock, std::chrono::milliseconds(5000));
        if (!guard.owns_lock())
            return;
        window = qlnDebugOutput.window;
        qlnDebugOutput.window = nullptr;
        qlnDebugOutput.windowState = 0;
    }
    delete window;
}
