#pragma once
// PollTimer: the driver's poll timer, a Qt timer on the thread that starts it (the host's UI
// thread, whose event loop runs it), and the beep of the automatic-hit detection.
//
// The driver core owns one PollTimer. Start() needs a Qt application object and a thread
// with an event loop; without them it starts nothing and returns false. The callback runs
// on the starting thread and must not throw. Stop() or destruction ends the timer at once;
// both must run on the starting thread.

#include <functional>
#include <memory>

class QTimer;

class PollTimer {
  public:
    PollTimer();
    ~PollTimer();
    PollTimer(const PollTimer&) = delete;
    PollTimer& operator=(const PollTimer&) = delete;

    // Replaces a running timer. Returns false when no Qt application object exists.
    bool Start(int intervalMs, std::function<void()> callback);
    void Stop();
    bool IsRunning() const;

  private:
    std::unique_ptr<QTimer> timer_;
};

// Sounds the host's beep (the platform has no tone of a chosen pitch and length).
void DriverBeep(int frequencyHz, int durationMs);
