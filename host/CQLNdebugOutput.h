#pragma once
// The host's debug-output object: the state behind the terminal window and the debug log
// file that drivers write to (their operations live in the driver's log library).
//
// The host creates the process-wide instance (qlnDebugOutput in QlnServices.h) with the
// parameters below; fields marked "host" are the host's choice, the rest belong to the
// operations. Every operation takes `lock` (recursive: the owning thread may nest) with a
// time-out; without a lock the operations do nothing. The window and the fields the window
// paints from are touched on the GUI thread only. The object does not own `window`'s
// lifetime beyond hiding it: the window lives until the process ends (or a test deletes it).

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

class CQLNterminalWindow;

class CQLNdebugOutput {
  public:
    // Bits of `flags`.
    static constexpr unsigned kIgnoreCarriageReturn = 0x1;

    CQLNdebugOutput();
    CQLNdebugOutput(const CQLNdebugOutput&) = delete;
    CQLNdebugOutput& operator=(const CQLNdebugOutput&) = delete;
    ~CQLNdebugOutput();

    // Log file.
    std::FILE* logFile = nullptr;   // UTF-8 text, LF line ends
    std::wstring logFileName;       // full path of the open or last file
    long long logFileCap = 0;       // size after which the file is rotated; 0: no limit
    long long logFileBytes = 0;     // written to the open file so far
    bool reopenAfterWrite = false;  // host: close and reopen for appending after every write
    int logValue = 0;               // kept for the host by OpenLogFile
    std::wstring logSection;        // kept for the host by OpenLogFile

    // Terminal window.
    CQLNterminalWindow* window = nullptr;
    int windowState = 0;  // 0 never created, 1 shown, -1 hidden
    std::wstring title;
    bool topmost = false;
    bool suspended = false;          // host: while set nothing is added to the window
    std::deque<std::wstring> lines;  // the last one is the line being filled
    int maxLines = 500;              // host
    int maxLineLength = 200;         // host: characters
    int charWidth = 8;               // host: pixels
    int lineHeight = 16;             // host: pixels
    int maxTextWidth = 1600;         // host: widest client area in pixels
    int clientWidth = 0;
    int clientHeight = 0;
    int frameExtraWidth = 0;
    int vScrollPos = 0;
    int vScrollMax = 0;
    int hScrollPos = 0;
    int hScrollMax = 0;
    int showArgA = 0;  // kept for the host by ShowTerminal
    int showArgB = 0;

    unsigned flags = 0;  // host
    // Suppression filter for the window (host); empty texts drop nothing.
    bool suppressAll = false;
    std::wstring suppressText;
    std::wstring exceptText;

    std::recursive_timed_mutex* lock;  // host; null: operations do nothing

  private:
    std::recursive_timed_mutex ownLock_;
};
