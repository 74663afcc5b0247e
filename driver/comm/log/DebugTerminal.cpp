// The terminal-window half of DebugLog: showing, hiding, layout and the saved window size.
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "driver/comm/log/DebugLog.h"
#include "driver/comm/log/LogLocks.h"
#include "driver/comm/log/WideFormat.h"
#include "host/CQLNterminalWindow.h"
#include "setvault/Setvault.h"

namespace {

bool equalsIgnoringCase(const std::wstring& a, const wchar_t* b) {
    const size_t length = std::wcslen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

// Titles whose size is stored under the title itself; any other title shares one entry.
bool hasOwnSizeKey(const std::wstring& title) {
    return equalsIgnoringCase(title, L"Terminal Window") ||
           equalsIgnoringCase(title, L"Interface") ||
           equalsIgnoringCase(title, L"Controller Terminal");
}

std::wstring sizeKey(const std::wstring& title) {
    return hasOwnSizeKey(title) ? title : std::wstring(L"DebugWindowSize");
}

}  // namespace

bool DebugLog::OnGuiThread() const {
    return out_.window && QThread::currentThread() == out_.window->thread();
}

void DebugLog::WindowResized(CQLNdebugOutput* output, int kind, int width, int height) {
    DebugLog log(*output);
    ObjectLock locked(output->lock);
    if (locked.owned())
        log.UpdateLayout(kind, width, height);
}

void DebugLog::UpdateLayout(int kind, int clientWidth, int clientHeight) {
    CQLNterminalWindow* window = out_.window;
    if (!window)
        return;
    if (out_.maxTextWidth > 0 && clientWidth > out_.maxTextWidth) {
        // Never wider than the longest line can be. The window is resized once the current
        // resize is complete (a nested one would be undone by it); that resize comes back here.
        const int width = out_.maxTextWidth + std::max(0, out_.frameExtraWidth);
        QMetaObject::invokeMethod(
            window, [window, width] { window->resize(width, window->height()); },
            Qt::QueuedConnection);
        return;
    }
    if (out_.windowState == 1) {
        out_.clientWidth = clientWidth;
        out_.clientHeight = clientHeight;
        const int lineHeight = std::max(1, out_.lineHeight);
        const int charWidth = std::max(1, out_.charWidth);
        out_.vScrollMax = std::max(0, int(out_.lines.size()) - clientHeight / lineHeight);
        out_.hScrollMax = std::max(0, (out_.maxTextWidth - clientWidth) / charWidth);
        out_.vScrollPos = std::clamp(out_.vScrollPos, 0, out_.vScrollMax);
        out_.hScrollPos = std::clamp(out_.hScrollPos, 0, out_.hScrollMax);
        window->applyScrollState();
    }
    if (kind != CQLNterminalWindow::Minimized && kind != CQLNterminalWindow::Maximized)
        SaveWindowSize();
}

void DebugLog::RefreshWindow() {
    if (!out_.window)
        return;
    if (!OnGuiThread()) {
        CQLNdebugOutput* output = &out_;
        QMetaObject::invokeMethod(
            out_.window,
            [output] {
                DebugLog log(*output);
                ObjectLock locked(output->lock);
                if (locked.owned())
                    log.RefreshWindow();
            },
            Qt::QueuedConnection);
        return;
    }
    const QSize client = out_.window->clientSize();
    UpdateLayout(CQLNterminalWindow::Restored, client.width(), client.height());
    SaveWindowSize();
}

void DebugLog::SaveWindowSize() {
    CQLNterminalWindow* window = out_.window;
    if (!window)
        return;
    // The position is the frame's, the size the window's own, so that restoring gives the
    // same window again.
    const QPoint topLeft = window->pos();
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect();
    const int screenRight = desktop.x() + desktop.width();
    const int screenBottom = desktop.y() + desktop.height();
    // A window dragged partly off the top or left (or beyond the far edges) keeps the last
    // size that was on screen.
    if (topLeft.x() < 0 || topLeft.y() < 0 || topLeft.x() >= screenRight ||
        topLeft.y() >= screenBottom)
        return;
    const std::wstring text =
        FormatWide(64, L"%d %d %d %d", topLeft.x(), topLeft.y(), topLeft.x() + window->width(),
                   topLeft.y() + window->height());
    if (hasOwnSizeKey(out_.title)) {
        WriteRegString(kWindowSection, out_.title.c_str(), text.c_str(), false);
    } else {
        WriteRegString(kWindowSection, L"DebugWindowName", out_.title.c_str(), false);
        WriteRegString(kWindowSection, L"DebugWindowSize", text.c_str(), false);
    }
}

int DebugLog::ShowTerminal(const wchar_t* title, bool topmost, int a, int b) {
    SettledObjectLock locked(out_.lock);
    if (!locked.owned())
        return 1;
    if (out_.windowState == 1)
        return 0;
    if (!out_.window) {
        out_.title = title ? title : L"";
        out_.topmost = topmost;
        const std::wstring saved = GetRegString(kWindowSection, sizeKey(out_.title).c_str(), L"");
        CQLNterminalWindow* window = QlnCreateTerminalWindow(&out_, topmost);
        if (!window)
            return 0;
        out_.window = window;
        window->resizeHandler = [output = &out_](int kind, int width, int height) {
            WindowResized(output, kind, width, height);
        };
        int left, top, right, bottom;
        if (std::swscanf(saved.c_str(), L"%d %d %d %d", &left, &top, &right, &bottom) == 4 &&
            right > left && bottom > top) {
            window->move(left, top);
            window->resize(right - left, bottom - top);
        }
        std::wstring caption = topmost ? L"-" + out_.title : out_.title;
        if (out_.suspended)
            caption += L"...";
        window->setWindowTitle(QString::fromStdWString(caption));
        const QSize client = window->clientSize();
        // Measured once: during a resize the client and window sizes may be out of step.
        out_.frameExtraWidth = window->width() - client.width();
        out_.clientWidth = client.width();
        out_.clientHeight = client.height();
        UpdateLayout(CQLNterminalWindow::Restored, client.width(), client.height());
    }
    out_.windowState = 1;
    out_.window->show();
    out_.showArgA = a;
    out_.showArgB = b;
    return 1;
}

void DebugLog::HideTerminal() {
    SettledObjectLock locked(out_.lock);
    if (!locked.owned())
        return;
    out_.suspended = false;
    out_.windowState = -1;
    out_.lines.clear();
    out_.lines.emplace_back();
    out_.vScrollPos = 0;
    if (out_.window)
        out_.window->hide();
}
