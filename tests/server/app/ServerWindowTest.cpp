// The main window and the application notifications, offscreen: a real CVexServerApp
// listening on an ephemeral port of 127.0.0.1, a scripted device in place of the card,
// and QTcpSocket clients, all on this thread's event loop. The poll timer is not relied
// on: the tests call PollTick() themselves.
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>

#include "server/app/CAboutDlg.h"
#include "server/app/CVexServerApp.h"
#include "server/app/CVexServerDlg.h"
#include "server/app/HeadlessPlatform.h"
#include "server/app/VexCommandLineInfo.h"
#include "server/app/VexServerStrings.h"
#include "server/device/VexDevice.h"
#include "server/net/VexServerSocket.h"

#include "tests/support/LineClient.h"
#include "tests/support/QtTestEnvironment.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kWaitMs = 30000;  // generous: the machine is shared

VEX_QT_TEST_ENVIRONMENT(QApplication, "server_app_window_test",
                        &UseOffscreenPlatformWithoutDisplay);

// A device whose hits are queued by the test. What it was asked survives its deletion.
struct DeviceLog {
    int hitCalls = 0;
    int positionCalls = 0;
    bool destroyed = false;
};

class ScriptedDevice : public VexDevice {
  public:
    explicit ScriptedDevice(std::shared_ptr<DeviceLog> log) : log_(std::move(log)) {}
    ~ScriptedDevice() override { log_->destroyed = true; }

    int Init(bool) override { return 1; }
    void Close() override {}
    bool IsInitialized() override { return true; }
    bool GetPosition(VexPosition& out) override {
        ++log_->positionCalls;
        out = position;
        return true;
    }
    bool GetHit(VexPosition& out) override {
        ++log_->hitCalls;
        if (hits.empty())
            return false;
        out = hits.front();
        hits.pop_front();
        return true;
    }
    VexPosition GetHitVector() override {
        if (vectorFails)
            throw std::out_of_range("empty history");
        return vector;
    }

    std::deque<VexPosition> hits;
    VexPosition position{1, 2, 3, 4};
    VexPosition vector{0, 0, 1, 0};
    bool vectorFails = false;

  private:
    std::shared_ptr<DeviceLog> log_;
};

using Client = LineClient;

const QByteArray kGreeting = "( VEXVersion:20 ) 240\r\n";
const QByteArray kHitNotice = "( HIT ) 241\r\n";

// Whether a name field shows its whole text: the character at its right edge is its end.
bool ShowsWholeText(QLineEdit* field) {
    return field->cursorPositionAt(QPoint(field->width() - 3, field->height() / 2)) ==
           field->text().size();
}

QColor FromBgr(unsigned bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

class ServerWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto scripted = std::make_unique<ScriptedDevice>(deviceLog);
        device = scripted.get();
        app.SetDevice(std::move(scripted));
        ASSERT_TRUE(app.StartServer(QStringLiteral("127.0.0.1"), 0));
        port = app.ServerSocket()->BoundPort();
        dlg = std::make_unique<CVexServerDlg>(&app);
        app.SetMainWindow(dlg.get());
        dlg->SetServerName(app.GetServerName());
    }
    void TearDown() override {
        app.SetMainWindow(nullptr);
        dlg.reset();
    }

    // Connects a client, waits until the server serves it and reads the greeting.
    void Connect(Client& client) {
        client.socket.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return app.HasClient(); }, kWaitMs));
        ASSERT_EQ(client.ReadLine(), kGreeting);
    }
    // Everything the client gets up to and including the answer to a "POS" sent now.
    QByteArray UntilPositionAnswer(Client& client) {
        client.Write("POS");
        QByteArray got;
        for (QByteArray line = client.ReadLine(); !line.isEmpty(); line = client.ReadLine()) {
            got += line;
            if (line.endsWith(" ) 235\r\n"))
                break;
        }
        return got;
    }
    // The window as drawn now, also saved as a PNG for a person to look at.
    QImage Grab(const QString& name) {
        const QImage image = dlg->grab().toImage();
        const QString dir = qEnvironmentVariableIsSet("VEX_APP_PNG_DIR")
                                ? qEnvironmentVariable("VEX_APP_PNG_DIR")
                                : pngDir.path();
        image.save(QDir(dir).filePath(name + QStringLiteral(".png")));
        return image;
    }
    QColor IndicatorColourOnScreen(const QString& name) {
        const QWidget* indicator = dlg->findChild<QWidget*>(QStringLiteral("1008"));
        if (indicator == nullptr)
            return {};
        return Grab(name).pixelColor(indicator->geometry().center());
    }

    std::shared_ptr<DeviceLog> deviceLog = std::make_shared<DeviceLog>();
    CVexServerApp app;
    ScriptedDevice* device = nullptr;  // owned by app until Close
    std::unique_ptr<CVexServerDlg> dlg;
    quint16 port = 0;
    QTemporaryDir pngDir;
};

TEST_F(ServerWindowTest, PollCycleFollowsConnectionAndMonitorBox) {
    const VexPosition hit{10, 20, 30, 40};
    const QString hitLine =
        QStringLiteral("10.000000 20.000000 30.000000 40.000000 0.000000 0.000000 1.000000\r\n");
    struct Row {
        const char* legend;
        bool client;
        bool monitor;
        bool hitPending;
        bool vectorFails;
        bool deviceAsked;        // the device was polled at all
        QString log;             // window log afterwards
        QByteArray clientGot;    // before the answer to a later "POS"
        bool positionRefreshed;  // the "POS" record took the device's position
    } rows[] = {
        {"no client, box clear: the device is not touched, the hit is not remembered", false, false,
         true, false, false, "", "", false},
        {"no client, box ticked: the hit is logged and remembered, nothing sent", false, true, true,
         false, true, hitLine, "", false},
        {"client, box clear: hit notice sent and the hit logged", true, false, true, false, true,
         hitLine, kHitNotice, false},
        {"client, no hit: only the position is refreshed", true, false, false, false, true, "", "",
         true},
        {"client, vector unavailable: the hit goes out with the zero vector", true, false, true,
         true, true, "10.000000 20.000000 30.000000 40.000000 0.000000 0.000000 0.000000\r\n",
         kHitNotice, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TearDown();
        deviceLog = std::make_shared<DeviceLog>();
        app.StopServer();
        SetUp();
        device->hits.clear();
        if (row.hitPending)
            device->hits.push_back(hit);
        device->vectorFails = row.vectorFails;
        dlg->SetAlwaysMonitor(row.monitor);
        Client client;
        if (row.client)
            Connect(client);
        device->position = {5, 6, 7, 8};  // moved since the connect

        dlg->PollTick();

        EXPECT_EQ(deviceLog->hitCalls > 0, row.deviceAsked);
        EXPECT_EQ(dlg->LogText(), row.log);
        EXPECT_EQ(dlg->LastHit() == hit, row.hitPending && row.deviceAsked);
        EXPECT_EQ(dlg->CurrentPosition() == device->position, row.positionRefreshed);
        // What the client heard before the answer to its next "POS"; a client arriving
        // only now must hear nothing about the hit.
        if (!row.client)
            Connect(client);
        const QByteArray got = UntilPositionAnswer(client);
        EXPECT_EQ(got.left(got.lastIndexOf("( ")), row.clientGot) << got.constData();
    }
}

TEST_F(ServerWindowTest, MonitorBoxTickedLaterCatchesTheNextHit) {
    device->hits = {{1, 1, 1, 0}, {2, 2, 2, 0}};
    dlg->PollTick();
    EXPECT_EQ(dlg->LogText(), "");
    auto* box = dlg->findChild<QAbstractButton*>(QStringLiteral("1013"));
    ASSERT_NE(box, nullptr);
    box->click();  // as the user does
    EXPECT_TRUE(dlg->AlwaysMonitor());
    dlg->PollTick();
    EXPECT_EQ(dlg->LogText(), "1.000000 1.000000 1.000000 0.000000 0.000000 0.000000 1.000000\r\n");
    box->click();
    EXPECT_FALSE(dlg->AlwaysMonitor());
}

TEST_F(ServerWindowTest, HitRequestIsLoggedOnlyWithTheBoxTicked) {
    struct Row {
        const char* legend;
        bool monitor;
        QString log;
    } rows[] = {
        {"box ticked: the request is written to the log", true, "HIT\r\n"},
        {"box clear: the request is answered but not logged", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        dlg->OnClear();
        dlg->SetAlwaysMonitor(row.monitor);
        Client client;
        Connect(client);
        client.Write("HIT");
        EXPECT_EQ(client.ReadLine(),
                  "( 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 ) 237\r\n");
        EXPECT_EQ(dlg->LogText(), row.log);
        client.socket.disconnectFromHost();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !app.HasClient(); }, kWaitMs));
    }
}

TEST_F(ServerWindowTest, NamesAndIndicatorFollowTheConnection) {
    struct Step {
        const char* legend;
        unsigned colour;
        bool clientNamed;
    };
    const auto check = [&](const Step& step, const QString& png) {
        SCOPED_TRACE(step.legend);
        EXPECT_EQ(dlg->Indicator(), step.colour);
        EXPECT_EQ(IndicatorColourOnScreen(png), FromBgr(step.colour));
        EXPECT_EQ(dlg->ClientNameText().isEmpty(), !step.clientNamed);
        auto* shown = dlg->findChild<QLineEdit*>(QStringLiteral("1009"));
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->text(), dlg->ClientNameText());
    };
    check({"opened: red, no client", kIndicatorRed, false}, "indicator-red");
    EXPECT_EQ(dlg->ServerNameText(), QString("127.0.0.1 (%1)").arg(port))
        << "port 0: the port bound";

    auto client = std::make_unique<Client>();
    Connect(*client);
    check({"client accepted: green, both ends named", kIndicatorGreen, true}, "indicator-green");
    EXPECT_EQ(dlg->ClientNameText(), QString("127.0.0.1 (%1)").arg(client->socket.localPort()));
    EXPECT_EQ(dlg->ServerNameText(), QString("127.0.0.1 (%1)").arg(port));
    Grab(QStringLiteral("vexserver-window"));  // docs/images: the window with a client
    for (const char* name : {"127.0.0.1 (59426)", "255.255.255.255 (65535)"}) {
        dlg->SetServerName(QString::fromLatin1(name));
        dlg->SetClientName(QString::fromLatin1(name));
        for (const char* id : {"1010", "1009"})
            EXPECT_TRUE(ShowsWholeText(dlg->findChild<QLineEdit*>(QString::fromLatin1(id))))
                << id << " cuts " << name;
    }

    client.reset();  // the client goes away
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Indicator() == kIndicatorYellow; }, kWaitMs));
    check({"client gone: yellow, client name cleared", kIndicatorYellow, false},
          "indicator-yellow");

    dlg->OnCloseServer();
    check({"server closed: grey", kIndicatorGrey, false}, "indicator-grey");
}

TEST_F(ServerWindowTest, CloseStopsServerDeviceAndPolling) {
    dlg->SetPollInterval(50);
    dlg->show();
    Client client;
    Connect(client);
    dlg->AppendLog(QStringLiteral("a line"));
    QTimer::singleShot(0, dlg.get(), [this] {
        EXPECT_TRUE(dlg->IsPolling());
        dlg->findChild<QPushButton*>(QStringLiteral("1002"))->click();
        EXPECT_FALSE(dlg->IsPolling());
        EXPECT_TRUE(dlg->isVisible()) << "the window stays open";
        dlg->PollTick();  // a tick already queued finds no device
        dlg->accept();
    });
    QTimer::singleShot(kWaitMs, dlg.get(), [this] { dlg->done(99); });  // watchdog
    EXPECT_EQ(dlg->RunModal(), QDialog::Accepted);

    EXPECT_EQ(dlg->Indicator(), kIndicatorGrey);
    EXPECT_EQ(dlg->ClientNameText(), "");
    EXPECT_EQ(dlg->LogText(), "");
    EXPECT_EQ(app.ReceivedCount(), 0);
    EXPECT_EQ(app.ServerSocket(), nullptr);
    EXPECT_EQ(app.Device(), nullptr);
    EXPECT_TRUE(deviceLog->destroyed) << "the card is closed and its library freed";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, kWaitMs));

    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(late.waitForConnected(2000)) << "nothing listens any more";
}

TEST_F(ServerWindowTest, ClearEmptiesOnlyTheLog) {
    Client client;
    Connect(client);
    client.Write("VER 1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.ReceivedCount() == 1; }, kWaitMs));
    dlg->AppendLog(QStringLiteral("second"));
    EXPECT_EQ(dlg->LogText(), "VER 1\r\nsecond\r\n");

    auto* clear = dlg->findChild<QPushButton*>(QStringLiteral("1001"));
    ASSERT_NE(clear, nullptr);
    clear->click();

    EXPECT_EQ(dlg->LogText(), "");
    EXPECT_EQ(app.ReceivedCount(), 0);
    EXPECT_TRUE(app.HasClient());
    EXPECT_EQ(dlg->Indicator(), kIndicatorGreen);
    EXPECT_FALSE(dlg->ClientNameText().isEmpty());
    ASSERT_NE(app.Device(), nullptr);
    dlg->PollTick();
    EXPECT_EQ(UntilPositionAnswer(client), "( 1.000000 2.000000 3.000000 4.000000 ) 235\r\n");
}

TEST_F(ServerWindowTest, LogKeepsWhatTheUserTyped) {
    auto* log = dlg->findChild<QPlainTextEdit*>(QStringLiteral("1003"));
    ASSERT_NE(log, nullptr);
    dlg->AppendLog(QStringLiteral("first"));
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(QStringLiteral("typed by hand\n"));
    dlg->AppendLog(QStringLiteral("third"));
    EXPECT_EQ(dlg->LogText(), "first\r\ntyped by hand\r\nthird\r\n");
}

TEST_F(ServerWindowTest, LogKeepsOnlyItsLatestLines) {
    // A server left running for days, or a client sending long "VER" texts, must not grow
    // the log without bound: the oldest lines go, the newest stay in order.
    const auto lines = [](int from, int to) {
        QString text;
        for (int i = from; i < to; ++i)
            text += QString::number(i) + QStringLiteral("\r\n");
        return text;
    };
    constexpr int kMax = CVexServerDlg::kMaxLogLines;
    struct Row {
        const char* legend;
        int appended;
        QString kept;
    } rows[] = {
        {"up to the limit: every line", kMax, lines(0, kMax)},
        {"past the limit: the latest lines", kMax + 250, lines(250, kMax + 250)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        dlg->OnClear();  // the limit holds after a Clear, too
        for (int i = 0; i < row.appended; ++i)
            dlg->AppendLog(QString::number(i));
        EXPECT_EQ(dlg->LogText(), row.kept);
    }
    dlg->AppendLog(QStringLiteral("two\r\nlines"));
    EXPECT_TRUE(dlg->LogText().endsWith(QStringLiteral("\r\ntwo\r\nlines\r\n")));
    EXPECT_EQ(dlg->LogText().count(QStringLiteral("\r\n")), kMax) << "a text's own line ends count";
}

TEST_F(ServerWindowTest, WindowEndsByExitCancelEscapeTitleBarAndExiRequest) {
    struct Row {
        const char* legend;
        int windowMode;
        std::function<void(CVexServerDlg&)> end;
        int result;
    } rows[] = {
        {"Exit button", 5,
         [](CVexServerDlg& d) { d.findChild<QPushButton*>(QStringLiteral("1"))->click(); },
         QDialog::Accepted},
        {"Esc key", 5,
         [](CVexServerDlg& d) {
             QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(&d, &press);
         },
         QDialog::Rejected},
        {"title-bar close", 5, [](CVexServerDlg& d) { d.close(); }, QDialog::Rejected},
        {"EXI request, hidden window", 0, [](CVexServerDlg& d) { d.HandleRequest("EXI"); },
         QDialog::Rejected},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        CVexServerDlg window(&app);
        window.SetWindowMode(row.windowMode);
        bool visibleWhileRunning = false;
        bool pollingWhileRunning = false;
        QTimer::singleShot(0, &window, [&] {
            visibleWhileRunning = window.isVisible();
            pollingWhileRunning = window.IsPolling();
            row.end(window);
        });
        QTimer::singleShot(kWaitMs, &window, [&] { window.done(99); });  // watchdog
        EXPECT_EQ(window.RunModal(), row.result);
        EXPECT_EQ(visibleWhileRunning, row.windowMode == 5);
        EXPECT_TRUE(pollingWhileRunning);
        EXPECT_FALSE(window.IsPolling());
        EXPECT_FALSE(window.isVisible());
    }
}

TEST_F(ServerWindowTest, PollIntervalHasAFloor) {
    struct Row {
        const char* legend;
        int configured;
        int used;
    } rows[] = {
        {"the default", 50, 50},
        {"the floor itself", 10, 10},
        {"0 would spin the GUI thread", 0, 10},
        {"a negative time would never poll", -5, 10},
    };
    for (const Row& row : rows) {
        dlg->SetPollInterval(row.configured);
        EXPECT_EQ(dlg->PollTimerInterval(), row.used) << row.legend;
    }
}

TEST_F(ServerWindowTest, TitlesAndTexts) {
    EXPECT_EQ(dlg->windowTitle(), "Vexline");
    EXPECT_FALSE(dlg->windowIcon().isNull());
    const struct {
        const char* id;
        const char* text;
    } buttons[] = {{"1001", "Clear"}, {"1002", "Close"}, {"1", "Exit"}};
    for (const auto& b : buttons) {
        auto* button = dlg->findChild<QAbstractButton*>(QString::fromLatin1(b.id));
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(button->text(), b.text);
    }
    EXPECT_EQ(dlg->findChild<QAbstractButton*>(QStringLiteral("1013"))->text(),
              "Always monitor hits (even without connection)");
    EXPECT_TRUE(dlg->findChild<QPushButton*>(QStringLiteral("1"))->isDefault());

    QString opened;  // the About button opens the About box
    QTimer::singleShot(0, dlg.get(), [&] {
        if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()))
            opened = box->windowTitle(), box->accept();
    });
    dlg->findChild<QPushButton*>(QStringLiteral("about"))->click();
    EXPECT_EQ(opened, "About Vexline");

    CAboutDlg about(dlg.get());
    EXPECT_EQ(about.windowTitle(), "About Vexline");
    EXPECT_EQ(about.versionText(), "Version: 1,0,20,0");
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("1019"))->text(), "Version: 1,0,20,0");
}

TEST(VexCommandLineInfo, OnlyASwitchStartingWithRResetsTheCounters) {
    struct Row {
        const char* legend;
        QStringList arguments;  // after the program name
        bool reset;
    } rows[] = {
        {"no arguments", {}, false},
        {"slash R", {"/R"}, true},
        {"lower case", {"/r"}, true},
        {"dash and a word", {"-reset"}, true},
        {"another switch", {"/x"}, false},
        {"R as a plain parameter", {"R"}, false},
        {"a bare introducer", {"/"}, false},
        {"double dash: the switch is '-reset'", {"--reset"}, false},
        {"among others", {"/x", "file.txt", "-R"}, true},
    };
    for (const Row& row : rows) {
        VexCommandLineInfo info;
        info.ParseCommandLine(QStringList{"VexServer"} + row.arguments);
        EXPECT_EQ(info.reset(), row.reset) << row.legend;
    }
}

}  // namespace
