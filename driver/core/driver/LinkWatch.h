#pragma once
// LinkWatch: what the driver knows about its link to the machine, and the timing rules of
// what it does about it: which state the link is in (and which one the operator was last
// told of, so each change is told once), when to try to reconnect after a loss (bounded
// back-off), and whether the position server may be started again (a few times a minute).
//
// A plain value owned by the driver core; it decides, the driver acts (DriverLink.cpp).
// Host UI thread only; no failure state. The numbers are listed in docs/driver.md and
// docs/reliability-driver.md.

#include <algorithm>
#include <chrono>
#include <deque>

class LinkWatch {
  public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    enum class State {
        kUp,         // lines arrive
        kNoChannel,  // start-up opened no channel
        kLost,       // the connection ended or the line failed
        kBusy,       // connected, but not a byte has come (the server serves another client)
        kSilent,     // lines came, but none for kSilence
    };

    // No line for this long is a busy or silent link.
    static constexpr Ms kSilence{3000};
    // Reconnection: the first attempt this long after the loss, each further one half as
    // long again after the previous failure, at most kLongestRetry.
    static constexpr Ms kFirstRetry{1000};
    static constexpr Ms kLongestRetry{5000};
    // The driver starts its position server again at most kMaxServerStarts times within
    // kServerStartWindow.
    static constexpr int kMaxServerStarts = 3;
    static constexpr Ms kServerStartWindow{60000};

    // A connection was made (at start-up or again): nothing heard on it yet.
    void Connected(Clock::time_point now) {
        heard_ = false;
        lossSeen_ = false;
        lastHeard_ = now;
    }
    void Heard(Clock::time_point now) {
        heard_ = true;
        lastHeard_ = now;
    }
    // Busy, silent or up, for an open link that has not been lost. `mayBeBusy`: the peer
    // is a server that greets every client it serves.
    State Quietness(Clock::time_point now, bool mayBeBusy) const {
        if (now - lastHeard_ < kSilence)
            return State::kUp;
        return !heard_ && mayBeBusy ? State::kBusy : State::kSilent;
    }

    // Records the state the operator is told of; true when it is news.
    bool Announce(State state) {
        if (state == announced_)
            return false;
        announced_ = state;
        return true;
    }
    State Announced() const { return announced_; }

    // Reconnection back-off. The first call after Connected() is the loss of that
    // connection: it schedules the first attempt (after kFirstRetry when lines had come on
    // it; a connection that ended before anything came goes on with the longer waits) and
    // returns true; later calls return false.
    bool LossSeen(Clock::time_point now) {
        if (lossSeen_)
            return false;
        lossSeen_ = true;
        if (heard_) {
            retryDelay_ = kFirstRetry;
            attempts_ = 0;
        }
        nextRetry_ = now + retryDelay_;
        return true;
    }
    bool RetryDue(Clock::time_point now) const { return now >= nextRetry_; }
    int Attempt() { return ++attempts_; }
    // After a failed attempt: the wait before the next one.
    Ms RetryFailed(Clock::time_point now) {
        retryDelay_ = std::min<Ms>(retryDelay_ * 3 / 2, kLongestRetry);
        nextRetry_ = now + retryDelay_;
        return retryDelay_;
    }

    // Server starts after the first: whether one more is allowed now, and recording it.
    bool MayStartServer(Clock::time_point now) {
        while (!serverStarts_.empty() && now - serverStarts_.front() >= kServerStartWindow)
            serverStarts_.pop_front();
        return static_cast<int>(serverStarts_.size()) < kMaxServerStarts;
    }
    void ServerStarted(Clock::time_point now) {
        serverStarts_.push_back(now);
        retryDelay_ = kFirstRetry;
        nextRetry_ = now + retryDelay_;
    }
    // When the oldest counted start leaves the window.
    Clock::time_point NextServerStartAllowed() const {
        return serverStarts_.empty() ? Clock::time_point{}
                                     : serverStarts_.front() + kServerStartWindow;
    }

  private:
    State announced_ = State::kUp;
    bool heard_ = false;
    bool lossSeen_ = false;
    Clock::time_point lastHeard_{};
    Ms retryDelay_ = kFirstRetry;
    Clock::time_point nextRetry_{};
    int attempts_ = 0;
    std::deque<Clock::time_point> serverStarts_;
};
