#pragma once

// The clock of run timing and lock time-outs.

namespace kestra::platform {

// Seconds since midnight, as the run timing and the lock time-out measure them.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual double SecondsSinceMidnight() = 0;
};

class SystemClock : public Clock {
  public:
    double SecondsSinceMidnight() override;
};

// A clock that tests move by hand; it can also step on each reading.
class ManualClock : public Clock {
  public:
    explicit ManualClock(double start = 0, double stepPerRead = 0)
        : now_(start), step_(stepPerRead) {}
    double SecondsSinceMidnight() override;
    void Set(double seconds) { now_ = seconds; }
    void Advance(double seconds) { now_ += seconds; }

  private:
    double now_;
    double step_;
};

}  // namespace kestra::platform
