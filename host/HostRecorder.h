#pragma once
// Record of everything a driver asked the host stand-in to do, so tests can assert the effects
// and the host shell can print each event as it happens.
//
// One process-wide recorder (QlnRecorder()). Services append an event and then call the
// listener, on the calling thread (the host's UI thread for drivers), outside the recorder's
// lock, so a listener may read the recorder. Pure queries (active tip, tip name and offset,
// machine records, resource strings) are answered without an event.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum class HostEventKind {
    SectionName,          // text: the name asked for; detail: the section returned
    UserSetting,          // text section, detail key, more: user section and key;
                          // ints: kind, userWritable, userScoped
    VersionText,          // detail: the text returned
    MachineInitComplete,  //
    StatusMessage,        // id (0 for a text), text, ints: the two extra arguments
    MessageBox,           // id (0 for a text), text, ints: style, help id; result: answer
    Readout,              // values: x y z w; ints: the extra integer arguments
    ManualHit,            // values: x y z i j k a b c w
    PreparePoint,         // values: the point before and after; ints: mask, flags
    AutoHitTest,          // values: current, previous, ijk out; result: answer
    OptionQuery,          // id: option code (-1 for the fallback permission); result
    KillTimer,            // id: timer identifier
    ResourceModule,       // the current resource module was set
    SetMode,              // id: mode code; result: on
    ReportResult,  // values: xyz, ijk (each if given), the two markers; ints: has xyz, has ijk
};

struct HostEvent {
    explicit HostEvent(HostEventKind eventKind) : kind(eventKind) {}

    HostEventKind kind;
    int id = 0;
    std::wstring text;
    std::wstring detail;
    std::vector<std::wstring> more;
    std::vector<double> values;
    std::vector<int> ints;
    int result = 0;

    // One line describing the event, e.g.
    //   msgbox id=4739 style=4 answer=6 text="Reset the axis counters?"
    // (format described in docs/host-stand-in.md; no line end).
    std::string line() const;
};

// Name used in event lines ("status", "msgbox", "readout", ...).
const char* HostEventName(HostEventKind kind);

class HostRecorder {
  public:
    using Listener = std::function<void(const HostEvent&)>;

    void record(HostEvent event);

    std::vector<HostEvent> events() const;
    std::vector<HostEvent> eventsOf(HostEventKind kind) const;
    size_t count(HostEventKind kind) const;
    void clear();

    // Called after every recorded event; an empty function removes the listener.
    void setListener(Listener listener);
    // False: events go to the listener only (a long-running shell does not keep them).
    void setKeepEvents(bool keep);

  private:
    mutable std::mutex lock_;
    std::vector<HostEvent> events_;
    Listener listener_;
    bool keep_ = true;
};

HostRecorder& QlnRecorder();
