#include "server/app/CVexServerDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

#include "server/app/ApplicationIcon.h"
#include "server/app/CAboutDlg.h"
#include "server/app/VexServerStrings.h"
#include "server/net/VexApp.h"
#include "server/net/VexProtocol.h"
#include "server/net/VexRequestHandler.h"

namespace {

// The window is laid out in the design's dialog units; one unit is 1.5 px across and
// 1.625 px down with the usual 8-point dialog font.
QRect Dlu(int x, int y, int w, int h) {
    return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8);
}

QColor FromBgr(unsigned bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

}  // namespace

CVexServerDlg::CVexServerDlg(VexApp* app, QWidget* parent) : QDialog(parent), app_(app) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowIcon(VexServerIcon());
    setModal(true);
    BuildControls();
    VexRequestHandler::Hooks hooks;
    hooks.records = [this] { return VexRecords{position_, lastHit_, lastVector_}; };
    hooks.alwaysMonitor = [this] { return AlwaysMonitor(); };
    hooks.appendLog = [this](const QString& text) { AppendLog(text); };
    hooks.postClose = [this] { QMetaObject::invokeMethod(this, "reject", Qt::QueuedConnection); };
    handler_ = std::make_unique<VexRequestHandler>(app_, std::move(hooks));

    pollTimer_ = new QTimer(this);
    pollTimer_->setTimerType(Qt::PreciseTimer);
    connect(pollTimer_, &QTimer::timeout, this, &CVexServerDlg::PollTick);
    SetIndicator(kIndicatorRed);
}

CVexServerDlg::~CVexServerDlg() = default;

void CVexServerDlg::BuildControls() {
    // The layout in dialog units assumes the 8-point dialog font; with the platform's
    // larger default the check box text and the names would be cut off.
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    setFixedSize(Dlu(0, 0, 315, 220).size());

    auto* caption = new QLabel(QStringLiteral("Hits"), this);
    caption->setGeometry(Dlu(5, 3, 45, 12));

    logEdit_ = new QPlainTextEdit(this);
    logEdit_->setObjectName(QStringLiteral("1003"));
    logEdit_->setGeometry(Dlu(2, 17, 308, 112));
    logEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // One block more than the lines kept: the text ends with a line end, which leaves an
    // empty last block. A limit also turns the undo history off, which would otherwise
    // keep every appended line a second time.
    logEdit_->setMaximumBlockCount(kMaxLogLines + 1);

    monitorBox_ = new QCheckBox(QString::fromLatin1(kAlwaysMonitorText), this);
    monitorBox_->setObjectName(QStringLiteral("1013"));
    // Wider than its 173 units so that the text fits in any font: it may reach the Clear
    // button.
    monitorBox_->setGeometry(Dlu(7, 137, 217, 18));
    connect(monitorBox_, &QCheckBox::toggled, this, [this](bool on) { alwaysMonitor_ = on; });

    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("1001"));
    clear->setGeometry(Dlu(227, 139, 50, 16));
    clear->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, this, &CVexServerDlg::OnClear);

    auto* frame = new QGroupBox(this);
    frame->setGeometry(Dlu(4, 168, 308, 25));
    frame->lower();

    indicatorBox_ = new QLabel(this);
    indicatorBox_->setObjectName(QStringLiteral("1008"));
    indicatorBox_->setGeometry(Dlu(7, 176, 18, 13));
    indicatorBox_->setAutoFillBackground(true);

    // The two names are as wide as the longest IPv4 text, "255.255.255.255 (65535)", in
    // the window's font (65 units cut "127.0.0.1 (59426)"), but leave room for Close.
    // Each has its caption on the frame's top edge, where a group box has its title.
    const QRect nameRow = Dlu(26, 177, 65, 12);
    const int gap = Dlu(0, 0, 5, 0).width();
    const int frameWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int widest = fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255 (65535)"));
    const int room = (Dlu(258, 0, 0, 0).x() - gap - nameRow.x()) / 2 - gap;
    const int nameWidth = std::clamp(widest + 2 * frameWidth + 8, nameRow.width(), room);
    const auto addName = [&](const char* id, const char* caption, int x) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(id));
        edit->setGeometry(x, nameRow.y(), nameWidth, nameRow.height());
        edit->setReadOnly(true);
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        label->setAutoFillBackground(true);
        label->adjustSize();
        label->move(x + 2, frame->y() - label->height() / 2 + 1);
        return edit;
    };
    serverEdit_ = addName("1010", "Server", nameRow.x());
    clientEdit_ = addName("1009", "Client", nameRow.x() + nameWidth + gap);

    // The design's system-menu item, where a desktop user looks for it.
    auto* about = new QPushButton(QString::fromLatin1(kAboutMenuItem), this);
    about->setObjectName(QStringLiteral("about"));
    about->setGeometry(Dlu(7, 198, 75, 16));
    about->setAutoDefault(false);
    connect(about, &QPushButton::clicked, this, &CVexServerDlg::ShowAbout);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("1002"));
    close->setGeometry(Dlu(258, 175, 50, 16));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &CVexServerDlg::OnCloseServer);

    auto* exit = new QPushButton(QStringLiteral("Exit"), this);
    exit->setObjectName(QStringLiteral("1"));
    exit->setGeometry(Dlu(258, 198, 50, 16));
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);

    UpdateData(false);
}

// Moves values between the members and the controls, as dialog data exchange does:
// toMembers reads the controls, otherwise writes them. The log is not among them: its text
// stays in the control (see AppendLog).
void CVexServerDlg::UpdateData(bool toMembers) {
    if (toMembers) {
        alwaysMonitor_ = monitorBox_->isChecked();
        return;
    }
    QSignalBlocker block(monitorBox_);
    monitorBox_->setChecked(alwaysMonitor_);
    // Names longer than their field show their beginning, the address, as an edit
    // control does.
    serverEdit_->setText(serverName_);
    serverEdit_->setCursorPosition(0);
    serverEdit_->setToolTip(serverName_);
    clientEdit_->setText(clientName_);
    clientEdit_->setCursorPosition(0);
    clientEdit_->setToolTip(clientName_);
}

int CVexServerDlg::RunModal() {
    // A hidden window is never shown by the modal loop itself: only window mode 5 shows it.
    if (windowMode_ == 5)
        show();
    StartPolling();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    if (!isHidden())
        activateWindow();
    loop.exec(QEventLoop::DialogExec);
    pollTimer_->stop();
    return result();
}

void CVexServerDlg::StartPolling() {
    // A 0 ms timer would poll the card as fast as the loop spins and a negative one would
    // never run: both are raised to the floor.
    pollTimer_->start(PollTimerInterval());
}

int CVexServerDlg::PollTimerInterval() const {
    return std::max(pollInterval_, kMinPollInterval);
}

bool CVexServerDlg::IsPolling() const {
    return pollTimer_->isActive();
}

void CVexServerDlg::PollTick() {
    VexDevice* device = app_->Device();
    const bool connected = app_->HasClient();
    if (device == nullptr || (!connected && !alwaysMonitor_))
        return;

    VexPosition pos;
    if (device->GetHit(pos)) {
        VexPosition vec;
        try {
            vec = device->GetHitVector();
        } catch (const std::exception&) {
            // No history yet (or a capacity of 0): the hit goes out with the zero vector.
            vec = VexPosition();
        }
        {
            QMutexLocker lock(&positionLock_);
            lastHit_ = pos;
            lastVector_ = vec;
        }
        if (connected)
            app_->Send(vexproto::kCodeHit, QByteArray(vexproto::kHitText));
        AppendLog(QString::fromLatin1(VexRequestHandler::FormatHitData(pos, vec)));
    } else if (device->GetPosition(pos)) {
        QMutexLocker lock(&positionLock_);
        position_ = pos;
    }
}

void CVexServerDlg::StartClientSession() {
    VexDevice* device = app_->Device();
    if (device == nullptr)
        return;
    if (!alwaysMonitor_)
        device->ClearHistory();
    VexPosition pos;
    if (device->GetPosition(pos)) {
        QMutexLocker lock(&positionLock_);
        position_ = pos;
    }
}

void CVexServerDlg::HandleRequest(const QByteArray& text) {
    handler_->HandleRequest(text);
}

void CVexServerDlg::AppendLog(const QString& text) {
    // Appended at the end of whatever the control holds, so text the user typed stays;
    // the control's block limit drops the oldest lines. The control shows "\r\n" as one
    // line end, as the text is handed out again by LogText().
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    line += QLatin1Char('\n');
    QTextCursor end(logEdit_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line);
    logEdit_->verticalScrollBar()->setValue(logEdit_->verticalScrollBar()->maximum());
}

QString CVexServerDlg::LogText() {
    return logEdit_->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

void CVexServerDlg::SetAlwaysMonitor(bool on) {
    alwaysMonitor_ = on;
    UpdateData(false);
}

void CVexServerDlg::SetIndicator(unsigned bgr) {
    indicator_ = bgr;
    QPalette palette = indicatorBox_->palette();
    palette.setColor(QPalette::Window, FromBgr(bgr));
    indicatorBox_->setPalette(palette);
}

void CVexServerDlg::SetServerName(const QString& name) {
    serverName_ = name;
    UpdateData(false);
}

void CVexServerDlg::SetClientName(const QString& name) {
    clientName_ = name;
    UpdateData(false);
}

void CVexServerDlg::OnClear() {
    UpdateData(true);
    logEdit_->clear();
    app_->SetReceivedCount(0);
    UpdateData(false);
}

void CVexServerDlg::OnCloseServer() {
    UpdateData(true);
    pollTimer_->stop();
    app_->StopServer();
    app_->SetReceivedCount(0);
    logEdit_->clear();
    UpdateData(false);
}

void CVexServerDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

// The design's system-menu item "&About Vexline..." is also offered on the window's
// context menu: window managers differ in whether a program may extend the system menu.
void CVexServerDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromLatin1(kAboutMenuItem), this, &CVexServerDlg::ShowAbout);
    menu.exec(event->globalPos());
}

void CVexServerDlg::closeEvent(QCloseEvent* event) {
    // The title-bar close ends the program like Cancel.
    event->ignore();
    reject();
}
