// Where the position server program named by StartEXE is found.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "driver/core/machine/StartCommand.h"

namespace {

TEST(StartCommand, FirstWordIsTheProgramQuotesGroupWords) {
    const StartCommand quoted = SplitStartCommand(L"\"/opt/vex server/VexServer\" /R");
    EXPECT_EQ(quoted.program, L"/opt/vex server/VexServer");
    EXPECT_EQ(quoted.arguments, std::vector<std::wstring>{L"/R"});
    EXPECT_EQ(SplitStartCommand(L"  ").program, L"");
}

class FindStartProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        for (const char* dir : {"current", "current/bin", "host", "path"})
            ASSERT_TRUE(QDir(root_.path()).mkpath(dir));
        MakeFile("current/here", true);
        MakeFile("current/both", true);
        MakeFile("current/bin/tool", true);
        MakeFile("current/plain", false);
        MakeFile("host/beside", true);
        MakeFile("host/both", true);
        MakeFile("path/onpath", true);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", (Path("path") + ":" + QString::fromStdString(savedPath_)).toLocal8Bit(), 1);
    }
    void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

    QString Path(const char* relative) const { return QDir(root_.path()).filePath(relative); }
    void MakeFile(const char* relative, bool executable) {
        QFile file(Path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        if (executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    std::wstring Find(const wchar_t* program) const {
        return FindStartProgram(program, Path("current").toStdWString(),
                                Path("host").toStdWString());
    }

    QTemporaryDir root_;
    std::string savedPath_;
};

TEST_F(FindStartProgramTest, CurrentDirectoryThenHostProgramDirectoryThenPath) {
    struct Row {
        const char* legend;
        const wchar_t* program;
        const char* expected;  // relative to the temporary root; null: not found
    };
    const Row rows[] = {
        {"bare name in the current directory", L"here", "current/here"},
        {"current directory wins over the host's", L"both", "current/both"},
        {"beside the host program", L"beside", "host/beside"},
        {"on PATH", L"onpath", "path/onpath"},
        {"relative path from the current directory", L"bin/tool", "current/bin/tool"},
        {"a path is not searched elsewhere", L"./beside", nullptr},
        {"Windows name without .exe", L"beside.EXE", "host/beside"},
        {"a file that is not executable", L"plain", nullptr},
        {"nowhere", L"no-such-server", nullptr},
        {"empty", L"", nullptr},
    };
    for (const Row& row : rows) {
        const std::wstring expected =
            row.expected ? QFileInfo(Path(row.expected)).absoluteFilePath().toStdWString() : L"";
        EXPECT_EQ(Find(row.program), expected) << row.legend;
    }
}

}  // namespace
