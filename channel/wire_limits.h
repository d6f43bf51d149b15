#pragma once

#include <cstdint>

// Set-point values, in the operator's units, that a command field carries
// without losing high bits once the encoder has scaled them.
struct value_range
{
    double lo = 0.0;
    double hi = 0.0;
};

// The float values v whose product v × scale (taken in double, as the
// encoders do) lies within [lo_int, hi_int]; both ends are floats.
value_range wire_range(double scale, double lo_int, double hi_int);

namespace wire {
value_range u16(double scale); // 0 .. 65535 after scaling
value_range s16(double scale); // -32768 .. 32767 after scaling
value_range s32(double scale); // the full signed 32-bit field
} // namespace wire

// v held within r; a NaN becomes r.lo.
float clamp_to(float v, value_range r);

// The reported input range [lo, hi] narrowed to what the command carries and
// laid on the grid of `decimals` (a spin box rounds its limits to that grid).
// Non-finite reported ends fall back to the carried range; an empty result
// collapses onto its lower end.
value_range narrow_range(double lo, double hi, value_range carry, int decimals);
