#pragma once
// CVexServerDlg: the server's main window ("Vexline").
//
// Drives the poll cycle on a timer (POLL_TIME ms), keeps the current position, last hit
// and last vector records that the request handler answers from, keeps the log, and
// shows the connection indicator (red opened, green client, yellow client gone, grey
// server closed). The window may stay hidden for its whole life (WINDOW_HIDE_SHOW
// HIDE): RunModal() shows it only for the window mode 5.
//
// Ownership: the application (VexApp, not owned) must outlive the window; the window
// owns its request handler and controls. Everything runs on the GUI thread, with the
// socket notifications. Nothing here reports failure: a hit whose approach vector
// cannot be computed is recorded with the zero vector.
//
// Controls carry the identifiers of the design as object names ("1003" log, "1013"
// always-monitor box, "1001" Clear, "1008" indicator, "1010" server name, "1009" client
// name, "1002" Close, "1" Exit; the About button, which the design has in the system
// menu, is "about") so tests and scripts can find them. The Server and Client fields are
// wide enough for any IPv4 "address (port)"; a longer (IPv6) name shows its beginning
// and the whole text as its tool tip.

#include <QColor>
#include <QDialog>
#include <QMutex>
#include <QString>
#include <memory>

#include "server/device/VexPosition.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class VexApp;
class VexRequestHandler;

class CVexServerDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CVexServerDlg(VexApp* app, QWidget* parent = nullptr);
    ~CVexServerDlg() override;

    void SetWindowMode(int mode) { windowMode_ = mode; }
    void SetPollInterval(int ms) { pollInterval_ = ms; }
    int PollInterval() const { return pollInterval_; }
    // The interval the poll timer runs at: PollInterval(), but never below
    // kMinPollInterval.
    int PollTimerInterval() const;

    // Opens the window (shown only for window mode 5), starts the poll timer and runs
    // until the window ends by Exit, Cancel, Esc, the title bar or an "EXI" request.
    // Returns the dialog result.
    int RunModal();

    // One tick of the poll cycle (public for tests; the timer calls it).
    void PollTick();
    // A client was accepted: unless hits were monitored meanwhile, nothing was polled
    // since the last client left, so the device's history is forgotten and the position
    // read at once. The first answer and the first approach vector are then this
    // session's own.
    void StartClientSession();
    // Request handler entry: one received text from the client.
    void HandleRequest(const QByteArray& text);
    // Appends one line to the log and scrolls to it. The log keeps its latest
    // kMaxLogLines lines: older ones are dropped from the top, so a server that runs for
    // days (or a client that sends long texts) cannot grow it without bound.
    void AppendLog(const QString& text);
    static constexpr int kMaxLogLines = 1000;

    // Connection indicator, as called by the application's notifications.
    void SetIndicator(unsigned bgr);
    unsigned Indicator() const { return indicator_; }
    void SetServerName(const QString& name);
    void SetClientName(const QString& name);

    // Control commands (also reachable through the buttons).
    void OnClear();
    void OnCloseServer();
    void ShowAbout();

    // State, read by tests and the request handler.
    QString LogText();
    QString ServerNameText() const { return serverName_; }
    QString ClientNameText() const { return clientName_; }
    bool AlwaysMonitor() const { return alwaysMonitor_; }
    void SetAlwaysMonitor(bool on);
    bool IsPolling() const;
    VexPosition CurrentPosition() const { return position_; }
    VexPosition LastHit() const { return lastHit_; }
    VexPosition LastVector() const { return lastVector_; }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void UpdateData(bool toMembers);
    void StartPolling();

    VexApp* app_;
    std::unique_ptr<VexRequestHandler> handler_;

    // Members bound to the controls. The log's text lives in its control alone: it is
    // read from there (with what the user typed) and appended to in place, never
    // redrawn whole.
    QString serverName_ = QStringLiteral("localhost");
    QString clientName_;
    bool alwaysMonitor_ = false;

    QMutex positionLock_;
    VexPosition position_;
    VexPosition lastHit_;
    VexPosition lastVector_;

    int windowMode_ = 0;
    int pollInterval_ = 250;
    unsigned indicator_ = 0;

    QTimer* pollTimer_ = nullptr;
    QPlainTextEdit* logEdit_ = nullptr;
    QCheckBox* monitorBox_ = nullptr;
    QLabel* indicatorBox_ = nullptr;
    QLineEdit* serverEdit_ = nullptr;
    QLineEdit* clientEdit_ = nullptr;
};
