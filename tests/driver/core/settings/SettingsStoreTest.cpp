// The driver's settings table against a real INI file through Setvault: first run, the
// version rule, conversions of stored texts, who writes what, the "USER_" rules and the
// listing in the debug log.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <cstdlib>
#include <map>
#include <string>

#include "driver/comm/log/LogLine.h"
#include "driver/core/settings/DriverSettings.h"
#include "driver/core/settings/SettingsStore.h"
#include "host/HostRecorder.h"
#include "host/QlnServices.h"
#include "setvault/Setvault.h"

namespace {

using IniFile = std::map<std::string, std::map<std::string, std::string>>;

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ini_ = dir_.filePath("settings.ini");
        setenv("SETVAULT_INI", ini_.toLocal8Bit().constData(), 1);
        setenv("SETVAULT_ADMIN", "1", 1);
        setenv("SETVAULT_DEBUG_FILE", dir_.filePath("registered.txt").toLocal8Bit().constData(), 1);
        driverSettings = DriverSettings{};
        QlnRecorder().clear();
    }

    // The file as written, section by section, values exactly as stored.
    IniFile readIni() const {
        IniFile ini;
        QFile file(ini_);
        if (!file.open(QIODevice::ReadOnly))
            return ini;
        std::string section;
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const std::string line = raw.toStdString();
            if (line.size() > 1 && line.front() == '[')
                section = line.substr(1, line.size() - 2);
            else if (const size_t eq = line.find('='); eq != std::string::npos)
                ini[section][line.substr(0, eq)] = line.substr(eq + 1);
        }
        return ini;
    }

    bool startUp(const wchar_t* section) {
        registerSettings(driverSettingsTable, section);
        return loadSettings(driverSettingsTable, section);
    }

    QTemporaryDir dir_;
    QString ini_;
};

TEST_F(SettingsStoreTest, FirstRunOfAnAdministratorWritesEveryDefault) {
    const std::wstring section = DriverSettingsSection(qlnTheApp);
    ASSERT_EQ(section, L"Tactus");
    EXPECT_FALSE(startUp(section.c_str()));
    EXPECT_EQ(driverSettings.WCompensMode, 1);
    EXPECT_TRUE(ApplySettingsVersionRule(false, section.c_str()));

    const IniFile expected = {
        {"USER_Tactus",
         {{"DebugLog", "FALSE"},
          {"DebugFile", "debug.txt"},
          {"DebugPosReport", "0"},
          {"DebugCPU", "3"},
          {"DebugCMM", "3"},
          {"DebugWindow", "FALSE"},
          {"DebugLogReset", "FALSE"},
          {"DebugTitle", "Interface"},
          {"DebugLogMaxSize", "20"},
          {"Version", "1.2700000000"}}},
        {"Tactus",
         {{"VolCompMethod", "0"},
          {"ARM2CompMode", "FALSE"},
          {"WCompensMode", "1"},
          {"UsingOldWcompens32", "FALSE"},
          {"VolDebug", "FALSE"},
          {"CompensFileName", "compens.dat"},
          {"VolOffsetX", "0.0000000000"},
          {"VolOffsetY", "0.0000000000"},
          {"VolOffsetZ", "0.0000000000"}}},
    };
    EXPECT_EQ(readIni(), expected);
    // Stored now: the next start loads it.
    EXPECT_TRUE(loadSettings(driverSettingsTable, section.c_str()));
}

TEST_F(SettingsStoreTest, VersionRuleSavesOnlyBelowTheCurrentVersion) {
    struct Row {
        const char* legend;
        const wchar_t* stored;
        bool saves;
    };
    const Row rows[] = {
        {"older settings are upgraded", L"1.26", true},
        {"just below counts as older", L"1.2699999999", true},
        {"unreadable version reads as 0", L"new", true},
        {"the current version is kept", L"1.27", false},
        {"a newer version is kept", L"1.30", false},
    };
    for (const Row& row : rows) {
        QFile::remove(ini_);
        driverSettings = DriverSettings{};
        WriteRegString(L"USER_Tactus", L"Version", row.stored, false);
        ASSERT_TRUE(startUp(L"Tactus")) << row.legend;
        EXPECT_EQ(ApplySettingsVersionRule(true, L"Tactus"), row.saves) << row.legend;
        const IniFile ini = readIni();
        EXPECT_EQ(ini.count("Tactus") == 1, row.saves) << row.legend;
        EXPECT_EQ(ini.at("USER_Tactus").at("Version"),
                  row.saves ? "1.2700000000" : QString::fromWCharArray(row.stored).toStdString())
            << row.legend;
    }
}

TEST_F(SettingsStoreTest, StoredTextsConvertByType) {
    struct Row {
        const char* legend;
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* stored;
        std::function<bool()> check;
    };
    const DriverSettings& s = driverSettings;
    const Row rows[] = {
        // booleans: true exactly when "TRUE" occurs
        {"lower-case true is false", L"USER_Tactus", L"DebugLog", L"true",
         [&] { return !s.DebugLog; }},
        {"NOT TRUE contains TRUE", L"USER_Tactus", L"DebugLog", L"NOT TRUE",
         [&] { return s.DebugLog; }},
        {"TRUE is true", L"USER_Tactus", L"DebugWindow", L"TRUE", [&] { return s.DebugWindow; }},
        // unsigned 8 bits
        {"300 keeps its low 8 bits", L"Tactus", L"VolCompMethod", L"300",
         [&] { return s.VolCompMethod == 44; }},
        {"-1 wraps to 255", L"Tactus", L"VolCompMethod", L"-1",
         [&] { return s.VolCompMethod == 255; }},
        {"longest number prefix", L"USER_Tactus", L"DebugCPU", L" +12abc",
         [&] { return s.DebugCPU == 12; }},
        {"no number reads 0", L"USER_Tactus", L"DebugCMM", L"abc", [&] { return s.DebugCMM == 0; }},
        // signed 32 bits
        {"huge saturates", L"Tactus", L"WCompensMode", L"99999999999",
         [&] { return s.WCompensMode == INT32_MAX; }},
        {"huge negative saturates", L"Tactus", L"WCompensMode", L"-99999999999",
         [&] { return s.WCompensMode == INT32_MIN; }},
        {"hexadecimal is decimal 0", L"Tactus", L"WCompensMode", L"0x10",
         [&] { return s.WCompensMode == 0; }},
        // doubles and points
        {"exponent and trailing text", L"Tactus", L"VolOffsetX", L"1.5e2mm",
         [&] { return s.VolOffset[0] == 150.0; }},
        {"dangling exponent ignored", L"Tactus", L"VolOffsetY", L"-.5e",
         [&] { return s.VolOffset[1] == -0.5; }},
        {"nan is no number", L"Tactus", L"VolOffsetZ", L"nan",
         [&] { return s.VolOffset[2] == 0.0; }},
        {"out of range reads 0", L"USER_Tactus", L"Version", L"1e999",
         [&] { return s.Version == 0.0; }},
        // texts
        {"text copied", L"Tactus", L"CompensFileName", L"C:\\maps\\comp 1.dat",
         [&] { return s.CompensFileName == L"C:\\maps\\comp 1.dat"; }},
    };
    for (const Row& row : rows) {
        QFile::remove(ini_);
        driverSettings = DriverSettings{};
        WriteRegString(row.section, row.key, row.stored, false);
        loadSettings(driverSettingsTable, L"Tactus");
        EXPECT_TRUE(row.check()) << row.legend;
    }
}

TEST_F(SettingsStoreTest, NonAdministratorWritesOnlyTheTenUserRows) {
    setenv("SETVAULT_ADMIN", "0", 1);
    startUp(L"Tactus");
    driverSettings.VolCompMethod = 12;
    saveSettings(driverSettingsTable, L"Tactus");
    const IniFile ini = readIni();
    EXPECT_EQ(ini.count("Tactus"), 0u);
    ASSERT_EQ(ini.count("USER_Tactus"), 1u);
    EXPECT_EQ(ini.at("USER_Tactus").size(), 10u);
}

TEST_F(SettingsStoreTest, SectionAlreadyStartingWithUserIsNotPrefixedTwiceExceptOnRegister) {
    const wchar_t* section = L"USER_Bench";
    registerSettings(driverSettingsTable, section);
    const std::vector<HostEvent> perUser = QlnRecorder().eventsOf(HostEventKind::UserSetting);
    ASSERT_EQ(perUser.size(), 10u);  // the ten "USER_" rows, none of the machine rows
    EXPECT_EQ(perUser.front().text, L"USER_Bench");
    EXPECT_EQ(perUser.front().detail, L"DebugLog");
    EXPECT_EQ(perUser.front().more, (std::vector<std::wstring>{L"USER_USER_Bench", L"DebugLog"}));

    WriteRegString(section, L"DebugTitle", L"Bench window", false);
    EXPECT_TRUE(loadSettings(driverSettingsTable, section));
    EXPECT_EQ(driverSettings.DebugTitle, L"Bench window");
    saveSettings(driverSettingsTable, section);
    const IniFile ini = readIni();
    EXPECT_EQ(ini.count("USER_USER_Bench"), 0u);
    EXPECT_EQ(ini.at("USER_Bench").size(), 19u);  // ten user rows, six machine rows, 3 axes
}

TEST_F(SettingsStoreTest, OtherTypesLoadAndSaveInTheirForms) {
    std::int16_t s16 = 0;
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    float f = 0;
    std::int32_t b32 = 0;
    wchar_t shortText[4] = {};
    wchar_t c = 0;
    const SettingEntry table[] = {
        {L"S16", kSettingInt16, &s16, L"0", -1, 1, 1, 1},
        {L"U16", kSettingUInt16, &u16, L"0", -1, 1, 1, 1},
        {L"U32", kSettingUInt32, &u32, L"0", -1, 1, 1, 1},
        {L"F", kSettingFloat, &f, L"0", -1, 1, 1, 1},
        {L"B32", kSettingBool32, &b32, L"FALSE", -1, 1, 1, 1},
        {L"Short", kSettingShortText, shortText, L"", -1, 1, 1, 1},
        {L"C", kSettingChar, &c, L"", -1, 1, 1, 1},
        {nullptr, kSettingEnd, nullptr, nullptr, 0, 0, 0, 0},
    };
    const std::map<std::wstring, std::wstring> stored = {
        {L"S16", L"70000"}, {L"U16", L"-1"},     {L"U32", L"99999999999"},
        {L"F", L"0.1"},     {L"B32", L"xTRUEx"}, {L"Short", L"abcdef"},
        {L"C", L"Q9"}};
    for (const auto& [key, value] : stored)
        WriteRegString(L"USER_Extra", key.c_str(), value.c_str(), false);
    loadSettings(table, L"Extra");
    EXPECT_EQ(s16, std::int16_t(70000 - 65536));
    EXPECT_EQ(u16, 65535);
    EXPECT_EQ(u32, UINT32_MAX);
    EXPECT_FLOAT_EQ(f, 0.1f);
    EXPECT_EQ(b32, 1);
    EXPECT_EQ(std::wstring(shortText), L"abc");  // three characters fit
    EXPECT_EQ(c, L'Q');

    QFile::remove(ini_);
    saveSettings(table, L"Extra");
    const std::map<std::string, std::string> written = {
        {"S16", "4464"},   {"U16", "65535"}, {"U32", "4294967295"},
        {"F", "0.100000"}, {"B32", "TRUE"},  {"C", "Q"}};  // short texts have no stored form
    EXPECT_EQ(readIni().at("USER_Extra"), written);
}

TEST_F(SettingsStoreTest, ListingLinesAndOneRegistryDumpPerProcess) {
    const QString logPath = dir_.filePath("listing.log");
    ASSERT_EQ(TheDebugLog().OpenLogFile(logPath.toStdWString().c_str(), 0, nullptr), 1);
    startUp(L"Tactus");
    driverSettings.VolOffset = CPoint3(1.5, -2.0, 0.25);
    driverSettings.DebugFile = L"100% trace.txt";
    listSettings(driverSettingsTable, L"Tactus");

    std::int32_t odd = 0;
    const SettingEntry unknown[] = {{L"Odd", SettingType(4), &odd, L"", -1, 1, 1, 1},
                                    {nullptr, kSettingEnd, nullptr, nullptr, 0, 0, 0, 0}};
    listSettings(unknown, L"Extra");
    listSettings(unknown, nullptr);  // no section: nothing
    TheDebugLog().CloseLogFile();

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QByteArray text = log.readAll();
    text = text.mid(text.indexOf("\n\n") + 2);  // after the date line and the empty line
    EXPECT_EQ(text.toStdString(),
              "BEGIN listing of INI active (in memory) values for [Tactus]\n"
              "  DebugLog = FALSE\n"
              "  DebugFile = 100% trace.txt\n"
              "  DebugPosReport = 0\n"
              "  DebugCPU = 3\n"
              "  DebugCMM = 3\n"
              "  DebugWindow = FALSE\n"
              "  DebugLogReset = FALSE\n"
              "  DebugTitle = Interface\n"
              "  DebugLogMaxSize = 20\n"
              "  Version = 1.270000\n"
              "  VolCompMethod = 0\n"
              "  ARM2CompMode = FALSE\n"
              "  WCompensMode = 1\n"
              "  UsingOldWcompens32 = FALSE\n"
              "  VolDebug = FALSE\n"
              "  CompensFileName = compens.dat\n"
              "  VolOffset? = {1.500000, -2.000000, 0.250000}\n"
              "END listing of INI active (in memory) values for [Tactus]\n"
              "BEGIN listing of INI active (in memory) values for [Extra]\n"
              "  Odd = *** unrecognized type 4 ***\n"
              "END listing of INI active (in memory) values for [Extra]\n");

    // The registered settings went to Setvault's debug file once, with the first listing.
    const QString dump = dir_.filePath("registered.txt");
    QFile registered(dump);
    ASSERT_TRUE(registered.open(QIODevice::ReadOnly));
    EXPECT_TRUE(registered.readAll().contains("[Tactus] VolOffsetY = (default)"));
    registered.close();
    QFile::remove(dump);
    listSettings(driverSettingsTable, L"Tactus");
    EXPECT_FALSE(QFile::exists(dump));
}

}  // namespace
