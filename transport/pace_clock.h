#pragma once

#include <chrono>

// The grid on which every channel's frames fall due: instants that are whole
// multiples of the pace on the steady clock. Channels that pace on it send
// their frames at the same moments, so the serial thread writes them together.
namespace pace_clock {

using clock = std::chrono::steady_clock;

// The first grid instant (plus offset) that is not before t.
inline clock::time_point next_slot(clock::time_point t, std::chrono::milliseconds period,
                                   std::chrono::microseconds offset = std::chrono::microseconds{0})
{
    const auto since = t.time_since_epoch() - offset;
    const auto step = std::chrono::duration_cast<clock::duration>(period);
    const auto count = (since.count() + step.count() - 1) / step.count();
    return clock::time_point(step * count) + offset;
}

} // namespace pace_clock
