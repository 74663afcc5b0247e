// Event handling of libTactus.so against a scripted server: how replies become host
// positions and hits, the request cycle, and how hits complete or drop pending requests.

#include <cmath>

#include "host/HostCallback.h"
#include "host/HostConfig.h"
#include "tests/driver/core/driver/DriverFixture.h"

namespace drivertest {
namespace {

using EventsTest = DriverFixture;

std::vector<HostEvent> Results() {
    return Events(HostEventKind::ReportResult);
}

// ReportResult values: xyz (when given), ijk (when given), the two markers; ints: has xyz,
// has ijk.
bool HasVector(const HostEvent& result) {
    return result.ints.size() >= 2 && result.ints[1] != 0;
}

void ExpectPoint(const std::vector<double>& values, std::size_t at, double x, double y, double z) {
    ASSERT_GE(values.size(), at + 3);
    EXPECT_NEAR(values[at], x, 1e-9);
    EXPECT_NEAR(values[at + 1], y, 1e-9);
    EXPECT_NEAR(values[at + 2], z, 1e-9);
}

// --- Point conversion ------------------------------------------------------------------------

TEST_F(EventsTest, ReplyPointsAreMappedAndScaledToHostUnits) {
    struct Case {
        const char* legend;
        int x, y, z;         // axis codes
        double unit;         // host length unit U
        double w;            // W of the reply
        double expected[4];  // readout x, y, z, w
    };
    // Legend: axis codes and host unit; the reply is always (1, 2, 3, w) in millimetres.
    const Case cases[] = {
        {"identity, millimetres", 0, 2, 4, 25.4, 0.0, {1.0, 2.0, 3.0, 0.0}},
        {"X from reversed Y, Y from X", 3, 0, 4, 25.4, 0.0, {-2.0, 1.0, 3.0, 0.0}},
        {"all reversed and rotated", 5, 1, 2, 25.4, 0.0, {-3.0, -1.0, 2.0, 0.0}},
        {"inches", 0, 2, 4, 1.0, 0.0, {1.0 / 25.4, 2.0 / 25.4, 3.0 / 25.4, 0.0}},
        {"W -90 is 270", 0, 2, 4, 25.4, -90.0, {1.0, 2.0, 3.0, 270.0}},
        {"W 725 is 5", 0, 2, 4, 25.4, 725.0, {1.0, 2.0, 3.0, 5.0}},
        {"bad code keeps its own axis", 9, 2, 4, 25.4, 0.0, {1.0, 2.0, 3.0, 0.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        machine.axisX = c.x;
        machine.axisY = c.y;
        machine.axisZ = c.z;
        qlnTheApp->hostIface->lengthUnit = c.unit;
        peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, c.w));
        ASSERT_EQ(Start(), 0);
        EXPECT_TRUE(WaitForReadout(c.expected[0], c.expected[1], c.expected[2], c.expected[3]))
            << Events(HostEventKind::Readout).back().line();
    }
}

TEST_F(EventsTest, ReadoutButtonDecidesBetweenHitAndPosition) {
    machine.readoutButton = "true";
    peer->Answer("POS", PositionLine(4.0, 5.0, 6.0, 0.0));
    StartAndSettle();
    EXPECT_EQ(QlnMachineRecord(qlnTheApp->hostIface, 1)->readoutButtonMode, 1);

    // Readout state 1 (set by start-up): the reply is a position.
    ASSERT_TRUE(WaitForReadout(4.0, 5.0, 6.0));
    EXPECT_TRUE(Events(HostEventKind::ManualHit).empty());

    // The operator holds the button: the same reply is a hit.
    qlnTheApp->readoutState = 0;
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
    ExpectPoint(Events(HostEventKind::ManualHit)[0].values, 0, 4.0, 5.0, 6.0);
}

TEST_F(EventsTest, PointNotFiniteAfterConversionIsDropped) {
    qlnTheApp->hostIface->lengthUnit = 1e10;  // turns the finite 1e300 mm into infinity
    peer->Answer("POS", "( 1e300 2 3 0 ) 235\r\n");
    StartAndSettle();
    ASSERT_TRUE(WaitUntil(
        [&] { return LogText().find("pos not finite after conv") != std::string::npos; }));
    EXPECT_TRUE(std::isfinite(Events(HostEventKind::Readout).back().values.at(0)));
}

// --- Hits ----------------------------------------------------------------------------------

TEST_F(EventsTest, HitNoticeFetchesTheHitForTheHost) {
    struct Case {
        const char* legend;
        double ijk[3];
        double expected[3];
    };
    // Legend: the vector the server sends and the unit vector the host gets.
    const Case cases[] = {
        {"scaled to unit length", {0.0, 3.0, 4.0}, {0.0, 0.6, 0.8}},
        {"zero vector points along +Z", {0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, c.ijk[0], c.ijk[1], c.ijk[2]));
        StartAndSettle();
        QlnRecorder().clear();
        peer->Send("( HIT ) 241\r\n");
        ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
        const HostEvent hit = Events(HostEventKind::ManualHit)[0];
        ExpectPoint(hit.values, 0, 7.0, 8.0, 9.0);
        ExpectPoint(hit.values, 3, c.expected[0], c.expected[1], c.expected[2]);
        EXPECT_NE(LogText().find("-Tactus: HIT interrrupt\n"), std::string::npos);
        EXPECT_NE(LogText().find(">Tactus:    Sending: HIT\n"), std::string::npos);
    }
}

TEST_F(EventsTest, HitsWithoutDeliveryFlagAreNotRecorded) {
    peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, 0.0, 0.0, 1.0));
    StartAndSettle();
    qlnTheApp->hostIface->hitDeliveryFlag = 0;
    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([&] { return LogText().find("hit vector") != std::string::npos; }));
    Idle(100);
    EXPECT_TRUE(Events(HostEventKind::ManualHit).empty());
}

TEST_F(EventsTest, OperatorRequestedHitTakesTheCurrentPosition) {
    peer->Answer("POS", PositionLine(1.0, 1.0, 1.0, 0.0));
    StartAndSettle();
    ASSERT_TRUE(WaitForReadout(1.0, 1.0, 1.0));
    CQLNmachine* record = QlnMachineRecord(qlnTheApp->hostIface, 1);
    record->hitRequestFlags |= 1;
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
    ExpectPoint(Events(HostEventKind::ManualHit)[0].values, 0, 1.0, 1.0, 1.0);
    EXPECT_EQ(record->hitRequestFlags, 2);  // bit 0 cleared, the start-up value stays
}

TEST_F(EventsTest, MeasurePointCompletesWithTheNextHit) {
    peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, 1.0, 0.0, 0.0));
    StartAndSettle();
    HostCallback callback;
    const double target[3] = {0, 0, 0}, approach[3] = {0, 0, -1};
    driver_measure_point(&callback, target, approach, nullptr, 1, 2, 3, 4, 5);
    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([] { return !Results().empty(); }));
    const HostEvent result = Results()[0];
    ExpectPoint(result.values, 0, 7.0, 8.0, 9.0);
    ExpectPoint(result.values, 3, 1.0, 0.0, 0.0);
    EXPECT_TRUE(Events(HostEventKind::ManualHit).empty());

    // The request is complete: the next hit is the operator's.
    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::ManualHit).empty(); }));
    EXPECT_EQ(callback.results(), 1);
}

TEST_F(EventsTest, HitDuringManualScanIsDropped) {
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    peer->Answer("HIT", HitLine(7.0, 8.0, 9.0, 0.0, 0.0, 0.0, 1.0));
    StartAndSettle();
    HostCallback callback;
    const double p[3] = {0, 0, 0};
    driver_begin_manual_scan(&callback, p, p, nullptr);
    ASSERT_TRUE(WaitUntil([] { return !Results().empty(); }));  // positions are reported

    peer->Send("( HIT ) 241\r\n");
    ASSERT_TRUE(WaitUntil([&] { return LogText().find("hit vector") != std::string::npos; }));
    ASSERT_TRUE(WaitUntil([&] { return Results().size() >= 3; }));  // the scan goes on
    EXPECT_TRUE(Events(HostEventKind::ManualHit).empty());
    for (const HostEvent& result : Results())
        EXPECT_FALSE(HasVector(result)) << result.line();
    driver_end_manual_scan();
}

TEST_F(EventsTest, AutomaticHitCompletesAMeasurement) {
    QlnConfig().autoHitDistance = 1.0;
    peer->Answer("POS", PositionLine(0.0, 0.0, 0.0, 0.0));
    StartAndSettle();
    ASSERT_TRUE(WaitForReadout(0.0, 0.0, 0.0));
    // A short scan makes the origin the previous point of the detection.
    HostCallback scan;
    const double p[3] = {0, 0, 0};
    driver_begin_manual_scan(&scan, p, p, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return scan.results() >= 1; }));
    driver_end_manual_scan();
    QlnRecorder().clear();

    HostCallback callback;
    const double target[3] = {0, 0, 0}, approach[3] = {0, 0, -1};
    driver_measure_point(&callback, target, approach, nullptr, 1, 2, 3, 4, 5);
    // The probe moves 5 mm along X: more than the host's automatic-hit distance.
    peer->Answer("POS", PositionLine(5.0, 0.0, 0.0, 0.0));
    ASSERT_TRUE(WaitUntil([] { return !Results().empty(); }));
    const HostEvent result = Results()[0];
    ExpectPoint(result.values, 0, 5.0, 0.0, 0.0);
    ExpectPoint(result.values, 3, 1.0, 0.0, 0.0);
    EXPECT_NE(LogText().find("-Tactus: AUTO HIT[8](5.0000,0.0000,0.0000)(1.0000,0.0000,0.0000)\n"),
              std::string::npos);
    EXPECT_FALSE(Events(HostEventKind::AutoHitTest).empty());
}

// --- Position reads ----------------------------------------------------------------------------

TEST_F(EventsTest, ReadPositionWithOneAndWithTwoFormats) {
    // With both formats the read completes at once with the last position (before the
    // first one, with that first one); with the position format alone it waits for the next
    // reply.
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    ASSERT_EQ(Start(), 0);
    HostCallback early;  // no line is handled before the event loop runs
    driver_read_position(&early, nullptr);
    EXPECT_EQ(early.results(), 0) << "completed with a point never measured";
    EXPECT_EQ(Events(HostEventKind::MachineInitComplete).size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return early.results() == 1; }));
    HostCallback callback;
    driver_read_position(&callback, nullptr);
    ASSERT_EQ(Results().size(), 2u);
    ExpectPoint(Results()[0].values, 0, 1.0, 2.0, 3.0);
    ExpectPoint(Results()[1].values, 0, 1.0, 2.0, 3.0);
    EXPECT_NE(LogText().find("-Tactus: driver_read_positiondriver_read_position call_back="),
              std::string::npos);
    EXPECT_NE(LogText().find(">Tactus:    Send POS\n"), std::string::npos);

    machine.hitReply = "\"( %lf %lf %lf %lf ) %3c\"";
    machine.positionReply = "";
    peer->Answer("POS", "");
    ASSERT_EQ(Start(), 0);
    HostCallback single;
    driver_read_position(&single, nullptr);
    Idle(100);
    EXPECT_EQ(single.results(), 0);
    peer->Send(PositionLine(4.0, 5.0, 6.0, 0.0));
    ASSERT_TRUE(WaitUntil([&] { return single.results() == 1; }));
    ExpectPoint(Results().back().values, 0, 4.0, 5.0, 6.0);
}

TEST_F(EventsTest, HitBecomesAReadoutWhileReadingAPosition) {
    machine.hitReply = "\"%lf %lf %lf HIT\"";
    machine.positionReply = "";
    StartAndSettle();
    HostCallback callback;
    driver_read_position(&callback, nullptr);
    peer->Send("1.5 2.5 3.5 HIT\n");
    ASSERT_TRUE(WaitUntil([&] { return callback.results() == 1; }));
    const HostEvent result = Results()[0];
    ExpectPoint(result.values, 0, 1.5, 2.5, 3.5);
    EXPECT_FALSE(HasVector(result));
    EXPECT_TRUE(Events(HostEventKind::ManualHit).empty());
    EXPECT_NE(LogText().find("-Tactus: hit becomes a readout =1.500000,2.500000,3.500000\n"),
              std::string::npos);
}

TEST_F(EventsTest, UnansweredPositionRequestIsSentAgain) {
    StartAndSettle();  // the server never answers
    ASSERT_TRUE(WaitUntil([&] { return peer->Count("POS") >= 2; }));
    EXPECT_NE(LogText().find("<Tactus: POS request timed-out\n"), std::string::npos);
}

// A line far longer than the old 203-character buffer is read whole.
TEST_F(EventsTest, LongReplyIsProcessedWhole) {
    StartAndSettle();
    const std::string padded = "1." + std::string(5000, '0');
    peer->Send("( " + padded + " 2.000000 3.000000 4.000000 ) 235\r\n");
    EXPECT_TRUE(WaitForReadout(1.0, 2.0, 3.0, 4.0));
}

TEST_F(EventsTest, ServerGreetingIsLogged) {
    StartAndSettle();
    peer->Send("( VEXVersion:20 ) 240\r\n");
    EXPECT_TRUE(WaitUntil(
        [&] { return LogText().find("-Tactus: VexServer version: 20\n") != std::string::npos; }));
}

TEST_F(EventsTest, UnparsableReplyIsLoggedAndSkipped) {
    peer->Answer("POS", PositionLine(1.0, 2.0, 3.0, 0.0));
    machine.hitReply = "\"%lf %lf\"";  // two values fit no reply layout
    machine.positionReply = "";
    StartAndSettle();
    EXPECT_TRUE(WaitUntil([&] {
        return LogText().find("XYZParserException: number of floats parsed bad\n") !=
               std::string::npos;
    }));
    EXPECT_GE(peer->Count("POS"), 1);
}

}  // namespace
}  // namespace drivertest
