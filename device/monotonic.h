#pragma once

#include "tables/timetext.h"

// The monotonic clock (CLOCK_MONOTONIC on Linux) in nanoseconds. Arrival stamps of received bytes use it, so
// they compare with any other reading of this clock, from any thread, and never jump with the wall clock.
// Tests replace it through timetext::setMonotonicClock().
inline qint64 monotonicNs()
{
    return timetext::monotonicNs();
}
