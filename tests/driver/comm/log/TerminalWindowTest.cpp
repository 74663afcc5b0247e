// The terminal window: how written text becomes lines, the window filter, showing and
// hiding, the title, the saved window size, and what the window paints.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <string>
#include <vector>

#include "driver/comm/log/DebugLog.h"
#include "driver/comm/log/LogLine.h"
#include "host/CQLNterminalWindow.h"
#include "tests/driver/comm/log/LogTestEnvironment.h"

namespace {

std::vector<std::wstring> linesOf(const CQLNdebugOutput& output) {
    return {output.lines.begin(), output.lines.end()};
}

// One shown window for the text cases; each case starts from an empty line.
class TerminalTextTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        LogTestEnvironment::get();
        output_ = new CQLNdebugOutput;
        ASSERT_EQ(DebugLog(*output_).ShowTerminal(L"Terminal Window", false, 0, 0), 1);
    }
    static void TearDownTestSuite() {
        delete output_->window;
        delete output_;
    }
    void SetUp() override {
        output_->lines.assign(1, L"");
        output_->flags = 0;
        output_->maxLines = 500;
        output_->maxLineLength = 200;
        output_->suppressAll = false;
        output_->suppressText.clear();
        output_->exceptText.clear();
        output_->suspended = false;
    }

    static CQLNdebugOutput* output_;
};
CQLNdebugOutput* TerminalTextTest::output_ = nullptr;

TEST_F(TerminalTextTest, ControlCharactersShapeTheLines) {
    struct Row {
        const char* legend;
        std::wstring text;
        unsigned flags;
        int maxLineLength;
        std::vector<std::wstring> lines;
    };
    const unsigned ignoreCr = CQLNdebugOutput::kIgnoreCarriageReturn;
    const Row rows[] = {
        {"backspace removes the last character", L"ab\bc\n", 0, 200, {L"ac", L""}},
        {"backspace on an empty line does nothing", L"\b\bx", 0, 200, {L"x"}},
        {"tab fills to column 4", L"a\tb", 0, 200, {L"a   b"}},
        {"tab at a tab stop still adds four", L"abcd\te", 0, 200, {L"abcd    e"}},
        {"carriage return empties the line", L"abc\rxy\n", 0, 200, {L"xy", L""}},
        {"carriage return ignored by flag", L"abc\rxy\n", ignoreCr, 200, {L"abcxy", L""}},
        {"code 1 on an empty line does nothing", std::wstring(1, 1), 0, 200, {L""}},
        {"code 1 ends a started line, unstored",
         L"ab\x01"
         L"cd",
         0,
         200,
         {L"ab", L"cd"}},
        {"full line ends by itself", L"abcdefg", 0, 5, {L"abcde", L"fg"}},
        {"tab stops at the line length", L"abc\t", 0, 3, {L"abc", L"   ", L""}},
    };
    for (const Row& row : rows) {
        SetUp();
        output_->flags = row.flags;
        output_->maxLineLength = row.maxLineLength;
        EXPECT_EQ(DebugLog(*output_).WriteText(row.text), int(row.text.size())) << row.legend;
        EXPECT_EQ(linesOf(*output_), row.lines) << row.legend;
    }
}

TEST_F(TerminalTextTest, OldestLinesGoBeyondTheLimitAndTheViewFollows) {
    output_->maxLines = 4;
    DebugLog log(*output_);
    for (int i = 0; i < 10; ++i)
        log.WriteText(L"line " + std::to_wstring(i) + L"\n");
    EXPECT_EQ(linesOf(*output_), (std::vector<std::wstring>{L"line 8", L"line 9", L""}));
    EXPECT_EQ(output_->vScrollPos, output_->vScrollMax);

    output_->maxLines = 0;  // a limit that leaves nothing still keeps the line being filled
    log.WriteText(L"a\nb");
    EXPECT_EQ(linesOf(*output_), (std::vector<std::wstring>{L"b"}));
}

TEST_F(TerminalTextTest, FilterDecidesOnTheFirstHundredCharacters) {
    struct Row {
        const char* legend;
        bool all;
        std::wstring suppress;
        std::wstring except;
        std::wstring text;
        bool shown;
    };
    const std::wstring far = std::wstring(120, L'.') + L"POS";
    const Row rows[] = {
        {"empty filter drops nothing", false, L"", L"", L"<Tactus: Received: POS", true},
        {"suppress text drops", false, L"Received", L"", L"<Tactus: Received: POS", false},
        {"except text rescues", false, L"Received", L"HIT", L"<Tactus: Received: HIT", true},
        {"suppress all drops", true, L"", L"", L"-Tactus: anything", false},
        {"suppress all but the exception", true, L"", L"AUTO HIT", L"-Tactus: AUTO HIT[8]", true},
        {"beyond 100 characters not seen", false, L"POS", L"", far, true},
    };
    for (const Row& row : rows) {
        SetUp();
        output_->suppressAll = row.all;
        output_->suppressText = row.suppress;
        output_->exceptText = row.except;
        DebugLog(*output_).WriteText(row.text);
        EXPECT_EQ(output_->lines.back() == row.text, row.shown) << row.legend;
    }
}

TEST_F(TerminalTextTest, SuspendedOutputAddsNothingToTheWindow) {
    output_->suspended = true;
    EXPECT_EQ(DebugLog(*output_).WriteText(L"hidden\n"), -1);  // and no file open
    EXPECT_EQ(linesOf(*output_), std::vector<std::wstring>{L""});
}

class TerminalWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { LogTestEnvironment::get(); }
    void TearDown() override {
        delete output_.window;
        output_.window = nullptr;
    }
    CQLNdebugOutput output_;
};

TEST_F(TerminalWindowTest, ShowHideAndShowAgainUseOneWindow) {
    DebugLog log(output_);
    ASSERT_EQ(log.ShowTerminal(L"Controller Terminal", false, 7, 8), 1);
    CQLNterminalWindow* window = output_.window;
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(output_.showArgA, 7);
    EXPECT_EQ(log.ShowTerminal(L"Controller Terminal", false, 0, 0), 0);  // already shown

    log.WriteText(L"one\ntwo");
    output_.suspended = true;
    log.HideTerminal();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(output_.suspended);
    EXPECT_EQ(output_.windowState, -1);
    EXPECT_EQ(linesOf(output_), std::vector<std::wstring>{L""});
    EXPECT_EQ(log.WriteText(L"while hidden"), 12);  // window exists, nothing added
    EXPECT_EQ(linesOf(output_), std::vector<std::wstring>{L""});

    EXPECT_EQ(log.ShowTerminal(L"Other", true, 0, 0), 1);
    EXPECT_EQ(output_.window, window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Controller Terminal"));
}

TEST_F(TerminalWindowTest, TitleMarksTopmostAndSuspended) {
    output_.suspended = true;
    ASSERT_EQ(DebugLog(output_).ShowTerminal(L"Interface", true, 0, 0), 1);
    EXPECT_EQ(output_.window->windowTitle(), QStringLiteral("-Interface..."));
    EXPECT_TRUE(output_.window->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(TerminalWindowTest, WindowSizeIsSavedAndRestoredUnderItsKey) {
    WriteRegString(DebugLog::kWindowSection, L"Interface", L"40 50 540 350", false);
    DebugLog log(output_);
    ASSERT_EQ(log.ShowTerminal(L"Interface", false, 0, 0), 1);
    EXPECT_EQ(output_.window->pos(), QPoint(40, 50));
    EXPECT_EQ(output_.window->size(), QSize(500, 300));

    output_.window->move(60, 70);
    log.WriteText(L"moved\n");
    EXPECT_EQ(GetRegString(DebugLog::kWindowSection, L"Interface", L""), L"60 70 560 370");

    // Dragged partly off the top or the left: the last size on screen stays.
    for (const QPoint off : {QPoint(-30, 70), QPoint(60, -5)}) {
        output_.window->move(off);
        log.WriteText(L"off screen\n");
        EXPECT_EQ(GetRegString(DebugLog::kWindowSection, L"Interface", L""), L"60 70 560 370");
    }
}

TEST_F(TerminalWindowTest, OtherTitlesShareOneSizeEntry) {
    DebugLog log(output_);
    ASSERT_EQ(log.ShowTerminal(L"Bench CMM", false, 0, 0), 1);
    output_.window->move(10, 20);
    log.WriteText(L"x\n");
    EXPECT_EQ(GetRegString(DebugLog::kWindowSection, L"DebugWindowName", L""), L"Bench CMM");
    const QSize size = output_.window->size();
    EXPECT_EQ(GetRegString(DebugLog::kWindowSection, L"DebugWindowSize", L""),
              QStringLiteral("10 20 %1 %2")
                  .arg(10 + size.width())
                  .arg(20 + size.height())
                  .toStdWString());
}

TEST_F(TerminalWindowTest, NeverWiderThanTheLongestLine) {
    output_.maxTextWidth = 300;
    DebugLog log(output_);
    ASSERT_EQ(log.ShowTerminal(L"Terminal Window", false, 0, 0), 1);
    output_.window->resize(900, 200);
    QDeadlineTimer deadline(5000);
    while (output_.window->viewport()->width() > 300 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(output_.window->viewport()->width(), 300);
    log.WriteText(L"x\n");
    EXPECT_EQ(output_.clientWidth, 300);
    EXPECT_EQ(output_.hScrollMax, 0);

    // Narrower than the longest line: scrolling sideways reaches its end.
    output_.window->resize(300 + output_.frameExtraWidth - 80, 200);
    log.WriteText(L"y\n");
    EXPECT_EQ(output_.hScrollMax, 80 / output_.charWidth);
}

TEST_F(TerminalWindowTest, PaintsTheLastLines) {
    DebugLog log(output_);
    ASSERT_EQ(log.ShowTerminal(L"Terminal Window", false, 0, 0), 1);
    output_.window->resize(520, 260);
    // Received lines as the channels deliver them: CR LF from TCP, CR from a serial line.
    for (int i = 1; i <= 60; ++i)
        log.WriteText(L"<Tactus: Received: " +
                      ReceivedLineText("X" + std::to_string(i) + " Y2.000 Z3.000 W0.0" +
                                       (i % 2 ? "\r\n" : "\r")) +
                      L"\n");
    log.WriteText(L"-Tactus: last line, still being filled");
    EXPECT_GT(output_.vScrollMax, 0);
    EXPECT_EQ(output_.vScrollPos, output_.vScrollMax);

    const QImage image = output_.window->grab().toImage();
    const QString file =
        QString::fromLocal8Bit(qgetenv("VEX_BIN_DIR")) + "/driver_log_terminal.png";
    EXPECT_TRUE(image.save(qgetenv("VEX_BIN_DIR").isEmpty()
                               ? LogTestEnvironment::get().tempPath("terminal.png")
                               : file));
    // Dark text on the white client area, down to the last row of lines.
    const QRect client = output_.window->viewport()->geometry();
    const int lineHeight = output_.lineHeight;
    const int rows = client.height() / lineHeight;
    int inkRows = 0;
    for (int row = 0; row < rows; ++row) {
        bool ink = false;
        for (int y = client.top() + row * lineHeight; y < client.top() + (row + 1) * lineHeight;
             ++y)
            for (int x = client.left(); x < client.right() && !ink; ++x)
                ink = qGray(image.pixel(x, y)) < 100;
        inkRows += ink ? 1 : 0;
    }
    EXPECT_EQ(inkRows, rows);
}

}  // namespace
