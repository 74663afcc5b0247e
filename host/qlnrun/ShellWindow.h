#pragma once
// ShellWindow: qlnrun's window when it runs on a display. It shows the live readout in large
// digits, every recorded hit with its vector, the driver's results, messages and status, and
// has a button for every shell command. The driver's own terminal window is a separate
// window the driver opens; the Terminal button brings it to the front.
//
// The window only displays and asks: it emits commandRequested() and closeRequested() and
// leaves running them to the shell. GUI thread.

#include <QMainWindow>

#include "host/HostRecorder.h"
#include "host/qlnrun/ShellCommand.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QWidget;

class ShellWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit ShellWindow(const QString& driverName, QWidget* parent = nullptr);

    void showHostEvent(const HostEvent& event);
    // Buttons are disabled while the driver is inside a call.
    void setBusy(bool busy);
    void showError(const QString& text);

  signals:
    void commandRequested(const ShellCommand& command);
    void closeRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QPushButton* addCommandButton(const QString& text, ShellCommandKind kind, int value = 0);
    void appendLog(const QString& line);
    void showTerminal();

    QLabel* axes_[4] = {};
    QTableWidget* hits_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QWidget* buttons_ = nullptr;
    bool closing_ = false;
};
