#pragma once
// The driver's operations on the host's debug-output object (host/CQLNdebugOutput.h): write
// text to the terminal window and the log file, open and close the log file, show and hide
// the terminal window, report system errors.
//
// A DebugLog holds only a reference to the object, which the host owns and which must
// outlive it; every state lives in the object, so any number of DebugLog values may work on
// one object. Each operation takes the object's lock for at most 5000 ms and does nothing
// more (returning the value its comment names) when there is no lock or it cannot be
// obtained. Opening, closing, showing and hiding also pause 100 ms before and after taking
// and before and after releasing the lock, so they last at least 400 ms. Window work must
// run on the GUI thread; text written from another thread reaches the file at once and the
// window on the next turn of the GUI event loop.
//
// Formats follow the C library's wide printf: %ls for wide strings, %s for 8-bit strings.
// Failures are reported only through the results below; nothing throws.
//
// Window size and log file name are kept through Setvault: the size under the section
// "CTerminal History" (key: the title for "Terminal Window", "Interface" and "Controller
// Terminal", otherwise "DebugWindowName" holds the title and "DebugWindowSize" the size),
// the completed log file name under "DebugFile" of the section OpenLogFile is given.
// The file (its place, size limit and the kept name.1) and the window are described for
// operators in docs/debug-log.md.

#include <chrono>
#include <cstdarg>
#include <string>
#include <string_view>

#include "host/CQLNdebugOutput.h"

class DebugLog {
  public:
    static constexpr std::chrono::milliseconds kLockTimeout{5000};
    static constexpr std::chrono::milliseconds kSettlePause{100};
    // Longest text Print and PrintText produce, terminator included.
    static constexpr std::size_t kPrintBufferChars = 5000;
    static constexpr const wchar_t* kWindowSection = L"CTerminal History";
    static constexpr const wchar_t* kDefaultLogFile = L"debug.txt";
    // First lines after the date line: where a name without a folder went, and in a file
    // that continues one which reached its size limit, where the earlier lines are.
    static constexpr const wchar_t* kLogFilePlaced = L"-Tactus: Debug log file %ls\n";
    static constexpr const wchar_t* kLogFileContinued =
        L"-Tactus: Debug log continued; it reached its size limit, the lines before are in "
        L"%ls.1\n";

    explicit DebugLog(CQLNdebugOutput& output) : out_(output) {}

    // True when text would go somewhere: a log file is open or a window exists and output
    // is not suspended. Cheap; read without the lock, for skipping work that only formats.
    bool IsLogging() const;

    // Writes text to the window (unless suspended) and to the log file. Returns the number
    // of characters, -1 when there is neither a log file nor a usable window, 0 when the lock
    // was not obtained.
    int WriteText(std::wstring_view text);

    // Formats (at most kPrintBufferChars - 1 characters) and writes as WriteText; returns the
    // number of characters formatted, or -1 / 0 as WriteText.
    int Print(const wchar_t* format, ...);
    int PrintV(const wchar_t* format, va_list args);
    // As Print, but the formatted text is then written unchanged (a '%' it contains stays).
    int PrintText(const wchar_t* format, ...);

    // Opens the log file `name` (null or empty: "debug.txt"; without a dot ".txt" is
    // appended and the completed name stored under "DebugFile" in `section`) and writes the
    // date line. A name without a path separator goes to the working folder, or when the file
    // cannot be created there to the user's state folder (LogPlatform.h), and a line saying
    // where follows the date line. An older file of that name is kept as name.1, so the last
    // session's log survives a new start. When a file is open already only an empty line is
    // written. Returns 0 when the file cannot be created, with "path: reason" in `failure`
    // when given, else 1 (also when the lock was not obtained).
    int OpenLogFile(const wchar_t* name, int value, const wchar_t* section,
                    std::wstring* failure = nullptr);
    void CloseLogFile();
    // Limits the log file (the open one and later ones) to about `bytes`: once a write takes
    // it there, the file is renamed name.1 (replacing an older one) and a new one continues
    // with a line saying so. 0 or less: no limit.
    void SetLogFileCap(long long bytes);

    // Shows the terminal window, creating it on the first call with `title` (prefixed "-"
    // when topmost, followed by "..." while suspended) and its saved size. Returns 1 when
    // shown (also when the lock was not obtained), 0 when it was shown already or cannot be
    // created (no GUI).
    int ShowTerminal(const wchar_t* title, bool topmost, int a, int b);
    // Hides the window, clears its lines and resumes suspended output.
    void HideTerminal();

    // Prints "System error code: 0x%x, text: %s\n" with the system's text for an errno
    // value, or "<text not available>".
    void ReportSystemError(unsigned code);

    CQLNdebugOutput& output() { return out_; }

  private:
    int AddToWindow(std::wstring_view text);
    void EndLine();
    void UpdateLayout(int kind, int clientWidth, int clientHeight);
    void RefreshWindow();
    void SaveWindowSize();
    void WriteToFile(std::wstring_view text);
    void AppendToFile(std::wstring_view text);
    void RotateLogFile();
    bool OnGuiThread() const;
    static void WindowResized(CQLNdebugOutput* output, int kind, int width, int height);

    CQLNdebugOutput& out_;
};
