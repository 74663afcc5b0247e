#pragma once
// CVexServerApp: the VexServer program around the device, the protocol and the window.
//
// Runs the start-up sequence (settings, command line, device, library, card, listening
// socket, main window) and implements the application notifications of VexApp: the
// greeting and the indicator colours. It owns the device and the listening socket (through
// VexApp) and the main window while it runs. One object per process, created in main()
// after the QApplication; GUI thread only.
//
// Failure: InitInstance() returns the process exit status: 0 after the window ended
// normally (also on SIGTERM or SIGINT, which end it like Exit), 1 when start-up failed.
// A start-up error that ends the program is shown in a message box (also on stderr,
// answered at once without a display); so is a listening failure of a hidden or headless
// server, which then ends too. Warnings that let the program go on are shown in a box
// when the window is shown; with WINDOW_HIDE_SHOW HIDE they go to stderr without a box,
// so that nothing holds start-up. Either way they are also the window's first log lines.

#include <QStringList>
#include <memory>

#include "server/net/VexApp.h"

class CVexServerDlg;

class CVexServerApp : public VexApp {
  public:
    CVexServerApp();
    ~CVexServerApp() override;

    // The start-up sequence and the window's life. `arguments` is the full command line
    // as given (program name first), taken before Qt removes its own options.
    int InitInstance(const QStringList& arguments);

    void OnServerStopped() override;
    void OnClientConnected() override;
    void OnClientDisconnected() override;
    void OnServerReset() override;
    void OnMessage(const VexMessage& message) override;

    // The main window while it runs; nullptr before and after.
    CVexServerDlg* MainWindow() const { return dlg_; }
    // Makes `window` (not owned; nullptr for none) the window the notifications update.
    // InitInstance() sets it for the life of its own window; a caller that drives a window
    // without the start-up sequence (tests) sets it and clears it before the window dies.
    void SetMainWindow(CVexServerDlg* window) { dlg_ = window; }

  private:
    bool CreateDevice(const QString& interfaceName, QString* libraryName);
    // A start-up warning: shown (or, hidden, written to stderr) and kept for the log.
    void Warn(const QString& text);

    CVexServerDlg* dlg_ = nullptr;
    bool hidden_ = false;
    QStringList warnings_;
};
