#include "wire_decimals.h"

#include "driver_type.h"

#include <cmath>

namespace wire_decimals {
namespace {

// The replies' scale factors, as the decoder divides them (0: no such reply).
// Set-points adopted from a reply carry its scale; those sent carry the same
// or a coarser one (Precision CW current is set in 0.01 mA, read in 0.0001 mA).
struct scales
{
    int32_t type;
    double factor[field_count]; // current, temperature, power, voltage, supply, frequency, pulse width
};

const scales table[] = {
    {driver_type::cw, {10, 10, 10, 0, 0, 0, 0}},
    {driver_type::precision_cw, {10000, 10000, 10, 0, 0, 0, 0}},
    {driver_type::ps, {0, 10, 0, 10, 0, 1, 0}},
    {driver_type::ns, {0, 10, 0, 10, 0, 1, 10}},
    {driver_type::soa_ns, {0, 10, 0, 10, 0, 1, 10}},
    {driver_type::power_dcdc, {100, 10, 0, 0, 10, 0, 0}},
};

} // namespace

int of(int32_t type, field f)
{
    for (const scales& s : table) {
        if (s.type == type && f < field_count && s.factor[f] > 0)
            return int(std::lround(std::log10(s.factor[f])));
    }
    return -1;
}

} // namespace wire_decimals
