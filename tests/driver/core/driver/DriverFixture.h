#pragma once
// The fixture of the driver tests: a fresh host stand-in, settings that open the debug log,
// a scripted server and a machine file pointing at it. TearDown() runs driver_initialize
// without a machine file, which releases whatever the test set up (and fails harmlessly),
// so no timer or channel of one test outlives it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver/core/DriverExports.h"
#include "host/HostRecorder.h"
#include "host/QlnServices.h"
#include "tests/driver/core/driver/DriverTestSupport.h"

namespace drivertest {

class DriverFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { SetUpHostProcess(); }

    void SetUp() override {
        ResetHost();
        ResetSettings(WorkFolder() + "/driver-test.log");
        peer = std::make_unique<ScriptedPeer>();
        machine.port = peer->Port();
    }

    void TearDown() override {
        RemoveMachineFile();
        driver_initialize();
        peer.reset();
    }

    // Writes the machine file, clears the host's records and starts the driver.
    int Start() {
        machine.Write();
        QlnRecorder().clear();
        log = std::make_unique<LogMark>(CurrentLogPath());
        return driver_initialize();
    }

    // Starts the driver and waits until the server is asked for a position and the host
    // has been told that initialisation is complete.
    void StartAndSettle() {
        ASSERT_EQ(Start(), 0);
        ASSERT_TRUE(WaitUntil([&] { return peer->Count("POS") >= 1; }));
        ASSERT_TRUE(WaitUntil([] { return !Events(HostEventKind::MachineInitComplete).empty(); }));
    }

    // The position shown by the last readout (x, y, z, w), once `condition` holds for it.
    bool WaitForReadout(double x, double y, double z, double w = -1.0) {
        return WaitUntil([&] {
            const auto readouts = Events(HostEventKind::Readout);
            if (readouts.empty())
                return false;
            const std::vector<double>& v = readouts.back().values;
            return v.size() >= 4 && std::abs(v[0] - x) < 1e-9 && std::abs(v[1] - y) < 1e-9 &&
                   std::abs(v[2] - z) < 1e-9 && (w < 0.0 || std::abs(v[3] - w) < 1e-9);
        });
    }

    std::string LogText() const { return log ? log->Text() : std::string(); }

    // How many status messages (in words) contain `text`.
    static int StatusSaid(const std::wstring& text) {
        int count = 0;
        for (const HostEvent& e : Events(HostEventKind::StatusMessage))
            count += e.text.find(text) != std::wstring::npos;
        return count;
    }

    std::unique_ptr<ScriptedPeer> peer;
    MachineFile machine;
    std::unique_ptr<LogMark> log;
};

// A position line of the server: x y z w and the code 235.
inline std::string PositionLine(double x, double y, double z, double w) {
    char line[256];
    std::snprintf(line, sizeof line, "( %f %f %f %f ) 235\r\n", x, y, z, w);
    return line;
}

// A hit line of the server: x y z w i j k and the code 237.
inline std::string HitLine(double x, double y, double z, double w, double i, double j, double k) {
    char line[256];
    std::snprintf(line, sizeof line, "( %f %f %f %f %f %f %f ) 237\r\n", x, y, z, w, i, j, k);
    return line;
}

}  // namespace drivertest
