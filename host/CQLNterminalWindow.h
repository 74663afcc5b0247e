#pragma once
// The terminal window of the host's debug-output object: a top-level window with both
// scroll bars that paints the object's lines from its scroll positions in a fixed-pitch
// font, one line every `lineHeight` pixels.
//
// Created by QlnCreateTerminalWindow on the GUI thread (never directly by drivers, so a
// host without a GUI can refuse). Painting takes the object's lock briefly. Every resize is
// reported to `resizeHandler` (installed by whoever drives the object) with the resize kind
// and the new client (viewport) size. Closing the window only hides it.

#include <QAbstractScrollArea>
#include <functional>

class CQLNdebugOutput;

class CQLNterminalWindow : public QAbstractScrollArea {
    Q_OBJECT
  public:
    enum ResizeKind { Restored = 0, Minimized = 1, Maximized = 2 };

    CQLNterminalWindow(CQLNdebugOutput* output, bool topmost);

    // Client area size, valid also before the window was first shown.
    QSize clientSize();
    // Applies the object's scroll ranges and positions to the scroll bars and repaints.
    void applyScrollState();

    std::function<void(int kind, int width, int height)> resizeHandler;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    CQLNdebugOutput* output_;
    bool applying_ = false;
};

// Creates the terminal window for `output`, always-on-top when `topmost` is set. Returns null
// when the process has no QApplication (a host without a GUI).
CQLNterminalWindow* QlnCreateTerminalWindow(CQLNdebugOutput* output, bool topmost);

// Deletes the terminal window of qlnDebugOutput (QlnServices.h), if the driver made one. A
// host calls it before its QApplication goes; it gives up (leaving the window) when the
// debug-output lock stays taken for 5 s. GUI thread.
void QlnDestroyTerminalWindow();
