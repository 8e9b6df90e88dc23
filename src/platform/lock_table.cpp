#include "platform/lock_table.h"

namespace kestra::platform {

bool LockTable::CanLock(int level) const {
    const int top = State();
    switch (level) {
        case 0:
            return top == -1;
        case 1:
            return top == -1 || top == 1;
        case 2:
            return top == 1 || top == 2;
        case 3:
            return top == 2 || top == 3;
        default:
            return false;
    }
}

bool LockTable::Pop(int level) {
    if (held_.empty() || held_.back() != level) return false;
    held_.pop_back();
    return true;
}

}  // namespace kestra::platform
