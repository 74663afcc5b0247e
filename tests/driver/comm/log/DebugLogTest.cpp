// The debug log without a window: the log file's bytes, results, the lock, formatting limits,
// the file name rules and system error texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <regex>
#include <string>

#include "driver/comm/log/LogLine.h"
#include "driver/comm/log/LogPlatform.h"
#include "driver/comm/log/WideFormat.h"
#include "host/HostRecorder.h"
#include "host/QlnServices.h"
#include "tests/driver/comm/log/LogTestEnvironment.h"

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::wstring wide(const QString& text) {
    return text.toStdWString();
}

class DebugLogTest : public ::testing::Test {
  protected:
    void SetUp() override { LogTestEnvironment::get(); }
};

TEST_F(DebugLogTest, LogFileHoldsTheDateLineAnEmptyLineAndEveryPrefixedLine) {
    const QString path = LogTestEnvironment::get().tempPath("session.log");
    DebugLog& log = TheDebugLog();
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    LogLine(L"-Tactus: driver_initialize call_back=%x,tip=%ls\n", 0u, L"NONE");
    LogLine(L">Tactus:    Sending: %s\n", "POS");
    LogLine(L"<Tactus: hit (before comp) =%lf,%lf,%lf\n", 1.0, 2.5, -3.0);
    LogLine(L"FAILED TO OPEN TCP Socket!!!!! CMM:%ls, %d.\n", L"Bänk 2", 1390);
    log.CloseLogFile();
    LogLine(L"-Tactus: after closing\n");  // goes nowhere, and must not fail

    const std::string bytes = readFile(path).toStdString();
    const std::regex layout(
        "\\d\\d:\\d\\d:\\d\\d [A-Z][a-z]+day, [A-Z][a-z]+ \\d\\d, \\d{4}\n\n"
        "-Tactus: driver_initialize call_back=0,tip=NONE\n"
        ">Tactus:    Sending: POS\n"
        "<Tactus: hit \\(before comp\\) =1.000000,2.500000,-3.000000\n"
        "FAILED TO OPEN TCP Socket!!!!! CMM:B\xc3\xa4nk 2, 1390.\n");
    EXPECT_TRUE(std::regex_match(bytes, layout)) << bytes;
}

TEST_F(DebugLogTest, ResultsWithoutSinkWithFileAndWithoutLock) {
    CQLNdebugOutput output;
    DebugLog log(output);
    EXPECT_FALSE(log.IsLogging());
    EXPECT_EQ(log.WriteText(L"nowhere\n"), -1);
    EXPECT_EQ(log.Print(L"%d\n", 5), -1);

    const QString path = LogTestEnvironment::get().tempPath("results.log");
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    EXPECT_EQ(log.WriteText(L"abc\n"), 4);
    EXPECT_EQ(log.Print(L"%ls=%d\n", L"n", 12), 5);
    // A second open keeps the file and only adds an empty line.
    EXPECT_EQ(log.OpenLogFile(L"other.txt", 0, nullptr), 1);
    EXPECT_EQ(output.logFileName, wide(path));

    output.lock = nullptr;  // a host without a lock: every operation gives up
    EXPECT_EQ(log.WriteText(L"lost\n"), 0);
    EXPECT_EQ(log.Print(L"lost\n"), 0);
    EXPECT_EQ(log.OpenLogFile(L"x.txt", 0, nullptr), 1);
    log.CloseLogFile();
    EXPECT_NE(output.logFile, nullptr);

    std::fclose(output.logFile);
    output.logFile = nullptr;
    EXPECT_TRUE(readFile(path).endsWith("\n\nabc\nn=12\n\n"));
}

TEST_F(DebugLogTest, ReopenAfterWriteKeepsAppending) {
    CQLNdebugOutput output;
    output.reopenAfterWrite = true;
    DebugLog log(output);
    const QString path = LogTestEnvironment::get().tempPath("reopen.log");
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    log.WriteText(L"one\n");
    log.WriteText(L"two\n");
    log.CloseLogFile();
    EXPECT_TRUE(readFile(path).endsWith("\n\none\ntwo\n"));
}

TEST_F(DebugLogTest, OverlongTextIsCutAndKeepsItsLineEnd) {
    CQLNdebugOutput output;
    DebugLog log(output);
    const QString path = LogTestEnvironment::get().tempPath("long.log");
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    const std::wstring longText(6000, L'x');
    // The driver's line limit, through the same formatting LogLine uses.
    const std::wstring line = FormatWide(kLogLineChars, L"-Tactus: %ls\n", longText.c_str());
    EXPECT_EQ(line.size(), kLogLineChars - 1);
    EXPECT_EQ(line.back(), L'\n');
    // Print's buffer limit.
    EXPECT_EQ(log.Print(L"%ls\n", longText.c_str()), int(DebugLog::kPrintBufferChars - 1));
    // PrintText writes its result unchanged, '%' included.
    EXPECT_EQ(log.PrintText(L"%ls\n", L"100% done"), 10);
    log.CloseLogFile();
    const QByteArray bytes = readFile(path);
    EXPECT_TRUE(bytes.endsWith(QByteArray(4998, 'x') + "\n100% done\n"));
}

TEST_F(DebugLogTest, FileNameCompletionFolderAndStoredName) {
    struct Row {
        const char* legend;
        const wchar_t* name;
        const wchar_t* section;
        QString expectedFile;   // relative to the working folder
        const wchar_t* stored;  // "DebugFile" in the section afterwards
    };
    const Row rows[] = {
        {"no dot: .txt added and stored", L"trace", L"USER_LogTest", "trace.txt", L"trace.txt"},
        {"no name: debug.txt, nothing stored", nullptr, L"USER_LogTest2", "debug.txt", L""},
        {"a dot: kept as given, nothing stored", L"drv.log", L"USER_LogTest3", "drv.log", L""},
    };
    const QString folder = QDir::currentPath();
    for (const Row& row : rows) {
        CQLNdebugOutput output;
        DebugLog log(output);
        ASSERT_EQ(log.OpenLogFile(row.name, 0, row.section), 1) << row.legend;
        log.CloseLogFile();
        const QString expected = folder + '/' + row.expectedFile;
        EXPECT_EQ(QString::fromStdWString(output.logFileName), expected) << row.legend;
        EXPECT_TRUE(readFile(expected).contains("\n-Tactus: Debug log file " + expected.toUtf8()));
        QFile::remove(expected);
        EXPECT_EQ(GetRegString(row.section, L"DebugFile", L""), row.stored) << row.legend;
    }
    // Where nobody, not even root, may create a file (/proc): the user's state folder.
    qputenv("XDG_STATE_HOME", LogTestEnvironment::get().tempPath("state").toLocal8Bit());
    CQLNdebugOutput output;
    ASSERT_TRUE(QDir::setCurrent("/proc"));
    EXPECT_EQ(DebugLog(output).OpenLogFile(L"trace", 0, nullptr), 1);
    QDir::setCurrent(folder);
    EXPECT_EQ(QString::fromStdWString(output.logFileName),
              LogTestEnvironment::get().tempPath("state/Vexline/trace.txt"));
}

// At its limit the file goes on as a new one and the full one is kept as name.1; the next
// session keeps the last session's file there too.
TEST_F(DebugLogTest, LogFileIsRotatedOnceAtItsLimitAndOnEveryOpen) {
    CQLNdebugOutput output;
    DebugLog log(output);
    const QString path = LogTestEnvironment::get().tempPath("capped.log");
    const QByteArray x(40, 'x');
    log.SetLogFileCap(1000);
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    for (int i = 0; i < 25; ++i)  // 49 bytes each: line 19 reaches the limit
        log.WriteText(FormatWide(100, L"line %02d %s\n", i, x.constData()));
    EXPECT_TRUE(readFile(path + ".1").endsWith("line 19 " + x + "\n"));
    EXPECT_TRUE(
        readFile(path).contains("the lines before are in " + path.toUtf8() + ".1\nline 20"));
    log.CloseLogFile();
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    log.CloseLogFile();
    EXPECT_TRUE(readFile(path + ".1").endsWith("line 24 " + x + "\n"));
}

TEST_F(DebugLogTest, ValueAndSectionAreKeptOnlyTogether) {
    CQLNdebugOutput output;
    DebugLog log(output);
    const std::wstring path = wide(LogTestEnvironment::get().tempPath("kept.log"));
    ASSERT_EQ(log.OpenLogFile(path.c_str(), 3, L"Host"), 1);
    EXPECT_EQ(output.logValue, 3);
    EXPECT_EQ(output.logSection, L"Host");
    log.CloseLogFile();
    const std::wstring missing = wide(LogTestEnvironment::get().tempPath("no/such/dir/x.log"));
    EXPECT_FALSE(OpenDriverLogFile(log, missing, 0, nullptr));
    EXPECT_FALSE(log.IsLogging());
    EXPECT_EQ(QlnRecorder().eventsOf(HostEventKind::StatusMessage).back().text,
              L"Cannot create the debug log file " + missing + L": No such file or directory");
}

TEST_F(DebugLogTest, SystemErrorTexts) {
    CQLNdebugOutput output;
    DebugLog log(output);
    const QString path = LogTestEnvironment::get().tempPath("errors.log");
    ASSERT_EQ(log.OpenLogFile(wide(path).c_str(), 0, nullptr), 1);
    log.ReportSystemError(2);
    log.ReportSystemError(0x7ffe);
    log.CloseLogFile();
    EXPECT_TRUE(
        readFile(path).endsWith("System error code: 0x2, text: No such file or directory\n"
                                "System error code: 0x7ffe, text: <text not available>\n"))
        << readFile(path).constData();
}

}  // namespace
