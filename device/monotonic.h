#pragma once

#include <QtGlobal>

#include <chrono>

// The monotonic clock (CLOCK_MONOTONIC on Linux) in nanoseconds. Arrival stamps of received bytes use it, so
// they compare with any other reading of this clock, from any thread, and never jump with the wall clock.
inline qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
