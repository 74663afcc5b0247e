// BnsVolcomp: which map the host's answers select, the messages of every outcome, and how
// the grid correction and the compensation origin join the map's correction.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <fstream>

#include "driver/volcomp/VolcompStrings.h"
#include "driver/volcomp/bns/BnsKeyMaterial.h"
#include "driver/volcomp/bns/BnsVolcomp.h"
#include "host/QlnServices.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"
#include "tests/driver/volcomp/bns/BnsTestMaps.h"

using bnstest::TestMap;

namespace {

std::string Narrow(const std::wstring& text) {
    return QString::fromStdWString(text).toStdString();
}

void WriteFile(const char* name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

std::vector<double> WithoutData(const TestMap& layout) {
    auto values = layout.Values();
    for (std::size_t i = 15; i < values.size(); ++i)
        values[i] = 0.0;
    return values;
}

bnstest::Key StandInFileKey() {
    const BnsKeyMaterial standIn = BnsKeyMaterial::StandIn();
    return bnstest::FileKey(standIn.passPhrase, standIn.secret);
}

class BnsVolcompTest : public ::testing::Test {
  protected:
    void SetUp() override {
        volcomptest::ResetHost();
        unsetenv(bns::kKeyFileVariable);
        app.machineName = L"Mill";
        app.hostIface = &iface;
    }

    int Load(BnsVolcomp& volcomp, int rotaryTable = 0, int rotaryValue2 = 0, CPoint3 origin = {}) {
        volcomp.SetContext(&app, &iface, 0, rotaryTable, rotaryValue2, 1, origin);
        return volcomp.LoadCompensation(L"comp.dat", 0);
    }

    std::vector<std::wstring> BoxTexts() const {
        std::vector<std::wstring> texts;
        for (const HostEvent& e : QlnRecorder().eventsOf(HostEventKind::MessageBox))
            texts.push_back(e.id ? QlnLoadString(unsigned(e.id)) : e.text);
        return texts;
    }

    volcomptest::ScopedWorkDir dir;
    volcomptest::LogView log;
    CQLNapplication app;
    CQLNhostInterface iface;
};

}  // namespace

TEST_F(BnsVolcompTest, HostAnswersSelectTheMap) {
    enum Enc { kNoEnc, kGoodEnc, kBadEnc };
    struct Row {
        const char* legend;
        int option63;
        int fallback;
        Enc enc;
        bool plain;
        int result;
        const wchar_t* status;  // null: none; else the status text expected
        const char* fileRead;
        bool plainIsFifo = false;  // would block the load if it were opened
    };
    const std::wstring notRead = QlnLoadString(BnsVolcomp::kMsgMapNotRead);
    const Row rows[] = {
        {"plain map", 0, 0, kGoodEnc, true, 1, nullptr, "comp.dat"},
        {"plain map missing", 0, 1, kGoodEnc, false, 0, notRead.c_str(), "comp.dat"},
        {"option 63 answers 2: not enciphered", 2, 0, kGoodEnc, false, 0, notRead.c_str(),
         "comp.dat"},
        {"enciphered map", 1, 0, kGoodEnc, false, 1, nullptr, "comp.enc"},
        {"enciphered map missing: final even with the fallback", 1, 1, kNoEnc, true, -3,
         BnsVolcomp::kEncipheredMissingText, "comp.enc"},
        {"enciphered map unreadable, fallback allowed", 1, 1, kBadEnc, true, 1, nullptr,
         "comp.dat"},
        {"enciphered map unreadable, no fallback", 1, 0, kBadEnc, true, 0, notRead.c_str(),
         "comp.enc"},
        {"plain map is a FIFO", 0, 0, kNoEnc, false, 0, notRead.c_str(), "comp.dat", true},
    };
    TestMap layout;
    for (const Row& row : rows) {
        volcomptest::ResetHost();
        QlnConfig().options[BnsVolcomp::kOptionEncipheredMaps] = row.option63;
        QlnConfig().fallbackPermission = row.fallback;
        std::remove("comp.dat");
        std::remove("comp.enc");
        if (row.plain)
            WriteFile("comp.dat", bnstest::AsText(layout.Values()));
        if (row.plainIsFifo)
            mkfifo("comp.dat", 0600);
        if (row.enc != kNoEnc)
            WriteFile("comp.enc", bnstest::AsEnciphered(layout.Values(),
                                                        row.enc == kGoodEnc
                                                            ? StandInFileKey()
                                                            : bnstest::KeyFromPassPhrase("wrong")));
        const volcomptest::LogView rowLog;
        BnsVolcomp volcomp;
        EXPECT_EQ(Load(volcomp), row.result) << row.legend;
        EXPECT_EQ(volcomp.IsReady(), row.result > 0 ? 1 : 0) << row.legend;
        EXPECT_TRUE(rowLog.Has(std::string("CMM=Mill BNS_Volcomp Filename=[") + row.fileRead +
                               "], nResult=" + std::to_string(row.result) + "\n"))
            << row.legend << "\n"
            << rowLog.Text();

        const auto status = QlnRecorder().eventsOf(HostEventKind::StatusMessage);
        const auto boxes = BoxTexts();
        const std::wstring failed = QlnLoadString(kMsgCompNotLoaded);
        if (row.status) {
            ASSERT_EQ(status.size(), 1u) << row.legend;
            EXPECT_EQ(status[0].id ? QlnLoadString(unsigned(status[0].id)) : status[0].text,
                      row.status)
                << row.legend;
            EXPECT_EQ(status[0].ints, (std::vector<int>{0, -1})) << row.legend;
            ASSERT_FALSE(boxes.empty()) << row.legend;
            EXPECT_EQ(boxes[0], failed) << row.legend;
            EXPECT_TRUE(rowLog.Has("CMM=Mill BNS_Volcomp ")) << "the reason is logged";
        } else {
            EXPECT_TRUE(status.empty()) << row.legend;
            EXPECT_EQ(std::count(boxes.begin(), boxes.end(), failed), 0) << row.legend;
        }
    }
}

TEST_F(BnsVolcompTest, GridAndDataMessages) {
    enum Grid { kNoGrid, kGoodGrid, kBadGrid };
    struct Row {
        const char* legend;
        Grid grid;
        bool data;
        std::vector<unsigned> messages;  // host strings shown, in order
    };
    const Row rows[] = {
        {"grid and map data", kGoodGrid, true, {kMsgGridActive}},
        {"grid without map data", kGoodGrid, false, {}},
        {"no grid, map data", kNoGrid, true, {}},
        {"neither grid nor map data", kNoGrid, false, {kMsgNoTableData}},
        {"damaged grid file", kBadGrid, true, {kMsgCompNotLoaded}},
    };
    TestMap layout;
    for (const Row& row : rows) {
        volcomptest::ResetHost();
        std::remove("compgrid.dat");
        volcomptest::GridFile grid;
        if (row.grid == kBadGrid)
            grid.comment = "SomethingElse";
        if (row.grid != kNoGrid)
            grid.Write();
        WriteFile("comp.dat", bnstest::AsBinary(row.data ? layout.Values() : WithoutData(layout)));
        const volcomptest::LogView rowLog;
        BnsVolcomp volcomp;
        EXPECT_EQ(Load(volcomp), 1) << row.legend;

        std::vector<std::wstring> expected;
        for (unsigned id : row.messages)
            expected.push_back(QlnLoadString(id) +
                               (id == kMsgCompNotLoaded ? L" - compgrid.dat" : L""));
        EXPECT_EQ(BoxTexts(), expected) << row.legend;
        for (const std::wstring& text : expected)
            EXPECT_TRUE(rowLog.Has("CMM=Mill " + Narrow(text))) << row.legend;
    }
}

TEST_F(BnsVolcompTest, RotaryDataLineNeedsTableAndMapData) {
    struct Row {
        int rotaryTable;
        int rotaryValue2;
        int rotaryPoints;
        bool logged;
    };
    const Row rows[] = {{1, 0, 4, true}, {1, 1, 4, false}, {0, 0, 4, false}, {1, 0, 0, false}};
    for (const Row& row : rows) {
        TestMap layout;
        layout.flags = 128 | 4 | 8;
        layout.rotaryPoints = row.rotaryPoints;
        WriteFile("comp.dat", bnstest::AsText(layout.Values()));
        const volcomptest::LogView rowLog;
        BnsVolcomp volcomp;
        EXPECT_EQ(Load(volcomp, row.rotaryTable, row.rotaryValue2), 1);
        EXPECT_EQ(rowLog.Has("CMM=Mill B&S volcomp - rotab present and compmap includes rotary "
                             "comp data\n"),
                  row.logged)
            << row.rotaryTable << row.rotaryValue2 << row.rotaryPoints;
    }
}

TEST_F(BnsVolcompTest, OriginEntersTheLeverArmAndTheGridWrapsTheMap) {
    // Type 8 with T0 = 0.01 and T5 = 0.001: ex = 0.01 + (y + Py) * 0.001, ey = -Px * 0.001.
    std::vector<double> values = {128 | 8, 2, 0, 0, 0, 0, 0, 1000, 1000, 1000, 1, 0, 0, 0, 0};
    for (int t = 0; t < 23; ++t)
        for (int i = 0; i < 2; ++i)
            values.push_back(t == 0 ? 0.01 : t == 5 ? 0.001 : 0.0);
    WriteFile("comp.dat", bnstest::AsBinary(values));
    const CPoint3 tip(1, 2, 3);
    const CPoint3 origin(0, 1, 0);  // probe vector (1, 1, 3)

    struct Row {
        const char* legend;
        bool grid;
        CPoint3 from;
        CPoint3 to;
    };
    const Row rows[] = {
        {"map alone, machine coordinates kept", false, {9.969, 20.001, 30}, {10.031, 19.999, 30}},
        {"grid (0.5, 0.25) before the map from the machine, after it to the machine",
         true,
         {10.5 - 0.03125, 20.251, 30},
         {10.031 - 0.5, 19.999 - 0.25, 30}},
    };
    for (const Row& row : rows) {
        std::remove("compgrid.dat");
        if (row.grid) {
            volcomptest::GridFile grid;
            grid.cell = [](int, int, int) { return std::array<double, 2>{0.5, 0.25}; };
            grid.Write();
        }
        BnsVolcomp volcomp;
        ASSERT_EQ(Load(volcomp, 0, 0, origin), 1);
        const volcomptest::LogView rowLog;
        CPoint3 in(10, 20, 30);
        CPoint3 out;
        volcomp.CompensateFromCMM(tip, in, out);
        CPoint3 same(10, 20, 30);
        volcomp.CompensateFromCMM(tip, same, same);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(out[c], row.from[c], 1e-12) << row.legend;
            EXPECT_NEAR(same[c], row.from[c], 1e-12) << row.legend << " (in is out)";
        }
        volcomp.CompensateToCMM(tip, in, out);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out[c], row.to[c], 1e-12) << row.legend;
        EXPECT_EQ(in, CPoint3(10, 20, 30));
        EXPECT_TRUE(
            rowLog.Has("BnsVolcomp Entering CompensateFromCMM with in=(10.000000 "
                       "20.000000 30.000000), out=(0.000000 0.000000 0.000000)\n"));
        EXPECT_EQ(rowLog.Count("BnsVolcomp: exiting CompensateFromCMM with in=("), 2);
        EXPECT_EQ(rowLog.Count("BnsVolcomp Entering CompensateToCMM with in=("), 1);
        EXPECT_EQ(rowLog.Count("BnsVolcomp Exiting CompensateToCMM with in=("), 1);
    }
}
