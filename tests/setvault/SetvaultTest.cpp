// Setvault over a real INI file: names and values that must survive the file, defaults,
// section existence, the administrator switch and the registered-settings dump.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "setvault/Setvault.h"

namespace {

class SetvaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ini_ = dir_.filePath("vault.ini").toStdString();
        setenv("SETVAULT_INI", ini_.c_str(), 1);
        unsetenv("SETVAULT_ADMIN");
        unsetenv("SETVAULT_DEBUG_FILE");
    }

    QByteArray fileText() const {
        QFile file(QString::fromStdString(ini_));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    std::string ini_;
};

TEST_F(SetvaultTest, OddSectionKeyAndValueTextsRoundTrip) {
    struct Row {
        const char* legend;
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
    };
    const Row rows[] = {
        {"spaces in section and key", L"CTerminal History", L"Terminal Window", L"10 20 650 340"},
        {"INI syntax characters in the key", L"Odd", L"a=b;c[d]#e", L"x"},
        {"slash and backslash stay one name", L"Machine/One\\Two", L"key/with\\both", L"v"},
        {"percent signs are not escapes", L"100%", L"%2F", L"50% done"},
        {"non-ASCII names and value", L"Maschine Ü", L"Länge µm", L"Grüße ✓"},
        {"the group name Qt reserves", L"General", L"k", L"general value"},
        {"list-like and quoted value", L"Values", L"list", L"a, b, \"c\""},
        {"leading and trailing blanks", L"Values", L"blank", L"  padded  "},
        {"at sign that marks variants", L"Values", L"variant", L"@Variant(junk)"},
        {"line breaks in a value", L"Values", L"lines", L"one\ntwo\r\n"},
        {"empty value is stored, not the default", L"Values", L"empty", L""},
    };
    for (const Row& row : rows)
        ASSERT_TRUE(WriteRegString(row.section, row.key, row.value, false)) << row.legend;
    for (const Row& row : rows) {
        EXPECT_EQ(GetRegString(row.section, row.key, L"<default>"), row.value) << row.legend;
        EXPECT_NE(RegKeyExists(row.section), 0) << row.legend;
    }
    // The separators did not create sub-groups: "Machine" alone holds nothing.
    EXPECT_EQ(RegKeyExists(L"Machine"), 0);
    // A plain INI file that other tools can read.
    EXPECT_TRUE(fileText().contains("[CTerminal%20History]\nTerminal%20Window=10 20 650 340"));
}

TEST_F(SetvaultTest, MissingValuesGiveTheDefaultAndSectionsExistOnlyWithKeys) {
    EXPECT_EQ(RegKeyExists(L"Tactus"), 0);
    EXPECT_EQ(GetRegString(L"Tactus", L"DebugFile", L"debug.txt"), L"debug.txt");
    EXPECT_EQ(GetRegString(nullptr, nullptr, nullptr), L"");
    EXPECT_FALSE(WriteRegString(L"Tactus", L"", L"no key", false));

    // Registration alone stores nothing.
    AddRegSetting(L"Tactus", L"DebugFile", L"debug.txt", 19, -1, true, true, true);
    EXPECT_EQ(RegKeyExists(L"Tactus"), 0);

    WriteRegString(L"Tactus", L"DebugFile", L"trace.txt", false);
    EXPECT_NE(RegKeyExists(L"Tactus"), 0);
    EXPECT_EQ(RegKeyExists(L"USER_Tactus"), 0);
    EXPECT_EQ(GetRegString(L"Tactus", L"DebugFile", L"debug.txt"), L"trace.txt");
}

TEST_F(SetvaultTest, FileIsChosenOnEveryCall) {
    WriteRegString(L"S", L"k", L"first", false);
    const std::string other = dir_.filePath("sub/dir/other.ini").toStdString();
    setenv("SETVAULT_INI", other.c_str(), 1);
    EXPECT_EQ(GetRegString(L"S", L"k", L"none"), L"none");
    EXPECT_TRUE(WriteRegString(L"S", L"k", L"second", false));  // creates the folders
    setenv("SETVAULT_INI", ini_.c_str(), 1);
    EXPECT_EQ(GetRegString(L"S", L"k", L"none"), L"first");
    EXPECT_EQ(SetvaultIniPath(), QString::fromStdString(ini_).toStdWString());
}

TEST_F(SetvaultTest, AdministratorFollowsTheOverride) {
    setenv("SETVAULT_ADMIN", "1", 1);
    EXPECT_NE(IsAdmin(), 0);
    setenv("SETVAULT_ADMIN", "0", 1);
    EXPECT_EQ(IsAdmin(), 0);
}

TEST_F(SetvaultTest, DebugFileListsRegisteredSettingsWithStoredValues) {
    const QString dump = dir_.filePath("dump.txt");
    setenv("SETVAULT_DEBUG_FILE", dump.toLocal8Bit().constData(), 1);
    AddRegSetting(L"USER_Dump", L"DebugTitle", L"Interface", 19, -1, true, true, true);
    AddRegSetting(L"Dump", L"VolOffsetX", L"0.0", 13, -1, false, true, true);
    WriteRegString(L"USER_Dump", L"DebugTitle", L"Bench 2", false);
    WriteRegSettingsToDebugFile();

    QFile file(dump);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(
        text.contains("[USER_Dump] DebugTitle = \"Bench 2\"  kind 19, default "
                      "\"Interface\", param -1, user-writable, flagged, per-user"))
        << text.constData();
    EXPECT_TRUE(
        text.contains("[Dump] VolOffsetX = (default)  kind 13, default \"0.0\", "
                      "param -1, admin-only, flagged, per-user"))
        << text.constData();
}

}  // namespace
