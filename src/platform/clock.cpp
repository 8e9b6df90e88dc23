#include "platform/clock.h"

#include <ctime>

namespace kestra::platform {

double SystemClock::SecondsSinceMidnight() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
}

double ManualClock::SecondsSinceMidnight() {
    const double now = now_;
    now_ += step_;
    if (now_ >= 86400.0) now_ -= 86400.0;
    return now;
}

}  // namespace kestra::platform
