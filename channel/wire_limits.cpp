#include "wire_limits.h"

#include <algorithm>
#include <cmath>
#include <limits>

value_range wire_range(double scale, double lo_int, double hi_int)
{
    float hi = static_cast<float>(hi_int / scale);
    while (static_cast<double>(hi) * scale > hi_int)
        hi = std::nextafter(hi, -std::numeric_limits<float>::infinity());
    float lo = static_cast<float>(lo_int / scale);
    while (static_cast<double>(lo) * scale < lo_int)
        lo = std::nextafter(lo, std::numeric_limits<float>::infinity());
    return {lo, hi};
}

namespace wire {
value_range u16(double scale) { return wire_range(scale, 0.0, 65535.0); }
value_range s16(double scale) { return wire_range(scale, -32768.0, 32767.0); }
value_range s32(double scale) { return wire_range(scale, -2147483648.0, 2147483647.0); }
} // namespace wire

float clamp_to(float v, value_range r)
{
    if (std::isnan(v))
        return static_cast<float>(r.lo);
    return static_cast<float>(std::clamp(static_cast<double>(v), r.lo, r.hi));
}

namespace {

// The grid values (k / 10^decimals) nearest inside the carried range, judged
// on the float that a set-point becomes on its way to the encoder.
double grid_at_most(double hi, double grid)
{
    double k = std::floor(hi * grid + 0.5);
    while (static_cast<double>(static_cast<float>(k / grid)) > hi)
        k -= 1.0;
    return k / grid;
}

double grid_at_least(double lo, double grid)
{
    double k = std::ceil(lo * grid - 0.5);
    while (static_cast<double>(static_cast<float>(k / grid)) < lo)
        k += 1.0;
    return k / grid;
}

} // namespace

value_range narrow_range(double lo, double hi, value_range carry, int decimals)
{
    const double grid = std::pow(10.0, decimals);
    const double carry_lo = grid_at_least(carry.lo, grid);
    const double carry_hi = grid_at_most(carry.hi, grid);
    if (!std::isfinite(lo))
        lo = carry_lo;
    if (!std::isfinite(hi))
        hi = carry_hi;
    lo = std::clamp(lo, carry_lo, carry_hi);
    hi = std::clamp(hi, carry_lo, carry_hi);
    return {lo, std::max(lo, hi)};
}
