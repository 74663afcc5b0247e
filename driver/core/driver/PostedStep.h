#pragma once
// PostedStep: runs a step on the host's UI thread soon after any thread asks for it. The driver
// core uses it to handle the lines its channel's reader has queued at once, instead of only at
// the next tick of its poll timer.
//
// Start() on the UI thread (it needs a Qt application object; that thread's event loop runs
// the step). Requester() gives a function that any thread may call at any time, also after
// Stop() or the PostedStep's destruction (it then does nothing): each call asks for one run
// of the step and returns at once. Requests made before the step starts to run are merged
// into that run, so a burst of requests costs one wake-up. The request signals an event
// descriptor that a socket notifier of the UI thread watches, so the requesting thread
// touches none of Qt's data. The step runs from the UI thread's event loop, which may be a
// nested one (a message box the driver shows), so it must cope with being entered while the
// driver is busy; it must not throw. Stop() (UI thread, also from inside the step) drops
// every pending run. Start() reports failure (no Qt application, no event descriptor) by
// returning false.

#include <functional>
#include <memory>

class QSocketNotifier;

class PostedStep {
  public:
    PostedStep();
    ~PostedStep();
    PostedStep(const PostedStep&) = delete;
    PostedStep& operator=(const PostedStep&) = delete;

    // Replaces an earlier step (whose requesters go quiet).
    bool Start(std::function<void()> step);
    void Stop();
    bool IsRunning() const { return notifier_ != nullptr; }
    // Asks for runs of the step started last; see the class comment.
    std::function<void()> Requester() const;

  private:
    struct Shared;

    std::shared_ptr<Shared> shared_;
    QSocketNotifier* notifier_ = nullptr;  // owned; deleted through the event loop
};
