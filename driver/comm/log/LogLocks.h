#pragma once
// The two ways DebugLog operations take the debug-output object's lock: plainly, and with
// the settling pauses of the open/close/show/hide operations. Both give up after
// DebugLog::kLockTimeout and report it through owned().

#include <thread>

#include "driver/comm/log/DebugLog.h"

class ObjectLock {
  public:
    explicit ObjectLock(std::recursive_timed_mutex* lock)
        : lock_(lock), owned_(lock && lock->try_lock_for(DebugLog::kLockTimeout)) {}
    ~ObjectLock() {
        if (owned_)
            lock_->unlock();
    }
    ObjectLock(const ObjectLock&) = delete;
    ObjectLock& operator=(const ObjectLock&) = delete;

    bool owned() const { return owned_; }

  private:
    std::recursive_timed_mutex* lock_;
    bool owned_;
};

class SettledObjectLock {
  public:
    explicit SettledObjectLock(std::recursive_timed_mutex* lock) : lock_(lock) {
        std::this_thread::sleep_for(DebugLog::kSettlePause);
        owned_ = lock_ && lock_->try_lock_for(DebugLog::kLockTimeout);
        if (owned_)
            std::this_thread::sleep_for(DebugLog::kSettlePause);
    }
    ~SettledObjectLock() {
        if (!owned_)
            return;
        std::this_thread::sleep_for(DebugLog::kSettlePause);
        lock_->unlock();
        std::this_thread::sleep_for(DebugLog::kSettlePause);
    }
    SettledObjectLock(const SettledObjectLock&) = delete;
    SettledObjectLock& operator=(const SettledObjectLock&) = delete;

    bool owned() const { return owned_; }

  private:
    std::recursive_timed_mutex* lock_;
    bool owned_ = false;
};
