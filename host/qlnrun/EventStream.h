#pragma once
// EventStream: qlnrun's headless event output, one line per event, written at once.
//
// Open() moves the process's standard output to a private descriptor and points descriptor 1
// at standard error. Whatever else writes to "stdout" (the driver, a library, a child
// process such as the position server, which inherits descriptor 1) then lands on stderr,
// and the event stream carries events only. The private descriptor is close-on-exec, so a
// child never keeps the stream open after qlnrun ends. GUI thread only.

#include <string>

class EventStream {
  public:
    EventStream() = default;
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;
    ~EventStream();

    // False when standard output cannot be moved; events then go to descriptor 1 directly.
    bool Open();
    // Writes line and a line feed; false when the reader has gone (broken pipe) or another
    // write error happened, after which nothing more is written.
    bool WriteLine(const std::string& line);
    bool broken() const { return broken_; }

  private:
    int fd_ = 1;
    bool owned_ = false;
    bool broken_ = false;
};
