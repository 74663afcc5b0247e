#pragma once
// WakeEvent: a manual-reset event a channel's reading thread can wait on next to its
// device descriptor (an eventfd).
//
// Signal() makes the event readable until Reset(); any thread may signal. The owner
// creates it before starting the thread that waits on it and closes it after that thread
// has ended. Create() reports failure by returning the platform's error number.

class WakeEvent {
  public:
    WakeEvent() = default;
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    ~WakeEvent() { Close(); }

    // Creates the event, not signalled; 0 on success, else the error number.
    int Create();
    void Signal() const;
    void Reset() const;
    // Waits up to timeoutMs (0: just looks) for the event; true when it is signalled.
    // Does not reset it.
    bool Wait(int timeoutMs) const;
    void Close();
    bool IsValid() const { return fd_ >= 0; }
    // The descriptor to poll for readability.
    int Handle() const { return fd_; }

  private:
    int fd_ = -1;
};
