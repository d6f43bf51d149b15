#pragma once

#include "pace_clock.h"

#include <functional>

// Work that falls due on the pace grid and is done at a transport's ticks,
// in the transport's own thread: the channels' polling. The tick that writes
// a grid instant's frames also makes them, so one wake-up does both.
class tick_source
{
public:
    using time_point = pace_clock::clock::time_point;

    virtual ~tick_source() = default;

    // A host serves this source from now on; wake (any thread) tells it that
    // a step now falls due earlier than it last heard. Empty: the host lets go.
    virtual void attach_host(std::function<void()> wake) = 0;
    // Host thread: does every step due at or before instant; returns when
    // the next one falls due (time_point::max() when none is scheduled).
    virtual time_point serve_due(time_point instant) = 0;
    virtual time_point next_due() const = 0;
};
