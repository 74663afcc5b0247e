#pragma once
// Turns host events into the lines qlnrun --headless prints, one event per line:
//
//   init-complete
//   readout X Y Z W
//   hit X Y Z I J K W
//   result X Y Z | result X Y Z I J K | result none
//   mode CODE ON
//   status ID TEXT
//   message ID TEXT -> ANSWER
//
// Numbers have six decimals ("%.6f"); texts are UTF-8 with backslash, line feed, carriage
// return and tab escaped as \\, \n, \r and \t so that every event stays on one line.
// docs/qlnrun.md is the reference for scripts. Other host events give no line.
//
// A readout line is produced only when its text differs from the previous readout line.
// One formatter per output stream; not thread-safe (the host's UI thread uses it).

#include <chrono>
#include <optional>
#include <string>

#include "host/HostRecorder.h"

class EventFormatter {
  public:
    std::optional<std::string> lineFor(const HostEvent& event);

  private:
    std::string lastReadout_;
};

// The ending qlnrun --timestamps gives an event line: " @T", T the seconds of the monotonic
// clock (CLOCK_MONOTONIC, the clock of std::chrono::steady_clock) with six decimals.
std::string TimestampSuffix(std::chrono::steady_clock::time_point when);

// Escapes a host text for an event line.
std::string EscapeEventText(const std::wstring& text);
