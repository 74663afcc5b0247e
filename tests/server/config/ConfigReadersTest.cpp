// The settings readers against XML files written into a temporary directory.

#include "server/config/ConfigReaders.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "server/config/ServerConfigNames.h"
#include "server/config/XmlValues.h"
#include "server/device/VexEnc7480.h"
#include "server/device/VexSimulator.h"

void PrintTo(const Enc7480Settings& s, std::ostream* os) {
    *os << "{logic " << s.triggerLogic << ", mode " << s.countMode << ", ez " << s.indexPulseEnable
        << "/" << s.indexPulseLevel << ", channel " << s.triggerChannel << ", counts "
        << s.xCountsPerMm << "/" << s.yCountsPerMm << "/" << s.zCountsPerMm << "/"
        << s.wCountsPerTurn << ", depth " << s.vectorDepth << ", sensitivity "
        << s.vectorSensitivity << "}";
}

namespace {

class ConfigTest : public ::testing::Test {
  protected:
    QString Write(const char* name, const QByteArray& content) {
        const QString path = dir_.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        return path;
    }

    QTemporaryDir dir_;
};

struct ServerRow {
    const char* legend;
    QByteArray children;  // inside the document element
    const char* interfaceName;
    int port;
    int windowMode;
    int pollTime;
    int idleClientTime = 30;
    const char* problem = nullptr;  // the one problem reported, if any
};

TEST_F(ConfigTest, ServerFileKeys) {
    const std::vector<ServerRow> rows = {
        {"every key",
         "<INTERFACE>SIMULATOR</INTERFACE><TCPPortNumber>4000</TCPPortNumber>"
         "<WINDOW_HIDE_SHOW>HIDE</WINDOW_HIDE_SHOW><POLL_TIME>20</POLL_TIME>",
         "SIMULATOR", 4000, 0, 20},
        {"nothing set: empty interface, window shown", "", "", 1390, 5, 50},
        {"SHOW shows the window", "<WINDOW_HIDE_SHOW>SHOW</WINDOW_HIDE_SHOW>", "", 1390, 5, 50},
        {"lower-case hide shows the window", "<WINDOW_HIDE_SHOW>hide</WINDOW_HIDE_SHOW>", "", 1390,
         5, 50},
        {"hexadecimal port", "<TCPPortNumber>0x56E</TCPPortNumber>", "", 1390, 5, 50},
        {"octal port", "<TCPPortNumber>010</TCPPortNumber>", "", 8, 5, 50},
        {"port digits before junk", "<TCPPortNumber>12abc</TCPPortNumber>", "", 12, 5, 50},
        {"port without digits keeps 1390", "<TCPPortNumber>abc</TCPPortNumber>", "", 1390, 5, 50},
        {"empty port is 1390", "<TCPPortNumber></TCPPortNumber>", "", 1390, 5, 50},
        {"POLL_TIME missing is 50", "<INTERFACE>ENC7480</INTERFACE>", "ENC7480", 1390, 5, 50},
        {"tag names are case-sensitive", "<interface>SIMULATOR</interface>", "", 1390, 5, 50},
        {"the first of two elements counts",
         "<INTERFACE>SIMULATOR</INTERFACE><INTERFACE>ENC7480</INTERFACE>", "SIMULATOR", 1390, 5,
         50},
        {"surrounding white space is not part of a value",
         "<INTERFACE>\n  SIMULATOR\n</INTERFACE><POLL_TIME> 75 </POLL_TIME>", "SIMULATOR", 1390, 5,
         75},
        {"an element holding elements has no value",
         "<TCPPortNumber><n>5</n></TCPPortNumber><INTERFACE><x>ENC7480</x></INTERFACE>", "", 1390,
         5, 50},
        {"keys below another element are not seen",
         "<Server><INTERFACE>SIMULATOR</INTERFACE></Server>", "", 1390, 5, 50},
        {"POLL_TIME of 2^32 would never poll: lowered to 10000",
         "<POLL_TIME>4294967296</POLL_TIME>", "", 1390, 5, 10000, 30,
         "POLL_TIME is 2147483647 in VEX.XML, outside 10 to 10000; 10000 is used"},
        {"IdleClientTime in seconds", "<IdleClientTime>5</IdleClientTime>", "", 1390, 5, 50, 5},
        {"a negative IdleClientTime is 0", "<IdleClientTime>-1</IdleClientTime>", "", 1390, 5, 50,
         0, "IdleClientTime is -1 in VEX.XML, outside 0 to 3600; 0 is used"},
    };
    for (const ServerRow& row : rows) {
        SCOPED_TRACE(row.legend);
        const QString path = Write("VEX.XML", "<?xml version=\"1.0\"?><Anything><!-- c -->" +
                                                  row.children + "</Anything>");
        ServerConfig config;
        QStringList problems;
        EXPECT_TRUE(ReadServerConfig(path, config, &problems));
        EXPECT_EQ(config.interfaceName, QString::fromLatin1(row.interfaceName));
        EXPECT_EQ(config.tcpPort, row.port);
        EXPECT_EQ(config.windowMode, row.windowMode);
        EXPECT_EQ(config.pollTime, row.pollTime);
        EXPECT_EQ(config.idleClientTime, row.idleClientTime);
        EXPECT_EQ(problems, row.problem ? QStringList{row.problem} : QStringList{});
    }
}

TEST_F(ConfigTest, UnloadableServerFileEmptiesOnlyTheInterface) {
    const std::vector<std::pair<const char*, QString>> rows = {
        {"missing file", dir_.filePath("VEX.XML")},
        {"not well formed", Write("BAD.XML", "<VEX><INTERFACE>SIMULATOR</VEX>")},
    };
    for (const auto& [legend, path] : rows) {
        SCOPED_TRACE(legend);
        ServerConfig config;
        config.tcpPort = 777;
        EXPECT_FALSE(ReadServerConfig(path, config));
        EXPECT_EQ(config.interfaceName, QString());
        EXPECT_EQ(config.tcpPort, 777);
        EXPECT_EQ(config.windowMode, ServerConfig::kWindowHidden);
        EXPECT_EQ(config.pollTime, 50);
    }
}

TEST_F(ConfigTest, BindAddressKey) {
    const std::vector<std::pair<const char*, std::pair<QByteArray, const char*>>> rows = {
        {"absent: all interfaces", {"", ""}},
        {"empty: all interfaces", {"<BindAddress></BindAddress>", ""}},
        {"loopback only", {"<BindAddress>127.0.0.1</BindAddress>", "127.0.0.1"}},
        {"white space around it is dropped", {"<BindAddress>\n  ::1 </BindAddress>", "::1"}},
        {"the tag name is case-sensitive", {"<bindaddress>127.0.0.1</bindaddress>", ""}},
        {"an element holding elements has no value",
         {"<BindAddress><a>127.0.0.1</a></BindAddress>", ""}},
    };
    for (const auto& [legend, row] : rows) {
        SCOPED_TRACE(legend);
        const QString path =
            Write("VEX.XML", "<VEX><INTERFACE>SIMULATOR</INTERFACE>" + row.first + "</VEX>");
        ServerConfig config;
        EXPECT_TRUE(ReadServerConfig(path, config));
        EXPECT_EQ(config.bindAddress, QString::fromLatin1(row.second));
        EXPECT_EQ(config.interfaceName, QStringLiteral("SIMULATOR"));
    }
}

QByteArray CardFile(const QByteArray& keys) {
    return "<VEXENC7480><Card number=\"0\">" + keys + "</Card></VEXENC7480>";
}

struct CardRow {
    const char* legend;
    QByteArray file;
    Enc7480Settings expected;
    int capacity;
    int problems;
};

TEST_F(ConfigTest, CardFileKeys) {
    Enc7480Settings all;
    all.triggerLogic = 1;
    all.countMode = 2;
    all.indexPulseEnable = 1;
    all.indexPulseLevel = 1;
    all.triggerChannel = 2;
    all.xCountsPerMm = 1000;
    all.yCountsPerMm = 1024;
    all.zCountsPerMm = -500;
    all.wCountsPerTurn = 36000;
    all.vectorDepth = 3;
    all.vectorSensitivity = 0.25;
    const auto with = [](auto change) {
        Enc7480Settings s;
        change(s);
        return s;
    };
    const std::vector<CardRow> rows = {
        {"every key",
         CardFile("<SetTriggerLogic>FALLING_EDGE</SetTriggerLogic>"
                  "<CountConfig>MODE_TWO_AB_PHASE</CountConfig><EZLogic>ENABLED</EZLogic>"
                  "<SetEZLogic>ACTIVE_HIGH</SetEZLogic><TriggerChannel>TR_2</TriggerChannel>"
                  "<X_COUNTS_PER_MM>1000</X_COUNTS_PER_MM><Y_COUNTS_PER_MM>0x400</Y_COUNTS_PER_MM>"
                  "<Z_COUNTS_PER_MM>-500</Z_COUNTS_PER_MM>"
                  "<W_COUNTS_PER_TURN>36000</W_COUNTS_PER_TURN><CAL_VEC_DEPTH>3</CAL_VEC_DEPTH>"
                  "<POINT_HISTORY>30</POINT_HISTORY>"
                  "<VECTOR_SENSITIVITY>0.25</VECTOR_SENSITIVITY>"),
         all, 30, 0},
        {"keys under the document element instead of Card keep defaults",
         "<VEXENC7480><TriggerChannel>TR_2</TriggerChannel><CAL_VEC_DEPTH>3</CAL_VEC_DEPTH>"
         "<POINT_HISTORY>30</POINT_HISTORY></VEXENC7480>",
         {},
         20,
         0},
        {"three-phase mode counts in mode 3",
         CardFile("<CountConfig>MODE_THREE_AB_PHASE</CountConfig>"),
         with([](Enc7480Settings& s) { s.countMode = 3; }), 20, 0},
        {"four-phase mode counts in mode 3 too",
         CardFile("<CountConfig>MODE_FOUR_AB_PHASE</CountConfig>"),
         with([](Enc7480Settings& s) { s.countMode = 3; }), 20, 0},
        {"unknown trigger channel TR_3 keeps channel 1",
         CardFile("<TriggerChannel>TR_3</TriggerChannel>"),
         {},
         20,
         0},
        {"enumerated values are case-sensitive",
         CardFile("<SetTriggerLogic>falling_edge</SetTriggerLogic>"),
         {},
         20,
         0},
        {"sensitivity of half a millimetre",
         CardFile("<VECTOR_SENSITIVITY>0.5</VECTOR_SENSITIVITY>"),
         with([](Enc7480Settings& s) { s.vectorSensitivity = 0.5; }), 20, 0},
        {"a history of 0", CardFile("<POINT_HISTORY>0</POINT_HISTORY>"), {}, 0, 0},
        {"a negative history is 0, reported",
         CardFile("<POINT_HISTORY>-3</POINT_HISTORY>"),
         {},
         0,
         1},
        {"a history of two billion is clamped, reported",
         CardFile("<POINT_HISTORY>2000000000</POINT_HISTORY>"),
         {},
         10000,
         1},
        {"zero scales keep their defaults and are reported",
         CardFile("<X_COUNTS_PER_MM>0</X_COUNTS_PER_MM><Y_COUNTS_PER_MM>200</Y_COUNTS_PER_MM>"
                  "<W_COUNTS_PER_TURN>0x0</W_COUNTS_PER_TURN>"),
         with([](Enc7480Settings& s) { s.yCountsPerMm = 200; }), 20, 2},
    };
    for (const CardRow& row : rows) {
        SCOPED_TRACE(row.legend);
        VexEnc7480 card;
        QStringList problems;
        EXPECT_TRUE(ReadEnc7480Config(Write("VEXENC7480.XML", row.file), card, &problems));
        EXPECT_EQ(card.Settings(), row.expected);
        EXPECT_EQ(card.History().Capacity(), row.capacity);
        EXPECT_EQ(problems.size(), row.problems) << problems.join('|').toStdString();
    }
}

TEST_F(ConfigTest, ZeroScaleProblemNamesKeyFileAndDefault) {
    VexEnc7480 card;
    QStringList problems;
    ReadEnc7480Config(Write("VEXENC7480.XML", CardFile("<W_COUNTS_PER_TURN>0</W_COUNTS_PER_TURN>")),
                      card, &problems);
    EXPECT_EQ(problems, QStringList{"W_COUNTS_PER_TURN is 0 in VEXENC7480.XML; the default 360 is "
                                    "used"});
}

TEST_F(ConfigTest, MissingCardFileRestoresTheCardDefaults) {
    VexEnc7480 card;
    Enc7480Settings before;
    before.triggerLogic = 1;
    before.countMode = 3;
    before.triggerChannel = 2;
    before.xCountsPerMm = 7;
    before.wCountsPerTurn = 9;
    before.vectorDepth = 2;
    before.vectorSensitivity = 1.5;
    card.SetSettings(before);
    card.SetHistoryCapacity(8);

    EXPECT_FALSE(ReadEnc7480Config(dir_.filePath("VEXENC7480.XML"), card));
    Enc7480Settings expected;
    // The vector parameters and the history are not card settings: they stay as they were.
    expected.vectorDepth = 2;
    expected.vectorSensitivity = 1.5;
    EXPECT_EQ(card.Settings(), expected);
    EXPECT_EQ(card.History().Capacity(), 8);
}

TEST_F(ConfigTest, HistoryOfZeroLeavesEveryHitWithoutAVector) {
    VexEnc7480 card;
    ReadEnc7480Config(Write("VEXENC7480.XML", CardFile("<POINT_HISTORY>0</POINT_HISTORY>")), card);
    EXPECT_EQ(card.History().Size(), 0);
    EXPECT_THROW(card.GetHitVector(), std::out_of_range);
}

TEST_F(ConfigTest, SimulatorKeepsFivePositionsWithoutReadingAFile) {
    VexSimulator simulator;
    EXPECT_TRUE(ReadSimulatorConfig(dir_.filePath("VexSimulator.XML"), simulator));
    EXPECT_EQ(simulator.History().Capacity(), 5);
}

TEST(XmlValuesTest, CStyleIntegers) {
    struct Row {
        const char* legend;
        const char* text;
        std::optional<int> expected;
    };
    const std::vector<Row> rows = {
        {"signed hexadecimal", "  -0x1F", -31},
        {"upper-case prefix", "0X10", 16},
        {"plus sign", "+7", 7},
        {"prefix without hex digits is the 0 before it", "0x", 0},
        {"octal stops at 8", "0789", 7},
        {"beyond int is clamped", "99999999999", INT_MAX},
        {"sign alone", "-", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        EXPECT_EQ(XmlValues::ParseInteger(QString::fromLatin1(row.text)), row.expected);
    }
}

TEST(XmlValuesTest, Reals) {
    struct Row {
        const char* legend;
        const char* text;
        std::optional<double> expected;
    };
    const std::vector<Row> rows = {
        {"decimal point", "0.5", 0.5},           {"exponent", "25e-2", 0.25},
        {"no leading digit", ".5", 0.5},         {"plus sign", "+1.5", 1.5},
        {"a comma ends the number", "1,5", 1.0}, {"not a number", "nan", std::nullopt},
        {"words", "half", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        EXPECT_EQ(XmlValues::ParseReal(QString::fromLatin1(row.text)), row.expected);
    }
}

}  // namespace
