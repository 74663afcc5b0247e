// The setup dialog driven like an operator would, offscreen: clicks on tabs and buttons,
// keys in lists, check boxes and texts, inside the modal run of RunSetupDialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <string>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/setup/CTab.h"
#include "driver/comm/setup/SetupDialog.h"
#include "driver/comm/setup/SetupTexts.h"
#include "driver/core/settings/DriverSettings.h"
#include "driver/core/settings/SettingsStore.h"
#include "host/HostRecorder.h"
#include "host/QlnServices.h"
#include "setvault/Setvault.h"

namespace {

using namespace setuptext;

constexpr const wchar_t* kSection = L"Tactus";
constexpr const wchar_t* kUserSection = L"USER_Tactus";
constexpr const wchar_t* kAbsent = L"<absent>";

void EnsureApplication() {
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "driver_setup_test";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process (Qt's globals must outlive it).
    new QApplication(argc, argv);
}

template <class W>
W* Control(CTab& sheet, int id) {
    W* control = sheet.findChild<W*>(QString::number(id));
    EXPECT_NE(control, nullptr) << "control " << id;
    return control;
}

void ClickTab(CTab& sheet, int index) {
    QTabBar* tabs = sheet.Tabs();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center());
}

// Moves a list's selection with the arrow keys, as an operator with the keyboard would.
void Choose(QComboBox* list, int index) {
    while (list->currentIndex() < index)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index)
        QTest::keyClick(list, Qt::Key_Up);
}

void Retype(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void Toggle(QCheckBox* check) {
    QTest::keyClick(check, Qt::Key_Space);
}

std::wstring Stored(const wchar_t* section, const wchar_t* key) {
    return GetRegString(section, key, kAbsent);
}

// A stored settings file, loaded the way start-up does, the debug log open in a temporary
// folder, and a driver whose axis codes live in the fixture.
class SetupDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { EnsureApplication(); }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setenv("SETVAULT_INI", qPrintable(dir_.filePath("settings.ini")), 1);
        setenv("SETVAULT_ADMIN", "1", 1);
        setenv("SETVAULT_DEBUG_FILE", qPrintable(dir_.filePath("registered.txt")), 1);
        logPath_ = dir_.filePath("first.log");
        WriteRegString(kUserSection, L"Version", L"1.26", false);
        WriteRegString(kUserSection, L"DebugLog", L"TRUE", false);
        WriteRegString(kUserSection, L"DebugFile", logPath_.toStdWString().c_str(), false);
        WriteRegString(kSection, L"CompensFileName", L"maker.dat", false);
        driverSettings = DriverSettings{};
        registerSettings(driverSettingsTable, kSection);
        loadSettings(driverSettingsTable, kSection);
        ASSERT_EQ(TheDebugLog().OpenLogFile(driverSettings.DebugFile.c_str(), 0, nullptr), 1);

        StoredCommSettings().clear();
        QlnRecorder().clear();
        *qlnTheApp->hostIface = CQLNhostInterface{};

        hooks_.hostApp = qlnTheApp;
        hooks_.driverVersion = L"Tactus test version";
        hooks_.serialValues = CommValues{2, 19200, 2, 8, 0};
        hooks_.axes.codes = [this] { return codes_; };
        hooks_.axes.setCodes = [this](const AxisCodes& codes) { codes_ = codes; };
        hooks_.axes.initialize = [this] {
            ++axisInitializations_;
            LogLine(L"InitializeScaleAxis\n   axis %d, %d, %d and %d, %d, %d\n", codes_[0] / 2,
                    codes_[1] / 2, codes_[2] / 2, codes_[0], codes_[1], codes_[2]);
        };
    }

    void TearDown() override {
        TheDebugLog().CloseLogFile();
        if (qlnDebugOutput.windowState == 1)
            TheDebugLog().HideTerminal();
    }

    bool Run(std::function<void(CTab&)> drive) {
        hooks_.drive = std::move(drive);
        return RunSetupDialog(hooks_);
    }

    QString LogText(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir_;
    QString logPath_;
    SetupDialogHooks hooks_;
    AxisCodes codes_{0, 2, 4};
    int axisInitializations_ = 0;
};

TEST_F(SetupDialogTest, AxesPageRefusesASharedMachineAxisAndApplyRerunsTheAxisInitialisation) {
    const bool accepted = Run([&](CTab& sheet) {
        ClickTab(sheet, 1);
        ASSERT_EQ(sheet.ActivePage(), 1);
        auto* x = Control<QComboBox>(sheet, kAxisXList);
        auto* y = Control<QComboBox>(sheet, kAxisYList);
        EXPECT_EQ(sheet.Axis().SelectedCodes(), (AxisCodes{0, 2, 4}));
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());

        Choose(y, 1);  // X and Y both on machine axis 0
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        ClickTab(sheet, 2);
        EXPECT_EQ(sheet.ActivePage(), 1) << "leaving must be refused";
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 1);
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(axisInitializations_, 0) << "an invalid assignment is never applied";
        const auto boxes = QlnRecorder().eventsOf(HostEventKind::MessageBox);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].id, int(kMsgInvalidAxes));
        EXPECT_EQ(boxes[1].id, int(kMsgInvalidAxes));

        Choose(x, 2);  // X from machine Y: X 2, Y 1, Z 4 use three machine axes
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(axisInitializations_, 1);
        EXPECT_EQ(codes_, (AxisCodes{2, 1, 4}));
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        ClickTab(sheet, 2);
        EXPECT_EQ(sheet.ActivePage(), 2);
        QTest::mouseClick(sheet.CancelButton(), Qt::LeftButton);
    });

    EXPECT_FALSE(accepted);
    EXPECT_EQ(codes_, (AxisCodes{2, 1, 4})) << "Cancel keeps what was applied";
    const QString log = LogText(logPath_);
    EXPECT_TRUE(log.contains("InitializeScaleAxis\n   axis 1, 0, 2 and 2, 1, 4\n"))
        << log.toStdString();
    EXPECT_EQ(Stored(kUserSection, L"Version"), L"1.26") << "nothing is saved without OK";
}

TEST_F(SetupDialogTest, OkSavesVersionTheSettingsAndTheCommunicationText) {
    const bool accepted = Run([&](CTab& sheet) {
        ClickTab(sheet, 2);
        Retype(Control<QLineEdit>(sheet, kDebugTitleText), "Probe trace");
        Choose(Control<QComboBox>(sheet, kPosReportList), 2);
        QTest::mouseClick(sheet.OkButton(), Qt::LeftButton);
    });

    EXPECT_TRUE(accepted);
    EXPECT_EQ(Stored(kUserSection, L"Version"), L"1.2700000000");
    EXPECT_EQ(Stored(kUserSection, L"DebugTitle"), L"Probe trace");
    EXPECT_EQ(Stored(kUserSection, L"DebugPosReport"), L"2");
    EXPECT_EQ(Stored(kSection, L"CompensFileName"), L"maker.dat");
    EXPECT_EQ(StoredCommSettings(), L"COM2 19200  E,8,1");

    const QString log = LogText(logPath_);
    const char* lines[] = {
        "-Tactus: driver_cmm_setup_dialog call_back=0,tip=NONE\n",
        "-Tactus: Exit from setup dialog\n",
        "-Tactus: Quillon    version info: QLNRUN stand-in 4.4.0\n",
        "-Tactus: Interface version info: Tactus test version\n",
        "BEGIN listing of INI active (in memory) values for [Tactus]\n",
        "  DebugTitle = Probe trace\n",
        "  Version = 1.270000\n",
    };
    qsizetype from = 0;
    for (const char* line : lines) {
        const qsizetype at = log.indexOf(QString::fromLatin1(line), from);
        EXPECT_GE(at, from) << "missing or out of order: " << line << log.toStdString();
        from = std::max(from, at);
    }
}

TEST_F(SetupDialogTest, CancelAfterApplyKeepsWhatWasAppliedAndDropsTheRest) {
    const bool accepted = Run([&](CTab& sheet) {
        ClickTab(sheet, 2);
        Toggle(Control<QCheckBox>(sheet, kLogResetCheck));
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        Retype(Control<QLineEdit>(sheet, kDebugTitleText), "Never applied");
        ClickTab(sheet, 0);
        Choose(Control<QComboBox>(sheet, kParityList), 1);
        QTest::mouseClick(sheet.CancelButton(), Qt::LeftButton);
    });

    EXPECT_FALSE(accepted);
    EXPECT_TRUE(driverSettings.DebugLogReset);
    EXPECT_EQ(qlnTheApp->hostIface->machines[0].debugLogReset, 1);
    EXPECT_EQ(driverSettings.DebugTitle, L"Interface");
    EXPECT_EQ(Stored(kUserSection, L"DebugLogReset"), kAbsent);
    EXPECT_TRUE(StoredCommSettings().empty());
    EXPECT_TRUE(LogText(logPath_).contains("-Tactus: Exit from setup dialog\n"));
}

TEST_F(SetupDialogTest, LogCheckBoxOffAndOnAgainClosesTheFileThenStartsANewOne) {
    Run([&](CTab& sheet) {
        ClickTab(sheet, 2);
        auto* check = Control<QCheckBox>(sheet, kDebugLogCheck);
        ASSERT_TRUE(check->isChecked());
        LogLine(L"-Tactus: before the first Apply\n");

        Toggle(check);
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(qlnDebugOutput.logFile, nullptr);
        EXPECT_FALSE(driverSettings.DebugLog);

        Toggle(check);
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_NE(qlnDebugOutput.logFile, nullptr);
        EXPECT_TRUE(driverSettings.DebugLog);
        LogLine(L"-Tactus: after the second Apply\n");
        QTest::mouseClick(sheet.CancelButton(), Qt::LeftButton);
    });

    const QString log = LogText(logPath_);
    EXPECT_FALSE(log.contains("before the first Apply")) << "the file must have been replaced";
    EXPECT_TRUE(log.contains("after the second Apply"));
}

TEST_F(SetupDialogTest, NewFileNameMovesTheLogAndTheWindowFollowsItsCheckBox) {
    const QString second = dir_.filePath("second.log");
    Run([&](CTab& sheet) {
        ClickTab(sheet, 2);
        Retype(Control<QLineEdit>(sheet, kDebugFileText), second);
        Toggle(Control<QCheckBox>(sheet, kDebugWindowCheck));
        Retype(Control<QLineEdit>(sheet, kDebugTitleText), "Probe");
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(qlnDebugOutput.logFileName, second.toStdWString());
        EXPECT_EQ(qlnDebugOutput.windowState, 1);
        EXPECT_EQ(qlnDebugOutput.title, L"Probe");
        EXPECT_TRUE(qlnDebugOutput.topmost);

        // The same name in other letters is no new file; a new title alone leaves the window.
        Retype(Control<QLineEdit>(sheet, kDebugFileText), second.toUpper());
        Retype(Control<QLineEdit>(sheet, kDebugTitleText), "PROBE");
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled()) << "texts compare without letter case";
        Retype(Control<QLineEdit>(sheet, kDebugTitleText), "Renamed");
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(qlnDebugOutput.logFileName, second.toStdWString());
        EXPECT_EQ(qlnDebugOutput.title, L"Probe");

        Toggle(Control<QCheckBox>(sheet, kDebugWindowCheck));
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(qlnDebugOutput.windowState, -1);
        QTest::mouseClick(sheet.CancelButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(LogText(second).contains("-Tactus: Exit from setup dialog\n"));
}

TEST_F(SetupDialogTest, CommunicationPageWritesTheVariablesOnlyOnApply) {
    Run([&](CTab& sheet) {
        auto* summary = Control<QLineEdit>(sheet, kCommSummary);
        auto* parity = Control<QComboBox>(sheet, kParityList);
        auto* baud = Control<QComboBox>(sheet, kBaudList);
        EXPECT_EQ(summary->text(), "COM2 19200  E,8,1");
        EXPECT_EQ(Control<QComboBox>(sheet, kPortList)->currentIndex(), 2);
        EXPECT_EQ(parity->currentText(), "Even");
        EXPECT_EQ(baud->count(), 9);
        EXPECT_TRUE(baud->isEnabled()) << "the driver calls it editable";
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());

        Choose(parity, 3);
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        Choose(parity, 2);
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled()) << "back to the variable's value";

        Retype(baud->lineEdit(), "38400");
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        EXPECT_EQ(summary->text(), "COM2 19200  E,8,1") << "changes wait for Apply";
        QTest::mouseClick(sheet.ApplyButton(), Qt::LeftButton);
        EXPECT_EQ(summary->text(), "COM2 38400  E,8,1");
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());

        QTest::keyClick(Control<QComboBox>(sheet, kStopBitsList), Qt::Key_Down);
        QTest::mouseClick(sheet.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(StoredCommSettings(), L"COM2 38400  E,8,1.5");
}

TEST_F(SetupDialogTest, CommunicationPageTakesOnlyAPortAndASpeedTheSerialPortCanUse) {
    struct Row {
        const char* legend;
        bool tcp;  // a TCP machine: its address shown, the serial lists disabled
        int port;  // list index: 0 is "None"
        const char* typed;
        std::wstring stored;  // empty: OK is refused with a message box
    };
    const Row rows[] = {
        {"a standard speed the list does not offer", false, 2, "230400", L"COM2 230400  E,8,1"},
        {"a minus sign cannot be typed", false, 2, "-9600", L"COM2 9600  E,8,1"},
        {"letters cannot be typed, which leaves no speed", false, 2, "abc", L""},
        {"not a standard speed", false, 2, "14400", L""},
        {"no port", false, 0, "19200", L""},
        {"a TCP machine: serial values kept, not judged", true, 2, "abc", L"COM2 19200  E,8,1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        StoredCommSettings().clear();
        QlnRecorder().clear();
        hooks_.tcpLink = row.tcp ? decltype(hooks_.tcpLink)({L"127.0.0.1", 1390}) : std::nullopt;
        Run([&](CTab& sheet) {
            if (row.tcp)
                EXPECT_EQ(sheet.findChild<QLineEdit*>("link")->text(), "TCP 127.0.0.1, port 1390");
            Choose(Control<QComboBox>(sheet, kPortList), row.port);
            Retype(Control<QComboBox>(sheet, kBaudList)->lineEdit(), row.typed);
            QTest::mouseClick(sheet.OkButton(), Qt::LeftButton);
        });
        EXPECT_EQ(StoredCommSettings(), row.stored);
        EXPECT_EQ(QlnRecorder().eventsOf(HostEventKind::MessageBox).size(),
                  row.stored.empty() ? 1u : 0u);
    }
}

TEST_F(SetupDialogTest, PageStartsFromTheStoredTextOnceTheDriverIsConfigured) {
    struct Row {
        const char* legend;
        bool configured;
        std::wstring stored;
        std::wstring summary;
    };
    const Row rows[] = {
        {"not configured: the serial values", false, L"COM3 4800  O,7,2", L"COM2 19200  E,8,1"},
        {"configured: the stored text", true, L"COM3 4800  O,7,2", L"COM3 4800  O,7,2"},
        {"configured, nothing stored yet: the serial values", true, L"", L"COM2 19200  E,8,1"},
    };
    for (const Row& row : rows) {
        StoredCommSettings() = row.stored;
        hooks_.configured = row.configured;
        QString summary;
        Run([&](CTab& sheet) { summary = Control<QLineEdit>(sheet, kCommSummary)->text(); });
        EXPECT_EQ(summary.toStdWString(), row.summary) << row.legend;
    }
}

TEST_F(SetupDialogTest, ValuesTheListsDoNotOfferSurviveApply) {
    hooks_.serialValues = CommValues{40, 9600, 0, 5, 0};
    driverSettings.DebugCPU = 9;
    Run([&](CTab& sheet) {
        EXPECT_EQ(Control<QComboBox>(sheet, kPortList)->currentText(), "COM40");
        EXPECT_EQ(Control<QComboBox>(sheet, kDataBitsList)->currentIndex(), -1);
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
        ClickTab(sheet, 2);
        EXPECT_EQ(Control<QComboBox>(sheet, kCpuLevelList)->currentIndex(), -1);
        EXPECT_TRUE(Control<QComboBox>(sheet, kCpuLevelList)->isVisible());
        QTest::mouseClick(sheet.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(StoredCommSettings(), L"COM40 9600  N,5,1");
    EXPECT_EQ(driverSettings.DebugCPU, 9);
}

TEST_F(SetupDialogTest, WithoutADisplayTheSheetIsAnsweredWithOk) {
    hooks_.drive = nullptr;
    EXPECT_TRUE(RunSetupDialog(hooks_));
    EXPECT_EQ(Stored(kUserSection, L"Version"), L"1.2700000000");
    EXPECT_EQ(StoredCommSettings(), L"COM2 19200  E,8,1");
}

TEST_F(SetupDialogTest, SettingsNotYetLoadedAreLoadedBeforeOkSavesThem) {
    driverSettings = DriverSettings{};  // the host opened the dialog before start-up
    Run([](CTab& sheet) { QTest::mouseClick(sheet.OkButton(), Qt::LeftButton); });
    EXPECT_EQ(Stored(kSection, L"CompensFileName"), L"maker.dat");
    EXPECT_EQ(Stored(kUserSection, L"DebugFile"), logPath_.toStdWString());
    EXPECT_EQ(Stored(kUserSection, L"Version"), L"1.2700000000");
}

}  // namespace
