#pragma once

#include <array>
#include <cstdint>

// Adoption states of the driver's stored set-points, one slot per set-point:
// 0 idle, 1 adopt the next reading, 2 adopted, waiting for the panel refresh.
using setpoint_sync_slots = std::array<int32_t, 8>;

namespace sync_slot {
constexpr int current = 0;
constexpr int voltage = 1;
constexpr int temperature = 2;
constexpr int rate = 3;
constexpr int pulse_width = 4;
constexpr int mode = 5;
constexpr int gated = 6;
constexpr int cutted = 7;
} // namespace sync_slot

namespace sync_state {
constexpr int32_t idle = 0;
constexpr int32_t waiting = 1;
constexpr int32_t adopted = 2;
} // namespace sync_state
