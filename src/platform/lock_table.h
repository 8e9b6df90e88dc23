#pragma once

// The graded volume locks, kept in memory.

#include <vector>

namespace kestra::platform {

// In-memory bookkeeping of the graded volume locks. Level 0 stands alone; level 1
// may be taken again and escalated to 2, then 3; each hold is released on its own.
class LockTable {
  public:
    int State() const { return held_.empty() ? -1 : held_.back(); }
    bool CanLock(int level) const;
    void Push(int level) { held_.push_back(level); }
    bool Pop(int level);
    bool Empty() const { return held_.empty(); }

  private:
    std::vector<int> held_;
};

}  // namespace kestra::platform
