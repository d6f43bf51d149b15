#pragma once

#include <QString>
#include <cstdint>

// Driver type codes as the boards report them in reply to get_device_type.
namespace driver_type {
constexpr int32_t ns = 6;
constexpr int32_t ps = 7;
constexpr int32_t cw = 8;
constexpr int32_t precision_cw = 10;
constexpr int32_t power_dcdc = 11;
constexpr int32_t soa_ns = 13;
constexpr int32_t none = 0;   // before the first report
constexpr int32_t lost = -1;  // the heartbeat found the board silent

// CW and Precision CW: the code with bit 1 cleared is 8.
inline bool is_cw_family(int32_t t) { return (t & ~2) == cw; }
inline bool is_ns_family(int32_t t) { return t == ns || t == soa_ns; }
inline bool is_known(int32_t t)
{
    return is_cw_family(t) || t == ps || is_ns_family(t) || t == power_dcdc;
}

// "CW Type", "Precision CW Type", ...; empty for an unknown code.
QString name(int32_t t);
} // namespace driver_type
