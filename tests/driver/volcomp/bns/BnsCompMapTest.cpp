// The B&S map: reading the three forms, lookups, error terms of every machine type, the data
// check, and the rejection of malformed files.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <limits>

#include "driver/volcomp/bns/BnsCipher.h"
#include "driver/volcomp/bns/BnsCompMap.h"
#include "driver/volcomp/bns/BnsKeyMaterial.h"
#include "tests/driver/volcomp/bns/BnsTestMaps.h"

using bnstest::TestMap;

namespace {

const bnstest::Key kTestKey = bnstest::KeyFromPassPhrase("test map key");

BnsCipher TestCipher() {
    return *BnsCipher::FromKey(kTestKey);
}

// The lookup fraction along one axis, clamped as the map does.
double Fraction(double position, double start, double step, int points) {
    double a = (position - start) / step;
    if (a < 0)
        return 0.00001;
    return a >= points - 1 ? points - 2 : a;
}

// ex, ey, ez written out from the machine-type formulas.
std::array<double, 3> ExpectedErrors(const TestMap& m, double x, double y, double z, double Px,
                                     double Py, double Pz) {
    auto at = [&](int k, int axis, double p) {
        return TestMap::A(k) + TestMap::B(k) * Fraction(p, m.start[axis], m.step[axis], m.Points());
    };
    double T[23] = {};
    double E[6] = {};
    for (int k = 0; k < 6; ++k) {
        T[k] = at(k, 0, x);
        T[6 + k] = at(6 + k, 1, y);
        T[12 + k] = at(12 + k, 2, z);
    }
    const int type = m.Type();
    for (int k = 18; k < 23; ++k)
        T[k] = type == 1 ? at(k, 1, y) : (type == 2 || type == 3) ? at(k, 2, z) : 0.0;
    for (int k = 0; k < 6 && type == 3; ++k)
        E[k] = at(23 + k, 0, x);

    if (type == 1)
        return {T[0] - T[7] - x * T[18] - T[13] - (z + Pz) * T[4] + Py * T[5] -
                    (T[9] + x * T[22]) * (z + Pz) + Py * T[11] - Pz * T[17] + Py * T[15],
                T[6] + x * T[19] - T[14] - T[1] - T[11] * (Px + x) +
                    (T[10] + x * T[21]) * (z + Pz) - Px * T[15] + Pz * T[16] - Px * T[5] +
                    (z + Pz) * T[3],
                T[12] - T[2] - T[8] - x * T[20] - Py * T[16] + Px * T[17] - Py * T[3] + Px * T[4] -
                    Py * (T[10] + x * T[21]) + (T[9] + x * T[22]) * (Px + x)};
    if (type == 3)
        return {T[0] + y * E[0] - T[7] - T[13] - y * T[18] - (T[4] + y * E[4]) * (z + Pz) +
                    (y + Py) * (T[5] + y * E[5]) - Pz * T[9] + Py * T[11] -
                    Pz * (y * T[22] + T[17]) + (y + Py) * T[15],
                T[6] - T[14] - y * T[19] - T[1] - y * E[1] - Px * T[11] + Pz * T[10] - Px * T[15] +
                    Pz * (y * T[21] + T[16]) - Px * (T[5] + y * E[5]) +
                    (z + Pz) * (T[3] + y * E[3]),
                y * T[20] + T[12] - T[2] - y * E[2] - T[8] + Px * (y * T[22] + T[17]) -
                    (y + Py) * (y * T[21] + T[16]) - Py * T[10] + Px * T[9] -
                    (y + Py) * (T[3] + y * E[3]) + Px * (T[4] + y * E[4])};
    if (type == 8 || type == 16)
        return {T[0] - T[7] - T[13] - (z + Pz) * T[4] + (y + Py) * T[5] - (z + Pz) * T[9] +
                    Py * T[11] - Pz * T[17] + Py * T[15],
                T[6] - T[14] - T[1] - Px * T[11] + (z + Pz) * T[10] - Px * T[15] + Pz * T[16] -
                    Px * T[5] + (z + Pz) * T[3],
                T[12] - T[2] - T[8] - Py * T[16] + Px * T[17] - (y + Py) * T[3] + Px * T[4] -
                    Py * T[10] + Px * T[9]};
    return {T[0] - T[7] - T[13] - y * T[18] - (z + Pz) * T[4] + (y + Py) * T[5] - Pz * T[9] +
                Py * T[11] - Pz * (y * T[22] + T[17]) + (y + Py) * T[15],
            T[6] - T[14] - y * T[19] - T[1] - Px * T[11] + Pz * T[10] - Px * T[15] +
                Pz * (y * T[21] + T[16]) - Px * T[5] + (z + Pz) * T[3],
            y * T[20] + T[12] - T[2] - T[8] + Px * (y * T[22] + T[17]) -
                (y + Py) * (y * T[21] + T[16]) - Py * T[10] + Px * T[9] - (y + Py) * T[3] +
                Px * T[4]};
}

// Points inside the tables, below their starts and beyond their ends.
constexpr double kPoints[][3] = {{10, 80, -150}, {-300, 60, 20}, {150, 1000, -399}, {-100, 50, 0}};
constexpr double kProbe[3] = {3, -4, 120};

void ExpectCorrections(const BnsCompMap& map, const TestMap& layout, const std::string& legend) {
    for (const auto& p : kPoints) {
        const auto e = ExpectedErrors(layout, p[0], p[1], p[2], kProbe[0], kProbe[1], kProbe[2]);
        const double position[4] = {p[0], p[1], p[2], 12.5};
        double from[4];
        double to[4];
        double through[4];
        map.Correct(BnsCompMap::kFromMachine, position, kProbe, from);
        map.Correct(BnsCompMap::kToMachine, position, kProbe, to);
        map.Correct(BnsCompMap::kPassThrough, position, kProbe, through);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(from[c], p[c] - e[c], 1e-9) << legend << " axis " << c;
            EXPECT_NEAR(to[c], p[c] + e[c], 1e-9) << legend << " axis " << c;
            EXPECT_EQ(through[c], p[c]) << legend;
        }
        EXPECT_EQ(from[3], 12.5);
        EXPECT_EQ(to[3], 12.5);
    }
}

}  // namespace

TEST(BnsCompMap, ErrorTermsOfEveryMachineType) {
    struct Row {
        const char* legend;
        int flags;
    };
    const Row rows[] = {
        {"type 1: tables 18-22 along Y", 128 | 1},
        {"type 2: general terms, tables 18-22 along Z", 128 | 2},
        {"type 3: extra tables E0-E5 along X", 128 | 3},
        {"type 3 with rotary flag: the flag bit is not part of the type", 128 | 4 | 3},
        {"type 8", 128 | 8},
        {"type 16", 128 | 16},
        {"type 0: general terms without tables 18-22", 128},
        {"type 32: any other type is general", 128 | 32},
        {"type 1 without the extended header (50 points)", 1},
    };
    for (const Row& row : rows) {
        TestMap layout;
        layout.flags = row.flags;
        layout.rotaryPoints = (row.flags & 4) ? 5 : 0;
        BnsCompMap map;
        ASSERT_TRUE(map.ReadPlain(bnstest::AsText(layout.Values())))
            << row.legend << map.LastError();
        EXPECT_EQ(map.Type(), layout.Type()) << row.legend;
        ExpectCorrections(map, layout, row.legend);
    }
}

TEST(BnsCompMap, TextBinaryAndEncipheredFormsGiveTheSameCorrections) {
    TestMap layout;
    layout.flags = 128 | 4 | 3;
    layout.rotaryPoints = 4;
    const auto values = layout.Values();
    BnsCompMap text;
    BnsCompMap binary;
    BnsCompMap enciphered;
    ASSERT_TRUE(text.ReadPlain(bnstest::AsText(values))) << text.LastError();
    ASSERT_TRUE(binary.ReadPlain(bnstest::AsBinary(values))) << binary.LastError();
    ASSERT_TRUE(enciphered.ReadEnciphered(bnstest::AsEnciphered(values, kTestKey), TestCipher()))
        << enciphered.LastError();
    for (const BnsCompMap* map : {&text, &binary, &enciphered}) {
        ExpectCorrections(*map, layout, "round trip");
        EXPECT_TRUE(map->HasRotaryData());
        EXPECT_EQ(map->RotaryTable(5).back(), layout.Value(34, 3));
        EXPECT_EQ(map->ExtraTable(5).back(), layout.Value(28, 5));
    }
}

TEST(BnsCompMap, HeaderLayoutFollowsTheFlags) {
    struct Row {
        const char* legend;
        int flags;
        int rotaryPoints;
        int expectPoints;
        bool expectRotary;
    };
    const Row rows[] = {
        {"no bit 7: 50 points, no rotary data, option value last", 1 | 4, 0, 50, false},
        {"bit 7 and bit 2 with R = 0: the rotary flag is cleared", 128 | 4 | 8, 0, 6, false},
        {"bit 7 and bit 2 with R = 3: rotary tables follow", 128 | 4 | 8, 3, 6, true},
        {"type 3 without bit 7: extra tables of 50 points", 3, 0, 50, false},
        {"type 1 carries no extra tables (reading them would run past the end)", 128 | 1, 0, 6,
         false},
    };
    for (const Row& row : rows) {
        TestMap layout;
        layout.flags = row.flags;
        layout.rotaryPoints = row.rotaryPoints;
        layout.option = 42;
        BnsCompMap map;
        ASSERT_TRUE(map.ReadPlain(bnstest::AsBinary(layout.Values()))) << row.legend;
        EXPECT_EQ(map.Flags(), row.flags) << row.legend;
        EXPECT_EQ(map.Points(), row.expectPoints) << row.legend;
        EXPECT_EQ(map.HasRotaryData(), row.expectRotary) << row.legend;
        EXPECT_EQ(map.OptionValue(), 42) << row.legend;
        EXPECT_EQ(map.HeaderValues()[2], 2.5) << row.legend;
        EXPECT_EQ(map.Table(22).back(), layout.Value(22, row.expectPoints - 1)) << row.legend;
    }
}

TEST(BnsCompMap, FirstLineDecidesTextOrBinary) {
    TestMap layout;
    std::vector<double> values = layout.Values();
    // The rest of a text map's first line is skipped: a stray number there is not N.
    std::string strayOnFirstLine = bnstest::AsText(values);
    strayOnFirstLine.insert(strayOnFirstLine.find('\n'), " 999 999");
    // Blanks before the flags on the first line.
    std::string longFirstLine = bnstest::AsText(values);
    longFirstLine.insert(0, 70, ' ');
    std::string crlf;
    for (char c : bnstest::AsText(values))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    struct Row {
        const char* legend;
        std::string bytes;
        bool loads;
    };
    const Row rows[] = {
        {"text", bnstest::AsText(values), true},
        {"text with CR LF line ends", crlf, true},
        {"text with more numbers on the first line", strayOnFirstLine, true},
        {"text with leading blanks on the first line", longFirstLine, true},
        {"binary (its first byte is NUL)", bnstest::AsBinary(values), true},
        {"first line not a number: read as binary, which fails",
         "# map\n" + bnstest::AsText(values), false},
        {"empty file: read as binary, which fails", "", false},
    };
    for (const Row& row : rows) {
        BnsCompMap map;
        EXPECT_EQ(map.ReadPlain(row.bytes), row.loads) << row.legend << ": " << map.LastError();
        if (row.loads)
            ExpectCorrections(map, layout, row.legend);
    }
}

TEST(BnsCompMap, MalformedPlainMapsAreRejectedWithAReason) {
    auto with = [](int index, double value) {
        TestMap layout;
        auto values = layout.Values();
        values[std::size_t(index)] = value;
        return values;
    };
    auto cut = [](std::string bytes, std::size_t n) { return bytes.substr(0, bytes.size() - n); };
    TestMap layout;
    auto withoutLast = layout.Values();
    withoutLast.pop_back();
    std::string notANumber = bnstest::AsText(layout.Values());
    notANumber.replace(notANumber.rfind(' ') + 1, 1, "x");

    struct Row {
        const char* legend;
        std::string bytes;
        const char* reason;
    };
    const Row rows[] = {
        {"201 points would write past the tables", bnstest::AsBinary(with(1, 201)),
         "201 points per table"},
        {"1 point cannot be interpolated", bnstest::AsBinary(with(1, 1)), "1 points per table"},
        {"181 rotary points would write past the rotary tables", bnstest::AsBinary(with(2, 181)),
         "181 rotary points"},
        {"negative rotary points", bnstest::AsText(with(2, -1)), "-1 rotary points"},
        {"flags beyond a whole number", bnstest::AsBinary(with(0, 1e300)), "flags value"},
        {"binary map cut short", cut(bnstest::AsBinary(layout.Values()), 3), "the data end"},
        {"text map without its last value", bnstest::AsText(withoutLast), "the data end"},
        {"a word among the numbers", notANumber, "is not a number"},
        {"an infinite step", bnstest::AsText(with(7, INFINITY)), "(step X) is not finite"},
        {"a NaN in a table", bnstest::AsText(with(20, NAN)), "(table 0, point 5) is not finite"},
    };
    for (const Row& row : rows) {
        BnsCompMap map;
        EXPECT_FALSE(map.ReadPlain(row.bytes)) << row.legend;
        EXPECT_NE(map.LastError().find(row.reason), std::string::npos)
            << row.legend << ": " << map.LastError();
        EXPECT_FALSE(map.IsLoaded()) << row.legend;
        EXPECT_FALSE(map.HasData()) << row.legend << ": a failed read leaves no data";
    }
}

TEST(BnsCompMap, EncipheredLines) {
    TestMap layout;
    const auto values = layout.Values();
    const std::string good = bnstest::AsEnciphered(values, kTestKey);
    const std::size_t secondLine = good.find('\n') + 1;
    auto replaceLine = [&](const std::string& line) {
        std::string bytes = good;
        bytes.replace(secondLine, good.find('\n', secondLine) + 1 - secondLine, line);
        return bytes;
    };
    // N padded with blanks to 47 characters: 48 cipher bytes, a 97-character line.
    const std::string paddedN = bnstest::EncipheredLine(kTestKey, std::string(46, ' ') + "6");
    const std::string tooLongN = bnstest::EncipheredLine(kTestKey, std::string(60, ' ') + "6");
    std::string longFirst = good;
    longFirst.replace(0, good.find('\n') + 1,
                      bnstest::EncipheredLine(kTestKey, std::string(40, ' ') + "129"));

    struct Row {
        const char* legend;
        std::string bytes;
        const char* reason;  // null: the map loads
    };
    const Row rows[] = {
        {"odd length with the line end", good, nullptr},
        {"CR LF line ends", bnstest::AsEnciphered(values, kTestKey, "\r\n"), nullptr},
        {"a 97-character line", replaceLine(paddedN), nullptr},
        {"a line of 129 characters would overrun the line buffer", replaceLine(tooLongN),
         "line 2 is longer than 99 characters"},
        {"a first line of 97 characters", longFirst, "line 1 is longer than 79 characters"},
        {"an odd number of digits (even length)", replaceLine(paddedN.substr(1)),
         "line 2 does not hold whole hexadecimal byte pairs"},
        {"the last line without its line end", good.substr(0, good.size() - 1),
         "does not hold whole hexadecimal byte pairs"},
        {"a digit that is not hexadecimal", replaceLine("G" + paddedN.substr(1)),
         "line 2 is not hexadecimal"},
        {"cipher text that is not whole blocks", replaceLine(paddedN.substr(2)),
         "line 2 does not decrypt"},
        {"an empty line", replaceLine("\n"), "line 2 does not decrypt"},
        {"plain text that is not a number", replaceLine(bnstest::EncipheredLine(kTestKey, "six")),
         "line 2 does not decrypt to a number"},
        {"the map ends early", good.substr(0, secondLine), "the data end at value 2"},
    };
    for (const Row& row : rows) {
        BnsCompMap map;
        const bool loaded = map.ReadEnciphered(row.bytes, TestCipher());
        EXPECT_EQ(loaded, row.reason == nullptr) << row.legend << ": " << map.LastError();
        if (row.reason)
            EXPECT_NE(map.LastError().find(row.reason), std::string::npos)
                << row.legend << ": " << map.LastError();
        else
            ExpectCorrections(map, layout, row.legend);
    }

    BnsCompMap wrongKey;
    EXPECT_FALSE(wrongKey.ReadEnciphered(
        good, *BnsCipher::FromKey(bnstest::KeyFromPassPhrase("another key"))));
}

TEST(BnsCompMap, LookupClampsAtBothEnds) {
    const double table[] = {10, 20, 30, 40, 50};
    struct Row {
        const char* legend;
        double start;
        double step;
        double position;
        double expect;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"at the start", 100, 10, 100, 10},
        {"between points", 100, 10, 125, 35},
        {"below the start: weight 0.00001 from the first point", 100, 10, 50, 10.0001},
        {"on the second-to-last point", 100, 10, 130, 40},
        {"between the last two points", 100, 10, 135, 45},
        {"on the last point: the second-to-last point's value", 100, 10, 140, 40},
        {"beyond the end", 100, 10, 1e9, 40},
        {"negative step", 100, -10, 90, 20},
        {"no step, at the start (0 / 0): as below the start", 100, 0, 100, 10.0001},
        {"no step, above the start: as beyond the end", 100, 0, 101, 40},
        {"no position (NaN): as below the start", 100, 10, nan, 10.0001},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(BnsCompMap::Lookup(table, 5, row.start, row.step, row.position), row.expect,
                    1e-12)
            << row.legend;

    const double tiny[] = {4e-16, 8e-16};
    EXPECT_EQ(BnsCompMap::Lookup(tiny, 2, 0, 1, 0.5), 0.0) << "magnitudes below 1e-15 are 0";
}

TEST(BnsCompMap, DataCheckLooksAtTheTranslationAndRotationTables) {
    // Tables 2 and 8 and 12 to 22 do not count; the others do beyond 1e-6.
    struct Row {
        int table;
        double value;
        bool expect;
    };
    const Row rows[] = {{0, 2e-6, true},  {1, -2e-6, true}, {2, 1.0, false}, {3, 2e-6, true},
                        {7, 2e-6, true},  {8, 1.0, false},  {9, 2e-6, true}, {11, 2e-6, true},
                        {12, 1.0, false}, {22, 1.0, false}, {0, 1e-6, false}};
    for (const Row& row : rows) {
        TestMap layout;
        auto values = layout.Values();
        const std::size_t first = 15;  // extended header
        for (std::size_t i = first; i < values.size(); ++i)
            values[i] = 0.0;
        values[first + std::size_t(row.table * layout.points + layout.points - 1)] = row.value;
        BnsCompMap map;
        ASSERT_TRUE(map.ReadPlain(bnstest::AsBinary(values)));
        EXPECT_EQ(map.HasData(), row.expect) << "table " << row.table << " value " << row.value;
    }
}

TEST(BnsCompMap, LoadFindsTheEncipheredMapBesideThePlainOne) {
    unsetenv(bns::kKeyFileVariable);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QString::fromUtf8("d\u00e9j\u00e0 vu"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::wstring plainName = (folder + "/comp.dat").toStdWString();
    const BnsKeyMaterial standIn = BnsKeyMaterial::StandIn();
    TestMap layout;
    layout.flags = 128 | 16;

    BnsCompMap missing;
    missing.SetSources(true, true);
    EXPECT_EQ(missing.Load(plainName), BnsCompMap::kEncipheredMissing);
    EXPECT_EQ(missing.FileName(), (folder + "/comp.enc").toStdWString());

    std::ofstream((folder + "/comp.enc").toStdString(), std::ios::binary) << bnstest::AsEnciphered(
        layout.Values(), bnstest::FileKey(standIn.passPhrase, standIn.secret));
    BnsCompMap map;
    map.SetSources(true, false);
    ASSERT_EQ(map.Load(plainName), BnsCompMap::kLoaded) << map.LastError();
    ExpectCorrections(map, layout, "comp.enc beside comp.dat");

    BnsCompMap plain;
    EXPECT_EQ(plain.Load(plainName), BnsCompMap::kNotLoaded) << "no comp.dat";
    EXPECT_NE(plain.LastError().find("cannot open"), std::string::npos) << plain.LastError();
}
