#pragma once
// CAboutDlg: the About box, opened modally from the main window's system menu.
//
// Shows the application icon, "Vexline", the version label (object name "1019",
// "Version: 1,0,20,0" once the box opens: the product version) and an OK button. Owned by whoever
// opens it; GUI thread only.

#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString versionText() const;

  private:
    QLabel* version_;
};
