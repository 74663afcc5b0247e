// qlnrun's pure parts: the command line, the stdin commands, the event lines and the line
// reader that feeds the commands.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTableWidget>

#include "host/qlnrun/EventFormatter.h"
#include "host/qlnrun/LineReader.h"
#include "host/qlnrun/QlnrunOptions.h"
#include "host/qlnrun/ShellCommand.h"
#include "host/qlnrun/ShellWindow.h"

namespace {

QlnrunParse parse(const QStringList& arguments, QlnrunOptions& options, QString& error) {
    return ParseQlnrunOptions(QStringList{QStringLiteral("qlnrun")} + arguments, options, error);
}

TEST(QlnrunOptionsTest, AcceptsEveryOption) {
    QlnrunOptions options;
    QString error;
    ASSERT_EQ(parse({"--driver", "d.so", "--dir", "/tmp", "--headless", "--duration", "2.5",
                     "--answer", "4739=no", "--answer=561=YES", "--unit", "1", "--tip",
                     "1, -2.5,3e1", "--hit-delivery", "0"},
                    options, error),
              QlnrunParse::Run)
        << error.toStdString();
    EXPECT_EQ(options.driverPath, "d.so");
    EXPECT_EQ(options.directory, "/tmp");
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.duration, 2.5);
    EXPECT_EQ(options.answers, (std::map<unsigned, int>{{561u, 6}, {4739u, 7}}));
    EXPECT_EQ(options.lengthUnit, 1.0);
    EXPECT_EQ(options.tip, (std::array<double, 3>{1.0, -2.5, 30.0}));
    EXPECT_EQ(options.hitDelivery, 0);
}

TEST(QlnrunOptionsTest, RejectsBadValuesWithTheirOption) {
    struct Row {
        const char* legend;
        QStringList arguments;
        const char* named;  // the error text names this
    } rows[] = {
        {"duration zero", {"--duration", "0"}, "--duration"},
        {"duration beyond one timer", {"--duration", "1e9"}, "--duration"},
        {"duration not a number", {"--duration", "soon"}, "--duration"},
        {"answer without a number", {"--answer", "yes"}, "--answer"},
        {"answer other than yes or no", {"--answer", "4739=maybe"}, "--answer"},
        {"unit zero would divide by zero", {"--unit", "0"}, "--unit"},
        {"tip with two values", {"--tip", "1,2"}, "--tip"},
        {"tip with a word", {"--tip", "1,x,3"}, "--tip"},
        {"tip that is not finite", {"--tip", "1,inf,3"}, "--tip"},
        {"hit delivery 2", {"--hit-delivery", "2"}, "--hit-delivery"},
        {"auto-hit distance zero", {"--auto-hit", "0"}, "--auto-hit"},
        {"value missing", {"--driver"}, "driver"},
        {"unknown option", {"--colour"}, "colour"},
        {"stray argument", {"extra"}, "extra"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnrunOptions options;
        options.driverPath = QStringLiteral("kept");
        QString error;
        EXPECT_EQ(parse(row.arguments, options, error), QlnrunParse::Error);
        EXPECT_TRUE(error.contains(QLatin1String(row.named))) << error.toStdString();
        EXPECT_EQ(options.driverPath, "kept") << "options changed by a failed parse";
    }
}

TEST(ShellCommandTest, ParsesCommandsAndRefusesTheRest) {
    struct Row {
        const char* legend;
        const char* line;
        bool ok;
        ShellCommandKind kind;
        int value;
    } rows[] = {
        {"plain", "read", true, ShellCommandKind::Read, 0},
        {"blanks and a CR around", "  scan-begin \r", true, ShellCommandKind::ScanBegin, 0},
        {"number argument", "readout-state 0", true, ShellCommandKind::ReadoutState, 0},
        {"negative number", "readout-state -3", true, ShellCommandKind::ReadoutState, -3},
        {"empty line", "", true, ShellCommandKind::None, 0},
        {"comment", "# quit", true, ShellCommandKind::None, 0},
        {"unknown word", "reed", false, ShellCommandKind::None, 0},
        {"case matters", "QUIT", false, ShellCommandKind::None, 0},
        {"argument where none is taken", "quit now", false, ShellCommandKind::None, 0},
        {"number missing", "readout-state", false, ShellCommandKind::None, 0},
        {"number with a tail", "readout-state 1x", false, ShellCommandKind::None, 0},
        {"number too large", "readout-state 99999999999", false, ShellCommandKind::None, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ShellCommand command;
        std::string error;
        EXPECT_EQ(ParseShellCommand(row.line, command, error), row.ok) << error;
        EXPECT_EQ(command.kind, row.kind);
        EXPECT_EQ(command.value, row.value);
        EXPECT_EQ(error.empty(), row.ok);
    }
}

HostEvent event(HostEventKind kind, std::vector<double> values = {}, std::vector<int> ints = {},
                int id = 0, std::wstring text = {}, int result = 0) {
    HostEvent e{kind};
    e.values = std::move(values);
    e.ints = std::move(ints);
    e.id = id;
    e.text = std::move(text);
    e.result = result;
    return e;
}

TEST(EventFormatterTest, FormatsTheDocumentedLines) {
    struct Row {
        const char* legend;
        HostEvent event;
        const char* line;  // nullptr: no line
    } rows[] = {
        {"init complete", event(HostEventKind::MachineInitComplete), "init-complete"},
        {"readout", event(HostEventKind::Readout, {1, 2.5, -3, 270, -999, -999, -999, -999}),
         "readout 1.000000 2.500000 -3.000000 270.000000"},
        {"same readout again", event(HostEventKind::Readout, {1, 2.5, -3, 270}), nullptr},
        {"readout changed in W only", event(HostEventKind::Readout, {1, 2.5, -3, 271}),
         "readout 1.000000 2.500000 -3.000000 271.000000"},
        {"change below the sixth decimal", event(HostEventKind::Readout, {1, 2.5, -3, 271.0000001}),
         nullptr},
        {"manual hit: angles skipped, W last",
         event(HostEventKind::ManualHit, {1, 2, 3, 0, 0, 1, 7, 8, 9, 45, -9876.54}),
         "hit 1.000000 2.000000 3.000000 0.000000 0.000000 1.000000 45.000000"},
        {"result with a point",
         event(HostEventKind::ReportResult, {1, 2, 3, -9876.54, -9876.54}, {1, 0}),
         "result 1.000000 2.000000 3.000000"},
        {"result with point and vector",
         event(HostEventKind::ReportResult, {1, 2, 3, 0, 1, 0, -9876.54, -9876.54}, {1, 1}),
         "result 1.000000 2.000000 3.000000 0.000000 1.000000 0.000000"},
        {"a value of 58 digits is not cut",
         event(HostEventKind::ReportResult, {0x1p190, 0, 0, -9876.54, -9876.54}, {1, 0}),
         "result 1569275433846670190958947355801916604025588861116008628224.000000 0.000000 "
         "0.000000"},
        {"result without a point", event(HostEventKind::ReportResult, {-9876.54, -9876.54}, {0, 0}),
         "result none"},
        {"mode", event(HostEventKind::SetMode, {}, {}, 16, {}, 0), "mode 16 0"},
        {"status with text escapes",
         event(HostEventKind::StatusMessage, {}, {0, -1}, 5523, L"a\\b\nc\td\u00e9"),
         "status 5523 a\\\\b\\nc\\td\xc3\xa9"},
        {"message box with its answer",
         event(HostEventKind::MessageBox, {}, {4, 0}, 4739, L"Reset?", 7),
         "message 4739 Reset? -> 7"},
        {"events a script does not need", event(HostEventKind::OptionQuery, {}, {}, 63), nullptr},
    };
    EventFormatter formatter;  // one stream: the readout rows depend on each other
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const auto line = formatter.lineFor(row.event);
        if (row.line == nullptr)
            EXPECT_FALSE(line) << *line;
        else
            EXPECT_EQ(line.value_or("(none)"), row.line);
    }
}

// Drives a LineReader on a pipe with the event loop until `done` or a time-out.
class LineReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0);
        reader_ = std::make_unique<LineReader>(fds_[0]);
        QObject::connect(reader_.get(), &LineReader::lineRead,
                         [this](const QByteArray& line) { lines_.push_back(line.toStdString()); });
        QObject::connect(reader_.get(), &LineReader::tooLong, [this] { ++tooLong_; });
        QObject::connect(reader_.get(), &LineReader::ended, [this] { ended_ = true; });
    }
    void TearDown() override {
        reader_.reset();
        close(fds_[0]);
        if (fds_[1] >= 0)
            close(fds_[1]);
    }
    void write(const std::string& text) {
        ASSERT_EQ(::write(fds_[1], text.data(), text.size()), ssize_t(text.size()));
    }
    void endInput() {
        close(fds_[1]);
        fds_[1] = -1;
    }
    bool runUntil(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    int fds_[2] = {-1, -1};
    std::unique_ptr<LineReader> reader_;
    std::vector<std::string> lines_;
    int tooLong_ = 0;
    bool ended_ = false;
};

TEST_F(LineReaderTest, PausedLinesFollowInOrderAndTheLastLineNeedsNoLineEnd) {
    // The first line pauses the reader, as a slot does while the driver is busy.
    QObject::connect(reader_.get(), &LineReader::lineRead, [this](const QByteArray& line) {
        if (line == "pause")
            reader_->setEnabled(false);
    });
    reader_->setEnabled(true);
    write("pause\nsecond\nthird\nlast without end");
    endInput();
    ASSERT_TRUE(runUntil([&] { return !lines_.empty(); }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(lines_, std::vector<std::string>{"pause"});
    EXPECT_FALSE(ended_) << "a paused reader reported the end";

    reader_->setEnabled(true);
    ASSERT_TRUE(runUntil([&] { return ended_; }));
    EXPECT_EQ(lines_, (std::vector<std::string>{"pause", "second", "third", "last without end"}));
}

TEST_F(LineReaderTest, DropsAnOverlongLineAndKeepsReading) {
    reader_->setEnabled(true);
    const std::string huge(size_t(LineReader::kMaxLine) + 10, 'x');
    std::thread writer([&] {
        write(huge);
        write(huge + "\nnext\n");
        endInput();
    });
    const bool finished = runUntil([&] { return ended_; });
    writer.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(tooLong_, 1);
    EXPECT_EQ(lines_, std::vector<std::string>{"next"});
}

TEST(ShellWindowTest, ShowsReadoutHitsAndEvents) {
    ShellWindow window(QStringLiteral("libTactus.so"));
    window.showHostEvent(event(HostEventKind::Readout, {1.5, -2, 3, 270}));
    window.showHostEvent(
        event(HostEventKind::ManualHit, {10, 20, 30, 0.6, 0, 0.8, 7, 8, 9, 45, -9876.54}));
    window.showHostEvent(event(HostEventKind::ReportResult, {1, 2, 3, -9876.54, -9876.54}, {1, 0}));
    window.showHostEvent(event(HostEventKind::StatusMessage, {}, {0, -1}, 5516, L"Ready."));
    if (qEnvironmentVariableIsSet("QLNRUN_WINDOW_PNG"))
        window.grab().save(qEnvironmentVariable("QLNRUN_WINDOW_PNG"));

    QStringList labels;
    for (QLabel* label : window.findChildren<QLabel*>())
        labels << label->text();
    for (const char* value : {"1.5000", "-2.0000", "3.0000", "270.0000"})
        EXPECT_TRUE(labels.contains(QLatin1String(value))) << value;
    auto* hits = window.findChild<QTableWidget*>();
    ASSERT_NE(hits, nullptr);
    ASSERT_EQ(hits->rowCount(), 1);
    QStringList row;
    for (int column = 0; column < hits->columnCount(); ++column)
        row << hits->item(0, column)->text();
    // The probe-head angles (7, 8, 9) are not a vector: W comes from its own place.
    EXPECT_EQ(row.join(u' '), "10.0000 20.0000 30.0000 0.6000 0.0000 0.8000 45.0000");
    const QString log = window.findChild<QPlainTextEdit*>()->toPlainText();
    EXPECT_TRUE(log.contains(QLatin1String("result 1.000000 2.000000 3.000000")))
        << log.toStdString();
    EXPECT_EQ(window.statusBar()->currentMessage(), "Ready.");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
