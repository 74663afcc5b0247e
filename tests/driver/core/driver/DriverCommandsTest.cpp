// Motion and measurement entry points of libTactus.so: their log lines, what they send and
// how they complete.

#include <functional>

#include "host/HostCallback.h"
#include "host/HostTip.h"
#include "tests/driver/core/driver/DriverFixture.h"

namespace drivertest {
namespace {

using CommandsTest = DriverFixture;

std::string Hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

struct ImmediateCase {
    const char* legend;
    std::function<void(CQLNinterface*, CQLNtip_data*)> call;
    std::string lines;
    bool hasPoint;  // the result carries a point
    double point[3];
};

// Legend: the entry point; the lines it logs after (and including) its call line, with
// "CB" for the callback's address and "TIP" for the tip's name; the point it completes with.
std::vector<ImmediateCase> ImmediateCases() {
    const double a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
    return {
        {"move absolute",
         [=](CQLNinterface* cb, CQLNtip_data* tip) { driver_move_absolute(cb, a, tip, 10.5); },
         "-Tactus: driver_move_absolute call_back=CB,tip=TIP\n"
         "-Tactus: absolute movept=1.000000,2.000000,3.000000 speed=10.500000\n",
         false,
         {}},
        {"move relative",
         [=](CQLNinterface* cb, CQLNtip_data* tip) { driver_move_relative(cb, b, tip, 1.0); },
         "-Tactus: driver_move_relative call_back=CB,tip=TIP\n"
         "-Tactus: relative movept=4.000000,5.000000,6.000000 speed=1.000000\n",
         false,
         {}},
        {"circular move, any nonzero flag is a large arc",
         [=](CQLNinterface* cb, CQLNtip_data* tip) { driver_circular_move(cb, a, b, 7, tip, 2.0); },
         "-Tactus: driver_circular_move call_back=CB,tip=TIP\n"
         "-Tactus: circular movept=1.000000,2.000000,3.000000 cntrpt=4.000000,5.000000,6.000000 "
         "large_arc=TRUE speed=2.000000\n",
         false,
         {}},
        {"circular move, small arc",
         [=](CQLNinterface* cb, CQLNtip_data* tip) { driver_circular_move(cb, a, b, 0, tip, 2.0); },
         "large_arc=FALSE",
         false,
         {}},
        {"move ph9",
         [](CQLNinterface* cb, CQLNtip_data* tip) { driver_move_ph9(cb, tip); },
         "-Tactus: driver_move_ph9 call_back=CB,tip=TIP\n",
         false,
         {}},
        {"move rotab",
         [](CQLNinterface* cb, CQLNtip_data* tip) { driver_move_rotab(cb, 45.0, -1, tip, 3.0); },
         "-Tactus: driver_move_rotab call_back=CB,tip=TIP\n"
         "-Tactus: move rotab angle=45.000000 direction=-1 speed=3.000000\n",
         false,
         {}},
        {"change tool",
         [=](CQLNinterface* cb, CQLNtip_data* tip) {
             driver_change_tool(cb, a, a, a, 1, 2.0, 3.0, tip, 4.0);
         },
         "-Tactus: driver_change_tool call_back=CB,tip=TIP\n",
         false,
         {}},
        {"read ph9 gives zero head angles",
         [](CQLNinterface* cb, CQLNtip_data*) { driver_read_ph9(cb); },
         "-Tactus: driver_read_ph9 call_back=CB,tip=NONE\n",
         true,
         {0, 0, 0}},
        {"go manual gives the origin",
         [](CQLNinterface* cb, CQLNtip_data*) { driver_go_manual(cb); },
         "-Tactus: driver_go_manual call_back=CB,tip=NONE\n",
         true,
         {0, 0, 0}},
    };
}

std::string Expand(std::string text, const std::string& cb, const std::string& tip) {
    for (std::size_t at; (at = text.find("CB")) != std::string::npos;)
        text.replace(at, 2, cb);
    for (std::size_t at; (at = text.find("TIP")) != std::string::npos;)
        text.replace(at, 3, tip);
    return text;
}

TEST_F(CommandsTest, MotionRequestsAreLoggedAndCompletedAtOnce) {
    StartAndSettle();
    HostTip tip(L"T1A0B0", 0, 0, -2);
    for (const ImmediateCase& c : ImmediateCases()) {
        SCOPED_TRACE(c.legend);
        HostCallback callback;
        QlnRecorder().clear();
        LogMark mark(CurrentLogPath());
        c.call(&callback, &tip);
        EXPECT_NE(mark.Text().find(Expand(c.lines, Hex(&callback), "T1A0B0")), std::string::npos)
            << mark.Text();
        ASSERT_EQ(callback.results(), 1);
        const HostEvent result = Events(HostEventKind::ReportResult).at(0);
        EXPECT_EQ(result.ints.at(0), c.hasPoint ? 1 : 0);
        EXPECT_EQ(result.ints.at(1), 0);  // never a vector
        if (c.hasPoint) {
            EXPECT_EQ(std::vector<double>(result.values.begin(), result.values.begin() + 3),
                      std::vector<double>(c.point, c.point + 3));
        }
        EXPECT_DOUBLE_EQ(result.values.back(), -9876.54);
    }
}

TEST_F(CommandsTest, WithoutCallbackOnlyTheLinesAreLogged) {
    StartAndSettle();
    for (const ImmediateCase& c : ImmediateCases()) {
        SCOPED_TRACE(c.legend);
        QlnRecorder().clear();
        LogMark mark(CurrentLogPath());
        c.call(nullptr, nullptr);
        EXPECT_NE(mark.Text().find(Expand(c.lines, "0", "NONE")), std::string::npos) << mark.Text();
        EXPECT_TRUE(QlnRecorder().events().empty());
    }
}

TEST_F(CommandsTest, DccScanSwitchesModesThenCompletes) {
    StartAndSettle();
    HostCallback callback;
    QlnRecorder().clear();
    driver_begin_dcc_scan(&callback, nullptr);
    const auto events = QlnRecorder().events();
    ASSERT_EQ(events.size(), 4u);
    const int codes[3][2] = {{2, 1}, {1, 0}, {16, 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].kind, HostEventKind::SetMode);
        EXPECT_EQ(events[i].id, codes[i][0]);
        EXPECT_EQ(events[i].result, codes[i][1]);
    }
    EXPECT_EQ(events[3].kind, HostEventKind::ReportResult);
}

TEST_F(CommandsTest, ManualScanStartsStopsAndReports) {
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    StartAndSettle();
    HostCallback callback;
    const double p[3] = {0, 0, 0};
    LogMark mark(CurrentLogPath());
    driver_begin_manual_scan(&callback, p, p, nullptr);
    EXPECT_NE(mark.Text().find("-Tactus: driver_begin_manual_scan call_back=" + Hex(&callback) +
                               ", tip=NONE\n"),
              std::string::npos);
    EXPECT_EQ(Events(HostEventKind::StatusMessage).back().id, 5531);
    ASSERT_TRUE(WaitUntil([&] { return callback.results() >= 2; }));

    driver_end_manual_scan();
    EXPECT_EQ(Events(HostEventKind::SetMode).size(), 3u);
    EXPECT_NE(mark.Text().find("-Tactus: driver_end_manual_scan call_back=0,tip=NONE\n"),
              std::string::npos);
    const int reported = callback.results();
    Idle(200);
    EXPECT_EQ(callback.results(), reported);
}

TEST_F(CommandsTest, StopProbeEndsAScanWithoutSwitchingModes) {
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    StartAndSettle();
    HostCallback callback;
    const double p[3] = {0, 0, 0};
    driver_begin_manual_scan(&callback, p, p, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return callback.results() >= 1; }));
    LogMark mark(CurrentLogPath());
    driver_stop_probe();
    EXPECT_NE(
        mark.Text().find("-Tactus: driver_stop_probe call_back=" + Hex(&callback) + ",tip=NONE\n"),
        std::string::npos);
    const int reported = callback.results();
    Idle(200);
    EXPECT_EQ(callback.results(), reported);
    EXPECT_TRUE(Events(HostEventKind::SetMode).empty());
}

TEST_F(CommandsTest, ManualHitSendsTheTakeHitCommand) {
    machine.takeHit = "TAKE";
    peer->Answer("TAKE", HitLine(3.0, 2.0, 1.0, 0.0, 0.0, 0.0, 1.0));
    StartAndSettle();
    HostCallback callback;
    const double p[3] = {0, 0, 0};
    LogMark mark(CurrentLogPath());
    driver_manual_hit(&callback, p, p, nullptr);
    EXPECT_NE(mark.Text().find(">Tactus:    Send TAKE\n"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return callback.results() == 1; }));
    const HostEvent result = Events(HostEventKind::ReportResult).back();
    EXPECT_EQ(result.ints.at(1), 1);
    EXPECT_DOUBLE_EQ(result.values.at(0), 3.0);
}

TEST_F(CommandsTest, RequestsWithoutChannelSendNothing) {
    machine.transport = "none";
    ASSERT_EQ(Start(), 0);
    HostCallback callback;
    driver_manual_hit(&callback, nullptr, nullptr, nullptr);
    driver_read_position(&callback, nullptr);
    Idle(100);
    EXPECT_EQ(LogText().find(">Tactus:    Send"), std::string::npos);
    driver_stop_probe();
}

}  // namespace
}  // namespace drivertest
