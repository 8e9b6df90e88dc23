#pragma once

// No drawing while the write locks are held.

namespace kestra::display {

// While the write locks are held nothing may be drawn: a paint request only
// notes that it came, and the lock's release repaints. The two flags live in
// the run's flags; the pictures only look at them.
struct PaintGate {
    const bool& DropLocksFlag;
    bool& PaintDeferred;

    // True when the paint must wait (and has been noted).
    bool Defer() const {
        if (!DropLocksFlag) return false;
        PaintDeferred = true;
        return true;
    }
};

}  // namespace kestra::display
