// The server's settings files damaged in every way a disk, an editor or a careless copy
// can: cut at every length, random bytes, random byte changes, absurd nesting and entity
// expansion. The readers run in-process for the many cases and must report a file they
// cannot load and fall back to the documented values; the real program runs for a
// handful and must end with, or carry on after, the right message.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <random>
#include <string>

#include "server/config/ConfigReaders.h"
#include "server/device/VexEnc7480.h"
#include "tests/server/robustness/RawClient.h"
#include "tests/server/robustness/ServerProcess.h"
#include "tests/support/HostileXml.h"
#include "tests/support/QtTestEnvironment.h"

namespace {

VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "server_malformed_xml_test");

using Millis = std::chrono::milliseconds;
constexpr Millis kWait{60000};
constexpr uint32_t kSeed = 7480;
constexpr int kDepth = 10000;

QByteArray Example(const char* name) {
    const QString source = qEnvironmentVariableIsSet("VEX_SOURCE_DIR")
                               ? qEnvironmentVariable("VEX_SOURCE_DIR")
                               : QStringLiteral(VEX_TEST_SOURCE_DIR);
    QFile file(QDir(source).filePath(QStringLiteral("examples/") + QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class XmlFiles : public ::testing::Test {
  protected:
    QString Write(const QByteArray& bytes) {
        QFile file(path_);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path_;
    }

    // Reads `bytes` as VEX.XML into a record preset with marker values; false when the
    // reader reported the file as unloadable.
    bool ReadServer(const QByteArray& bytes, ServerConfig& config) {
        config = ServerConfig();
        config.tcpPort = 4321;
        config.pollTime = 77;
        config.bindAddress = QStringLiteral("marker");
        return ReadServerConfig(Write(bytes), config);
    }

    QTemporaryDir dir_;
    QString path_ = dir_.filePath(QStringLiteral("settings.xml"));
};

// What a reader must leave when it cannot load VEX.XML: the interface emptied, every
// other value as it was.
void ExpectUntouched(const ServerConfig& config) {
    EXPECT_EQ(config.interfaceName, QString());
    EXPECT_EQ(config.tcpPort, 4321);
    EXPECT_EQ(config.windowMode, ServerConfig::kWindowHidden);
    EXPECT_EQ(config.pollTime, 77);
    EXPECT_EQ(config.bindAddress, QStringLiteral("marker"));
}

TEST_F(XmlFiles, ServerFileCutAtEveryLength) {
    QByteArray full = Example("VEX.XML");
    ASSERT_FALSE(full.isEmpty());
    full.replace("</VEX>", "  <BindAddress>127.0.0.1</BindAddress>\n</VEX>");
    const qsizetype rootEnd = full.indexOf("</VEX>") + 6;
    int failed = 0;
    for (qsizetype length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        ServerConfig config;
        const bool loaded = ReadServer(full.left(length), config);
        EXPECT_EQ(loaded, length >= rootEnd);
        if (!loaded) {
            ExpectUntouched(config);
            ++failed;
        } else {
            EXPECT_EQ(config.interfaceName, QStringLiteral("SIMULATOR"));
            EXPECT_EQ(config.tcpPort, 1390);
            EXPECT_EQ(config.bindAddress, QStringLiteral("127.0.0.1"));
        }
    }
    std::printf("VEX.XML: %lld cuts, %d reported as not loadable\n",
                static_cast<long long>(full.size() + 1), failed);
}

TEST_F(XmlFiles, CardFileCutAtEveryLength) {
    const QByteArray full = Example("VEXENC7480.XML");
    ASSERT_FALSE(full.isEmpty());
    const qsizetype rootEnd = full.indexOf("</VEXENC7480>") + 13;
    VexEnc7480 reference;
    ASSERT_TRUE(ReadEnc7480Config(Write(full), reference));
    for (qsizetype length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        VexEnc7480 device;
        Enc7480Settings odd;
        odd.xCountsPerMm = 7;
        odd.triggerChannel = 2;
        device.SetSettings(odd);
        const bool loaded = ReadEnc7480Config(Write(full.left(length)), device);
        EXPECT_EQ(loaded, length >= rootEnd);
        // Unloadable: the card defaults, whatever the device held before.
        EXPECT_EQ(device.Settings(), loaded ? reference.Settings() : Enc7480Settings());
    }
}

// Invariants of a read, loaded or not: a file that did not load leaves the record as
// ExpectUntouched says; no counts-per-unit divisor is ever 0.
TEST_F(XmlFiles, RandomBytesAndRandomChanges) {
    std::mt19937 rng(kSeed);
    const QByteArray examples[] = {Example("VEX.XML"), Example("VEXENC7480.XML")};
    int loaded = 0, cases = 0;
    for (int i = 0; i < 3000; ++i, ++cases) {
        QByteArray bytes;
        if (i < 1000) {
            // Pure noise, sometimes behind a plausible start.
            bytes = (i % 2) ? QByteArray("<?xml version=\"1.0\"?><VEX>") : QByteArray();
            const int length = int(rng() % 2048);
            for (int k = 0; k < length; ++k)
                bytes += char(rng() & 0xFF);
        } else {
            // One to four bytes of a good file changed, inserted or removed.
            bytes = examples[i % 2];
            for (int edits = 1 + int(rng() % 4); edits > 0; --edits) {
                const qsizetype at = qsizetype(rng() % uint32_t(bytes.size()));
                switch (rng() % 3) {
                    case 0:
                        bytes[at] = char(rng() & 0xFF);
                        break;
                    case 1:
                        bytes.insert(at, char(rng() & 0xFF));
                        break;
                    default:
                        bytes.remove(at, 1);
                        break;
                }
            }
        }
        SCOPED_TRACE(testing::Message() << "case " << i);
        ServerConfig config;
        if (ReadServer(bytes, config))
            ++loaded;
        else
            ExpectUntouched(config);
        VexEnc7480 device;
        ReadEnc7480Config(path_, device);
        const Enc7480Settings& s = device.Settings();
        EXPECT_TRUE(s.xCountsPerMm != 0 && s.yCountsPerMm != 0 && s.zCountsPerMm != 0 &&
                    s.wCountsPerTurn != 0);
    }
    std::printf("%d random files, %d of them still loadable\n", cases, loaded);
}

constexpr char16_t kUtf16Text[] = u"<VEX><INTERFACE>SIMULATOR</INTERFACE></VEX>";

// The bytes of a UTF-16 text in this machine's byte order, without the final zero.
template <std::size_t N>
QByteArray Utf16(const char16_t (&text)[N]) {
    return QByteArray(reinterpret_cast<const char*>(text), qsizetype(2 * (N - 1)));
}

TEST_F(XmlFiles, HostileStructures) {
    struct Row {
        const char* legend;
        QByteArray bytes;
        bool loads;
    };
    const QByteArray deep =
        QByteArray("<a>").repeated(kDepth) + QByteArray("</a>").repeated(kDepth);
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE VEX [<!ENTITY l0 \"ha\">";
    for (int k = 1; k <= 12; ++k)
        laughs += "<!ENTITY l" + QByteArray::number(k) + " \"" +
                  QByteArray("&l" + QByteArray::number(k - 1) + ";").repeated(10) + "\">";
    laughs += "]><VEX><INTERFACE>&l12;</INTERFACE></VEX>";
    const Row rows[] = {
        {"10,000 nested elements", deep, false},
        {"10 MB of text in INTERFACE",
         "<VEX><INTERFACE>" + QByteArray(10 << 20, 'S') + "</INTERFACE></VEX>", false},
        {"entities expanding to 10^12 bytes", laughs, false},
        {"an external entity",
         "<?xml version=\"1.0\"?><!DOCTYPE VEX [<!ENTITY e SYSTEM "
         "\"/etc/passwd\">]><VEX><INTERFACE>&e;</INTERFACE></VEX>",
         true},
        {"UTF-16 with a byte order mark", QByteArray("\xFF\xFE", 2) + Utf16(kUtf16Text), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QElapsedTimer timer;
        timer.start();
        ServerConfig config;
        const bool loaded = ReadServer(row.bytes, config);
        EXPECT_EQ(loaded, row.loads);
        if (!loaded)
            ExpectUntouched(config);
        // No file from outside ends up in a setting.
        EXPECT_FALSE(config.interfaceName.contains(QLatin1String("root:")));
        EXPECT_LT(timer.elapsed(), 30000) << "a settings file must not take this long";
    }
}

// The program with damaged settings: it ends with the message for an unreadable
// VEX.XML, or warns and carries on with the card defaults.
TEST(ProgramWithDamagedSettings, EndsOrCarriesOnWithTheRightMessage) {
    struct Row {
        const char* legend;
        std::function<void(ServerOptions&)> damage;
        const char* message;
        bool runs;
    };
    std::mt19937 rng(kSeed);
    QByteArray noise;
    for (int k = 0; k < 600; ++k)
        noise += char(rng() & 0xFF);
    const Row rows[] = {
        {"VEX.XML cut in the middle",
         [](ServerOptions& o) {
             o.serverFileText = "<?xml version=\"1.0\"?>\n<VEX>\n  <INTERFACE>SIMULATOR</INTER";
         },
         "VexServer: VEX.XML error: file not exist or INTERFACE name not found\n", false},
        {"VEX.XML of random bytes", [&](ServerOptions& o) { o.serverFileText = noise; },
         "VexServer: VEX.XML error: file not exist or INTERFACE name not found\n", false},
        {"VEX.XML empty", [](ServerOptions& o) { o.serverFileText = " "; },
         "VexServer: VEX.XML error: file not exist or INTERFACE name not found\n", false},
        {"VEX.XML with one entity expanding to 400 MB",
         [](ServerOptions& o) {
             o.serverFileText =
                 QByteArray::fromStdString(testsupport::FlatEntityExpansion("VEX", "INTERFACE"));
         },
         "found\nVEX.XML, line 2, column 4031: its entities may expand to more than 1 MiB", false},
        {"INTERFACE with a tab and an accent",
         [](ServerOptions& o) {
             o.serverFileText = "<VEX><INTERFACE>SIMU&#x9;LATOR\xc3\xa9</INTERFACE></VEX>";
         },
         "VexServer: Unsupported INTERFACE is set up in VEX.XML\n", false},
        {"VEXENC7480.XML cut in the middle",
         [](ServerOptions& o) {
             o.interfaceName = QStringLiteral("ENC7480");
             o.cardFileText = "<VEXENC7480><Card><X_COUNTS_PER_MM>1000</X_COUNTS";
         },
         "VexServer: Config file VEXENC7480.XML is not found. Defaults are used\n", true},
        {"VEXENC7480.XML of random bytes",
         [&](ServerOptions& o) {
             o.interfaceName = QStringLiteral("ENC7480");
             o.cardFileText = noise;
         },
         "VexServer: Config file VEXENC7480.XML is not found. Defaults are used\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ServerOptions options;
        options.script = "start 100 50 20 90\npause 100000\n";
        row.damage(options);
        ServerProcess server;
        if (row.runs) {
            RawClient client;
            ASSERT_TRUE(server.StartAndConnect(options, client, kWait))
                << server.Stderr().toStdString();
            EXPECT_TRUE(client.Ask("POS", 235, kWait).has_value());
            ASSERT_TRUE(client.SendAll("EXI", kWait));
            EXPECT_EQ(server.WaitForExit(kWait), 0);
        } else {
            ASSERT_TRUE(server.Start(options));
            EXPECT_EQ(server.WaitForExit(kWait), 1) << "it must end by itself with status 1";
        }
        EXPECT_TRUE(server.Stderr().contains(QString::fromLatin1(row.message)))
            << server.Stderr().toStdString();
    }
    EXPECT_LT(testsupport::PeakChildMegabytes(), 100);
}

}  // namespace
