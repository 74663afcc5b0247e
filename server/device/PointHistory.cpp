#include "server/device/PointHistory.h"

#include <stdexcept>
#include <string>

void PointHistory::Push(const VexPosition& p) {
    entries_.push_front(p);
    while (Size() > capacity_ && !entries_.empty())
        entries_.pop_back();
}

const VexPosition& PointHistory::At(int index) const {
    if (index < 0 || index >= Size())
        throw std::out_of_range("point history index " + std::to_string(index) +
                                " outside a history of " + std::to_string(Size()));
    return entries_[static_cast<size_t>(index)];
}

void PointHistory::SetCapacity(int capacity) {
    capacity_ = capacity;
    entries_.clear();
}
