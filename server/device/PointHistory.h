#pragma once
// PointHistory: the bounded list of recent positions a device keeps for approach vectors.
//
// Newest first: Push() inserts at index 0 and drops the oldest entry once the size
// exceeds the capacity, so a capacity of 0 or less keeps the list empty. At() throws
// std::out_of_range for an index outside 0 to Size() - 1; callers that compute a vector
// from an empty history rely on that. Not thread-safe; owned by its device.

#include <deque>

#include "server/device/VexPosition.h"

class PointHistory {
  public:
    static constexpr int kDefaultCapacity = 20;
    // Largest POINT_HISTORY the settings reader accepts (minutes of polls at 10 ms).
    static constexpr int kMaxCapacity = 10000;

    void Push(const VexPosition& p);
    const VexPosition& At(int index) const;
    int Size() const { return static_cast<int>(entries_.size()); }
    int Capacity() const { return capacity_; }
    // Stores the capacity and empties the list.
    void SetCapacity(int capacity);
    // Empties the list; the capacity stays.
    void Clear() { entries_.clear(); }

  private:
    std::deque<VexPosition> entries_;
    int capacity_ = kDefaultCapacity;
};
