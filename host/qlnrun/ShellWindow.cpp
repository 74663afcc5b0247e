#include "host/qlnrun/ShellWindow.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <mutex>

#include "host/CQLNterminalWindow.h"
#include "host/QlnServices.h"
#include "host/qlnrun/EventFormatter.h"

namespace {

constexpr int kReadoutPixels = 40;
constexpr int kMaxLogLines = 2000;

QString number(double value) {
    return QString::number(value, 'f', 4);
}

}  // namespace

ShellWindow::ShellWindow(const QString& driverName, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("QLNRUN - %1").arg(driverName));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    // Readout: one row per axis, the value in large fixed-pitch digits.
    auto* readout = new QGridLayout;
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPixelSize(kReadoutPixels);
    digits.setBold(true);
    const char* names[4] = {"X", "Y", "Z", "W"};
    for (int axis = 0; axis < 4; ++axis) {
        auto* name = new QLabel(QLatin1String(names[axis]), central);
        name->setFont(digits);
        axes_[axis] = new QLabel(number(0.0), central);
        axes_[axis]->setFont(digits);
        axes_[axis]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        axes_[axis]->setMinimumWidth(QFontMetrics(digits).horizontalAdvance(QLatin1Char('0')) * 12);
        readout->addWidget(name, axis, 0);
        readout->addWidget(axes_[axis], axis, 1);
    }
    readout->setColumnStretch(2, 1);
    layout->addLayout(readout);

    // Hits with their vectors, newest at the bottom.
    hits_ = new QTableWidget(0, 7, central);
    hits_->setHorizontalHeaderLabels({QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z"),
                                      QStringLiteral("I"), QStringLiteral("J"), QStringLiteral("K"),
                                      QStringLiteral("W")});
    hits_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    hits_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(new QLabel(QStringLiteral("Hits"), central));
    layout->addWidget(hits_, 2);

    // Results, messages and mode changes, as the headless event lines.
    log_ = new QPlainTextEdit(central);
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kMaxLogLines);
    layout->addWidget(new QLabel(QStringLiteral("Events"), central));
    layout->addWidget(log_, 1);

    buttons_ = new QWidget(central);
    auto* row = new QHBoxLayout(buttons_);
    row->setContentsMargins(0, 0, 0, 0);
    addCommandButton(QStringLiteral("Read position"), ShellCommandKind::Read);
    addCommandButton(QStringLiteral("Measure point"), ShellCommandKind::Measure);
    addCommandButton(QStringLiteral("Manual hit"), ShellCommandKind::Manual);
    addCommandButton(QStringLiteral("Begin scan"), ShellCommandKind::ScanBegin);
    addCommandButton(QStringLiteral("End scan"), ShellCommandKind::ScanEnd);
    addCommandButton(QStringLiteral("Stop"), ShellCommandKind::Stop);
    addCommandButton(QStringLiteral("Hit here"), ShellCommandKind::HitRequest);
    // The readout button of the machine: held, the next reply counts as a hit.
    auto* hold = new QPushButton(QStringLiteral("Hold readout"), buttons_);
    hold->setCheckable(true);
    connect(hold, &QPushButton::toggled, this, [this](bool held) {
        emit commandRequested({ShellCommandKind::ReadoutState, held ? 0 : 1});
    });
    row->addWidget(hold);
    addCommandButton(QStringLiteral("Setup..."), ShellCommandKind::Setup);
    auto* terminal = new QPushButton(QStringLiteral("Terminal"), buttons_);
    connect(terminal, &QPushButton::clicked, this, &ShellWindow::showTerminal);
    row->addWidget(terminal);
    addCommandButton(QStringLiteral("Quit"), ShellCommandKind::Quit);
    layout->addWidget(buttons_);

    setCentralWidget(central);
    statusBar()->showMessage(QStringLiteral("Starting the driver..."));
    resize(900, 640);
}

QPushButton* ShellWindow::addCommandButton(const QString& text, ShellCommandKind kind, int value) {
    auto* button = new QPushButton(text, buttons_);
    connect(button, &QPushButton::clicked, this, [this, kind, value] {
        emit commandRequested({kind, value});
    });
    buttons_->layout()->addWidget(button);
    return button;
}

void ShellWindow::showHostEvent(const HostEvent& event) {
    switch (event.kind) {
        case HostEventKind::Readout:
            if (event.values.size() >= 4) {
                for (int axis = 0; axis < 4; ++axis)
                    axes_[axis]->setText(number(event.values[size_t(axis)]));
            }
            return;
        case HostEventKind::ManualHit: {
            if (event.values.size() < 10)
                return;
            const int row = hits_->rowCount();
            hits_->insertRow(row);
            const size_t columns[7] = {0, 1, 2, 3, 4, 5, 9};
            for (int column = 0; column < 7; ++column) {
                auto* item = new QTableWidgetItem(number(event.values[columns[column]]));
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                hits_->setItem(row, column, item);
            }
            hits_->scrollToBottom();
            break;
        }
        case HostEventKind::StatusMessage:
            statusBar()->showMessage(QString::fromStdWString(event.text));
            break;
        default:
            break;
    }
    EventFormatter formatter;  // fresh: readouts are not logged here anyway
    if (auto line = formatter.lineFor(event); line && event.kind != HostEventKind::Readout)
        appendLog(QString::fromStdString(*line));
}

void ShellWindow::setBusy(bool busy) {
    buttons_->setEnabled(!busy);
}

void ShellWindow::showError(const QString& text) {
    appendLog(QStringLiteral("error: ") + text);
}

void ShellWindow::appendLog(const QString& line) {
    log_->appendPlainText(line);
}

void ShellWindow::showTerminal() {
    CQLNterminalWindow* terminal = nullptr;
    int state = 0;
    if (qlnDebugOutput.lock) {
        std::unique_lock guard(*qlnDebugOutput.lock, std::chrono::milliseconds(1000));
        if (guard.owns_lock()) {
            terminal = qlnDebugOutput.window;
            state = qlnDebugOutput.windowState;
        }
    }
    if (terminal == nullptr || state != 1) {
        statusBar()->showMessage(
            QStringLiteral("The driver's terminal window is off (switch it on in Setup)."));
        return;
    }
    terminal->raise();
    terminal->activateWindow();
}

void ShellWindow::closeEvent(QCloseEvent* event) {
    // The shell closes the driver first and then ends the program; the window stays until
    // then.
    event->ignore();
    if (!closing_) {
        closing_ = true;
        emit closeRequested();
    }
}
