// The host stand-in as a driver meets it: a plug-in loaded with dlopen calls the services,
// and the host answers from its configuration and records every effect.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/HostCallback.h"
#include "host/HostConfig.h"
#include "host/HostRecorder.h"
#include "host/HostTip.h"
#include "host/QlnServices.h"

namespace {

class HostStandInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QlnConfig().reset();
        QlnConfig().echoMessageBoxes = false;
        QlnRecorder().clear();
        QlnRecorder().setListener({});
    }
    void TearDown() override {
        QlnConfig().reset();
        QlnRecorder().setListener({});
    }
};

TEST_F(HostStandInTest, LoadedPluginSeesTheHostAndItsCallsAreAnsweredAndRecorded) {
    HostTip tip(L"T1A0B0", 0.5, 0.0, -1.0);
    QlnConfig().activeTip = &tip;
    QlnConfig().yesNoAnswer = kQlnAnswerNo;
    QlnConfig().options[63] = 1;
    std::vector<std::string> printed;
    QlnRecorder().setListener([&](const HostEvent& event) { printed.push_back(event.line()); });

    const std::string path = std::string(std::getenv("VEX_BIN_DIR")) + "/libqlnhost_testplugin.so";
    void* plugin = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin, nullptr) << dlerror();
    auto appAtLoad = reinterpret_cast<CQLNapplication* (*)()>(dlsym(plugin, "plugin_app_at_load"));
    auto run = reinterpret_cast<int (*)()>(dlsym(plugin, "plugin_run"));
    ASSERT_TRUE(appAtLoad && run);

    EXPECT_EQ(appAtLoad(), qlnTheApp);
    EXPECT_EQ(run(), kQlnAnswerNo);

    // What the plug-in changed in the host's objects.
    EXPECT_EQ(qlnTheApp->hostIface->machines[0].hitRequestFlags, 2);
    EXPECT_EQ(qlnTheApp->readoutState, 1);
    EXPECT_EQ(qlnTheApp->startupState, 0);

    // Every effect in order, as the host shell prints them.
    const std::vector<std::string> expected = {
        "section name=\"Tactus\" result=\"Tactus\"",
        "status id=5523 text=\"Starting the machine driver...\"",
        "msgbox id=4739 style=4 answer=7 text=\"Reset the machine's axis counters before "
        "starting?\"",
        "readout xyz=1.000000,2.000000,3.000000 w=270.000000",
        "hit xyz=0.500000,2.000000,4.000000 ijk=0.000000,0.000000,1.000000 w=270.000000",
        "option code=63 value=1",
        "status id=0 text=\"enciphered maps for T1A0B0\"",
        "init-complete",
    };
    EXPECT_EQ(printed, expected);
    std::vector<std::string> kept;
    for (const HostEvent& event : QlnRecorder().events())
        kept.push_back(event.line());
    EXPECT_EQ(kept, expected);
    dlclose(plugin);
}

TEST_F(HostStandInTest, MessageBoxAnswers) {
    struct Row {
        const char* legend;
        unsigned style;
        std::vector<int> queued;
        int yesNo;
        int expected;
    };
    const Row rows[] = {
        {"OK style answers OK", kQlnBoxOk, {}, 6, kQlnAnswerOk},
        {"Yes/No answers Yes by default", kQlnBoxYesNo, {}, 6, kQlnAnswerYes},
        {"Yes/No takes the configured answer", kQlnBoxYesNo, {}, kQlnAnswerNo, kQlnAnswerNo},
        {"a queued answer comes first, also for OK",
         kQlnBoxOk,
         {kQlnAnswerCancel},
         6,
         kQlnAnswerCancel},
    };
    for (const Row& row : rows) {
        QlnConfig().yesNoAnswer = row.yesNo;
        QlnConfig().queuedAnswers.assign(row.queued.begin(), row.queued.end());
        EXPECT_EQ(QlnMessageBox(qlnTheApp->hostIface, 561u, row.style), row.expected) << row.legend;
        EXPECT_TRUE(QlnConfig().queuedAnswers.empty()) << row.legend;
    }
    const std::vector<HostEvent> boxes = QlnRecorder().eventsOf(HostEventKind::MessageBox);
    ASSERT_EQ(boxes.size(), std::size(rows));
    EXPECT_EQ(boxes[1].text,
              L"The machine configuration file TACConfigData.xml could not be read.");
    EXPECT_EQ(boxes[1].ints[0], int(kQlnBoxYesNo));
    // A text box has no resource number.
    EXPECT_EQ(QlnMessageBox(nullptr, L"Cannot find comp.enc"), kQlnAnswerOk);
    EXPECT_EQ(QlnRecorder().eventsOf(HostEventKind::MessageBox).back().id, 0);
}

TEST_F(HostStandInTest, AnswersByResourceNumberApplyToThatBoxOnly) {
    QlnConfig().answersById[4739] = kQlnAnswerNo;
    EXPECT_EQ(QlnMessageBox(qlnTheApp->hostIface, 4739u, kQlnBoxYesNo), kQlnAnswerNo);
    EXPECT_EQ(QlnMessageBox(qlnTheApp->hostIface, 5516u, kQlnBoxYesNo), kQlnAnswerYes)
        << "another box keeps the answer by style";
    QlnConfig().queuedAnswers = {kQlnAnswerYes};
    EXPECT_EQ(QlnMessageBox(qlnTheApp->hostIface, 4739u, kQlnBoxYesNo), kQlnAnswerYes)
        << "a queued answer still comes first";
}

TEST_F(HostStandInTest, AutoHitTestByDistanceOrForcedAnswer) {
    struct Row {
        const char* legend;
        double current[3];
        QLNpoint previous;
        std::optional<int> forced;
        int expected;
        double ijk[3];
    };
    const Row rows[] = {
        {"closer than the step: no hit", {0.5, 0, 0}, {0, 0, 0}, {}, 0, {1, 0, 0}},
        {"exactly one step: hit", {0, 0, 1}, {0, 0, 0}, {}, 1, {0, 0, 1}},
        {"far away, direction of travel", {3, 4, 0}, {0, 0, 0}, {}, 1, {0.6, 0.8, 0}},
        {"no movement gives a vertical vector", {2, 2, 2}, {2, 2, 2}, {}, 0, {0, 0, 1}},
        {"forced answer wins", {0, 0, 0}, {0, 0, 0}, 5, 5, {0, 0, 1}},
    };
    const double far[3] = {300, 400, 0};
    EXPECT_EQ(QlnAutoHitTest(nullptr, far, nullptr, {}, nullptr), 0) << "no rule: never a hit";
    QlnConfig().autoHitDistance = 1.0;
    QlnConfig().autoHitBeepInterval = 250;
    for (const Row& row : rows) {
        QlnConfig().autoHitAnswer = row.forced;
        double ijk[3] = {9, 9, 9};
        int beep = 0;
        EXPECT_EQ(QlnAutoHitTest(nullptr, row.current, ijk, row.previous, &beep), row.expected)
            << row.legend;
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_DOUBLE_EQ(ijk[axis], row.ijk[axis]) << row.legend << " axis " << axis;
        EXPECT_EQ(beep, 250) << row.legend;
    }
}

TEST_F(HostStandInTest, PointPreparationMovesIntoTheRequestFrame) {
    HostCallback callback;
    callback.frame.origin[0] = 10.0;
    callback.frame.origin[2] = -1.0;
    double point[3] = {11.0, 2.0, 3.0};
    QlnPreparePoint(qlnTheApp, point, callback.frame, 2047, 0);
    EXPECT_DOUBLE_EQ(point[0], 1.0);
    EXPECT_DOUBLE_EQ(point[1], 2.0);
    EXPECT_DOUBLE_EQ(point[2], 4.0);
    QlnPreparePoint(qlnTheApp, point, callback.frame, 0, 0);  // mask 0 leaves the point
    EXPECT_DOUBLE_EQ(point[0], 1.0);
    EXPECT_EQ(QlnRecorder().eventsOf(HostEventKind::PreparePoint).front().line(),
              "prepare in=11.000000,2.000000,3.000000 out=1.000000,2.000000,4.000000");
}

TEST_F(HostStandInTest, CallbackRecordsModesAndResultsWithOrWithoutVectors) {
    HostCallback callback;
    CQLNinterface& asHost = callback;
    const double xyz[3] = {1, 2, 3};
    const double ijk[3] = {0, 1, 0};
    asHost.setMode(2, 1);
    asHost.reportResult(xyz, nullptr, -9876.54, CQLNresultExtras{}, -9876.54);
    asHost.reportResult(nullptr, ijk, -9876.54, CQLNresultExtras{}, -9876.54);
    EXPECT_EQ(callback.results(), 2);
    const std::vector<HostEvent> events = QlnRecorder().events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].line(), "set-mode code=2 on=1");
    EXPECT_EQ(events[1].line(), "result xyz=1.000000,2.000000,3.000000 ijk=none");
    EXPECT_EQ(events[2].line(), "result xyz=none ijk=0.000000,1.000000,0.000000");
}

TEST_F(HostStandInTest, EveryResourceNumberDriversUseHasAText) {
    const unsigned used[] = {561,  4739, 5493, 5516, 5523, 5531, 2252, 509,  6068,
                             6066, 6062, 262,  261,  5505, 6063, 1663, 1925, 16518,
                             5036, 5037, 5038, 5039, 2182, 2183, 2184};
    for (unsigned id : used)
        EXPECT_FALSE(QlnLoadString(id).empty()) << id;
    EXPECT_TRUE(QlnLoadString(4).empty());
}

TEST_F(HostStandInTest, MachineRecordsTipsAndOptions) {
    CQLNhostInterface* iface = qlnTheApp->hostIface;
    iface->currentMachine = 2;
    EXPECT_EQ(QlnMachineRecord(iface, 1), &iface->machines[0]);
    EXPECT_EQ(QlnCurrentMachine(iface, 0), &iface->machines[1]);
    EXPECT_EQ(QlnMachineRecord(iface, 0), nullptr);
    EXPECT_EQ(QlnMachineRecord(iface, CQLNhostInterface::kMachineCount + 1), nullptr);
    iface->currentMachine = 1;

    EXPECT_EQ(QlnActiveTip(iface), nullptr);
    EXPECT_EQ(QlnTipName(nullptr), L"NONE");
    double offset[3] = {7, 7, 7};
    QlnTipOffset(nullptr, offset);
    EXPECT_EQ(offset[0] + offset[1] + offset[2], 0.0);

    QlnConfig().fallbackPermission = 1;
    EXPECT_EQ(QlnQueryOption(63), 0);
    EXPECT_EQ(QlnQueryOption(), 1);
    EXPECT_EQ(QlnRecorder().eventsOf(HostEventKind::OptionQuery).back().line(),
              "option fallback value=1");
    QlnConfig().sectionPrefix = L"Drivers_";
    EXPECT_EQ(QlnSectionName(qlnTheApp, L"Tactus"), L"Drivers_Tactus");
    EXPECT_EQ(QlnSectionName(qlnTheApp, nullptr), L"");
}

}  // namespace
