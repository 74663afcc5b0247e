// The machine file reader: value rules, lookup rules, the channel children chosen by
// Transport, the reply format list, and files that cannot be read.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>

#include "driver/comm/parser/XYZParser.h"
#include "driver/core/machine/MachineFileReader.h"
#include "driver/core/machine/MachineValues.h"

namespace {

using namespace machinefile;

// A machine file whose Misc holds `misc` and whose other groups are `rest`.
std::string File(const std::string& misc, const std::string& rest = "") {
    return "<?xml version=\"1.0\"?><Machine><Misc cmm=\"M1\">" + misc + "</Misc>" + rest +
           "</Machine>";
}

MachineConfig Read(const std::string& xml) {
    const MachineFileResult result = ReadMachineText(xml);
    EXPECT_TRUE(result.ok) << QString::fromStdWString(result.error).toStdString();
    return result.config;
}

template <typename T>
const T* Only(const MachineConfig& config) {
    EXPECT_EQ(config.channels.size(), 1u);
    return config.channels.size() == 1 ? std::get_if<T>(&config.channels[0]) : nullptr;
}

TEST(MachineValues, ScanLikeTheCConversions) {
    struct IntRow {
        const char* legend;
        const wchar_t* text;
        std::optional<int> expected;
    };
    const IntRow ints[] = {
        {"hexadecimal", L"0x40", 64},
        {"a word is no number", L"fast", std::nullopt},
        {"blanks skipped, stops at the unit", L"  12ms", 12},
        {"leading zero is octal", L"010", 8},
        {"negative", L"-5", -5},
        {"empty", L"", std::nullopt},
        {"too large is clamped", L"99999999999", std::numeric_limits<int>::max()},
    };
    for (const IntRow& row : ints)
        EXPECT_EQ(ScanInteger(row.text), row.expected) << row.legend;

    struct RealRow {
        const char* legend;
        const wchar_t* text;
        std::optional<double> expected;
    };
    const RealRow reals[] = {
        {"stops at the unit", L"2.5mm", 2.5},
        {"exponent", L"1e-3", 0.001},
        {"plus sign and blanks", L" +4", 4.0},
        {"negative", L"-0.5", -0.5},
        {"decimal comma stops the number", L"1,5", 1.0},
        {"hexadecimal", L"0x10", 16.0},
        {"not a number is refused", L"nan", std::nullopt},
        {"infinity is refused", L"-inf", std::nullopt},
        {"a word", L"abc", std::nullopt},
        {"two signs", L"+-1", std::nullopt},
    };
    for (const RealRow& row : reals)
        EXPECT_EQ(ScanReal(row.text), row.expected) << row.legend;

    struct BoolRow {
        const char* legend;
        const wchar_t* text;
        std::optional<bool> expected;
    };
    const BoolRow bools[] = {
        {"lower case", L"true", true},         {"upper case", L"FALSE", false},
        {"mixed case", L"True", std::nullopt}, {"a digit", L"1", std::nullopt},
        {"empty", L"", std::nullopt},
    };
    for (const BoolRow& row : bools)
        EXPECT_EQ(ScanBoolean(row.text), row.expected) << row.legend;
}

TEST(MachineFileReader, EdgeCasesOfTheFile) {
    struct Row {
        const char* legend;
        std::string xml;
        std::function<void(const MachineConfig&)> expect;
    };
    const Row rows[] = {
        {"HasJogbox True is not a boolean text: keeps false",
         File("<Data><HasJogbox>True</HasJogbox><HasRotaryTable>TRUE</HasRotaryTable></Data>"),
         [](const MachineConfig& c) {
             EXPECT_FALSE(c.misc.HasJogbox);
             EXPECT_FALSE(c.misc.fromFile.contains(kHasJogbox));
             EXPECT_TRUE(c.misc.HasRotaryTable);
         }},
        {"RequestInterval 0x40 is 64 ms",
         File("<Data><RequestInterval>0x40</RequestInterval></Data>"),
         [](const MachineConfig& c) { EXPECT_EQ(c.misc.RequestInterval, 64); }},
        {"RequestInterval fast keeps 100 ms",
         File("<Data><RequestInterval>fast</RequestInterval></Data>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.RequestInterval, 100);
             EXPECT_FALSE(c.misc.fromFile.contains(kRequestInterval));
         }},
        {"RequestInterval is kept in 16 bits",
         File("<Data><RequestInterval>65636</RequestInterval></Data>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.RequestInterval, 100);
             EXPECT_EQ(c.misc.requestIntervalWritten, 65636);
         }},
        {"the second Data without ScaleX resets it to 1.0",
         File("<Data><ScaleX>2.5</ScaleX><AxisY>3</AxisY></Data><Data><AxisY>1</AxisY></Data>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.ScaleX, 1.0);
             EXPECT_FALSE(c.misc.fromFile.contains(kScaleX));
             EXPECT_EQ(c.misc.AxisY, 1);
         }},
        {"tags are case-sensitive: axisx is not AxisX and is noted",
         File("<Data><axisx>4</axisx></Data>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.AxisX, 0);
             ASSERT_EQ(c.ignoredElements.size(), 1u);
             EXPECT_EQ(c.ignoredElements[0], L"Misc/Data/axisx is not read by the driver");
         }},
        {"the first of two equal elements counts",
         File("<Data><AxisZ>5</AxisZ><AxisZ>1</AxisZ></Data>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.AxisZ, 5);
             EXPECT_EQ(c.ignoredElements,
                       std::vector<std::wstring>{
                           L"Misc/Data/AxisZ appears 2 times: only the first one is read"});
         }},
        {"values lose surrounding blanks, command texts are sent as written",
         File("<Data><Transport> TCP </Transport><HasJogbox> true </HasJogbox></Data>",
              "<Commands><GetPosition><Command> POS&#13;</Command></GetPosition></Commands>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.misc.Transport, L"TCP");
             EXPECT_TRUE(c.misc.HasJogbox);
             EXPECT_EQ(c.commands.GetPosition, L" POS\r");
         }},
        {"Transport tcp does not select the TCP child: no channel",
         File("<Data><Transport>tcp</Transport></Data>",
              "<CommInfo><TCP><CMMAddress-IP>10.0.0.1</CMMAddress-IP></TCP></CommInfo>"),
         [](const MachineConfig& c) {
             EXPECT_TRUE(c.channels.empty());
             EXPECT_EQ(c.commInfoTags, std::vector<std::wstring>{L"TCP"});
         }},
        {"CMMAddress-IP localhost connects to 127.0.0.1, port defaults to 1390",
         File("<Data><Transport>TCP</Transport></Data>",
              "<CommInfo><TCP><CMMAddress-IP>localhost</CMMAddress-IP></TCP></CommInfo>"),
         [](const MachineConfig& c) {
             const TcpSettings* tcp = Only<TcpSettings>(c);
             ASSERT_TRUE(tcp);
             EXPECT_EQ(tcp->address, L"localhost");
             EXPECT_EQ(tcp->ConnectAddress(), L"127.0.0.1");
             EXPECT_EQ(tcp->port, 1390);
         }},
        {"Device COM12 is port 12; serial defaults; terminator kept in 8 bits",
         File("<Data><Transport>SERIAL</Transport></Data>",
              "<CommInfo><TCP/><SERIAL><Device>COM12</Device><Parity>even</Parity>"
              "<Terminator>266</Terminator></SERIAL></CommInfo>"),
         [](const MachineConfig& c) {
             const SerialSettings* s = Only<SerialSettings>(c);
             ASSERT_TRUE(s);
             EXPECT_EQ(s->PortNumber(), 12);
             EXPECT_EQ(s->ParityLetter(), 'e');
             EXPECT_EQ(s->Baud, 19200);
             EXPECT_EQ(s->StopBits, 1);
             EXPECT_EQ(s->Size, 8);
             EXPECT_EQ(s->Terminator, '\n');
         }},
        {"several matching children are all kept, in order",
         File("<Data><Transport>TCP</Transport></Data>",
              "<CommInfo><TCP><CMMPort-IP>1</CMMPort-IP></TCP><GPIB/>"
              "<TCP><CMMPort-IP>2</CMMPort-IP></TCP></CommInfo>"),
         [](const MachineConfig& c) {
             ASSERT_EQ(c.channels.size(), 2u);
             EXPECT_EQ(std::get<TcpSettings>(c.channels[0]).port, 1);
             EXPECT_EQ(std::get<TcpSettings>(c.channels[1]).port, 2);
         }},
        {"the last Data of a sequence decides, even without a Command",
         File("",
              "<InitializationSequence><Data><Command>\"A\"</Command></Data><Data/>"
              "</InitializationSequence><HomingSequence><Data><Command>H</Command></Data>"
              "</HomingSequence>"),
         [](const MachineConfig& c) {
             EXPECT_FALSE(c.HasInitializationSequence());
             EXPECT_EQ(c.homingCommand, L"H");
         }},
        {"hit format of 6 characters and no position format: no parser",
         File("",
              "<Replies><HitReply><Reply>\"%lf\" </Reply></HitReply>"
              "<PositionReply><Reply></Reply></PositionReply></Replies>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.replies.FormatList(), L"\"%lf\"");
             EXPECT_FALSE(c.replies.CreatesParser());
         }},
        {"hit and position formats join as \"%s,%s\"; the last repeated reply counts",
         File("",
              "<Replies><HitReply><Reply>\"H\"</Reply></HitReply>"
              "<PositionReply><Reply>\"x\"</Reply></PositionReply>"
              "<PositionReply><Reply>\"P\"</Reply></PositionReply></Replies>"),
         [](const MachineConfig& c) {
             EXPECT_EQ(c.replies.FormatList(), L"\"H\",\"P\"");
             EXPECT_TRUE(c.replies.CreatesParser());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        row.expect(Read(row.xml));
    }
}

TEST(MachineFileReader, AxisCodesOutsideTheRangeOrSharedAreProblems) {
    struct Row {
        const char* legend;
        int x, y, z;
        std::vector<std::wstring> problems;
    };
    const Row rows[] = {
        {"identity", 0, 2, 4, {}},
        {"reversed and swapped axes", 3, 0, 5, {}},
        {"code above 5", 7, 2, 4, {L"AxisX = 7 is outside 0 to 5"}},
        {"negative code", 0, -1, 4, {L"AxisY = -1 is outside 0 to 5"}},
        {"two host axes on machine axis 0", 0, 1, 4, {L"AxisX and AxisY both read machine axis 0"}},
    };
    for (const Row& row : rows) {
        MachineMisc misc;
        misc.AxisX = row.x;
        misc.AxisY = row.y;
        misc.AxisZ = row.z;
        EXPECT_EQ(AxisCodeProblems(misc), row.problems) << row.legend;
    }
    EXPECT_EQ(MachineAxisOf(5), 2);
    EXPECT_EQ(MachineAxisOf(6), std::nullopt);
    EXPECT_EQ(MachineAxisOf(-1), std::nullopt);
}

TEST(MachineFileReader, FilesThatCannotBeReadFailWithTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return dir.filePath(name).toStdWString();
    };
    struct Row {
        const char* legend;
        std::wstring path;
        const wchar_t* reason;
    };
    const Row rows[] = {
        {"missing", dir.filePath("none.xml").toStdWString(), L"cannot open"},
        {"not well formed", write("bad.xml", "<Machine><Misc></Machine>"), L"line 1"},
        {"empty", write("empty.xml", ""), L"line"},
        {"a directory", dir.path().toStdWString(), L"is not a regular file"},
    };
    for (const Row& row : rows) {
        const MachineFileResult result = ReadMachineFile(row.path);
        EXPECT_FALSE(result.ok) << row.legend;
        EXPECT_NE(result.error.find(row.reason), std::wstring::npos)
            << row.legend << ": " << QString::fromStdWString(result.error).toStdString();
        EXPECT_EQ(result.config.misc.RequestInterval, 100) << row.legend;
    }
}

TEST(MachineFileReader, BareNameIsReadFromTheCurrentDirectory) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QString::fromWCharArray(kFileName)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(File("<Data><AxisX>1</AxisX></Data>").c_str());
    file.close();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const MachineFileResult result = ReadMachineFile(kFileName);
    QDir::setCurrent(previous);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.config.misc.AxisX, 1);
    EXPECT_EQ(result.config.misc.cmm, L"M1");
}

// The example files and the replies of their machines, through the real reply parser.
TEST(MachineFileReader, ExampleFilesParseTheirMachinesReplies) {
    struct Reply {
        const char* line;
        bool hit;
        bool complete;
        double x, y, z, w;
    };
    struct Row {
        const char* legend;
        const char* file;
        std::vector<Reply> replies;
    };
    const Row rows[] = {
        {"VexServer over TCP",
         "examples/TACConfigData.xml",
         {{"( 1.000000 2.000000 3.000000 4.000000 0.000000 0.000000 1.000000 ) 237\r\n", true,
           false, 1, 2, 3, 4},
          {"( 5.500000 -6.000000 7.000000 90.000000 ) 235\r\n", false, true, 5.5, -6, 7, 90}}},
        {"serial controller",
         "examples/serial/TACConfigData.xml",
         {{"1.5 2.5 3.5 HIT\r", true, true, 1.5, 2.5, 3.5, 0},
          {"1.5 2.5 4.5\r", false, true, 1.5, 2.5, 4.5, 0}}},
    };
    const char* source = std::getenv("VEX_SOURCE_DIR");
    if (!source)
        GTEST_SKIP() << "VEX_SOURCE_DIR is not set (run through ctest)";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const MachineFileResult result =
            ReadMachineFile((QString::fromLocal8Bit(source) + '/' + row.file).toStdWString());
        ASSERT_TRUE(result.ok);
        const MachineConfig& c = result.config;
        EXPECT_TRUE(AxisCodeProblems(c.misc).empty());
        ASSERT_EQ(c.channels.size(), 1u);
        ASSERT_TRUE(c.replies.CreatesParser());
        XYZParser parser;
        parser.SetReplyFormats(c.replies.FormatList());
        parser.SetInitSequence(c.initializationCommand);
        parser.SetPositionCommands(c.commands.GetPosition);
        for (const Reply& reply : row.replies) {
            SCOPED_TRACE(reply.line);
            parser.Parse(reply.line);
            EXPECT_EQ(parser.IsHit(), reply.hit);
            EXPECT_EQ(parser.IsComplete(), reply.complete);
            const std::array<double, 4> p = parser.GetParsedPosition();
            EXPECT_EQ(p, (std::array<double, 4>{reply.x, reply.y, reply.z, reply.w}));
        }
    }
}

}  // namespace
