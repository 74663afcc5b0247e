// driver_close acts once per start-up, so it has a test program of its own: the first call
// stops the server the driver started (no zombie stays), the timer and the channel; the
// second call does nothing at all; after a new start-up the next close acts again.

#include <signal.h>

#include <cerrno>
#include <fstream>

#include "tests/driver/core/driver/DriverFixture.h"

namespace drivertest {
namespace {

using CloseTest = DriverFixture;

TEST_F(CloseTest, CloseActsOnceAndStopsTheServer) {
    const char* bin = std::getenv("VEX_BIN_DIR");
    const int port = FreePort();
    const std::string record = WorkFolder() + "/server-args.txt";
    machine.port = port;
    machine.startExe = std::string(bin ? bin : ".") + "/tactus_fake_vexserver " +
                       std::to_string(port) + " 0 " + record;
    machine.autoResetCounters = "true";
    ASSERT_EQ(Start(), 0);
    ASSERT_TRUE(WaitForReadout(10.0, 20.0, 30.0));
    pid_t pid = 0;
    std::ifstream(record) >> pid;
    ASSERT_GT(pid, 0);

    LogMark first(CurrentLogPath());
    driver_close();
    const std::string text = first.Text();
    const std::size_t killed = text.find("-Tactus: Killed server process! hResult = 0\n");
    const std::size_t closed = text.find("-Tactus: driver_close\n");
    const std::size_t volcomp = text.find("CloseVolcomp: pVolComp = ");
    ASSERT_NE(killed, std::string::npos) << text;
    ASSERT_NE(closed, std::string::npos);
    ASSERT_NE(volcomp, std::string::npos);
    EXPECT_LT(killed, closed);
    EXPECT_LT(closed, volcomp);
    // Reaped: not even a zombie is left.
    EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH);

    // The poll timer is gone: nothing more reaches the host.
    QlnRecorder().clear();
    Idle(300);
    EXPECT_TRUE(QlnRecorder().events().empty());

    LogMark second(CurrentLogPath());
    driver_close();
    Idle(100);
    EXPECT_EQ(second.Text(), "");
    EXPECT_TRUE(QlnRecorder().events().empty());
    EXPECT_EQ(driver_Initialize_WCompens32(L"compens.dat", 0), -1);

    // Started again after the close: that server must not outlive the next close.
    std::remove(record.c_str());
    ASSERT_EQ(Start(), 0);
    pid_t again = 0;
    std::ifstream(record) >> again;
    ASSERT_GT(again, 0);
    ASSERT_NE(again, pid);
    driver_close();
    EXPECT_TRUE(::kill(again, 0) != 0 && errno == ESRCH) << "server left behind";
}

}  // namespace
}  // namespace drivertest
