#include "sim_board.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double ambient_temperature = 25.0;
// Laser slope above threshold, mW per mA, for the optical power reading.
constexpr double laser_threshold_ma = 5.0;
constexpr double laser_slope_mw_per_ma = 0.8;
// Power DCDC heating, degrees C per ampere.
constexpr double dcdc_heating_per_a = 2.0;

int32_t to_reg(double physical, double factor)
{
    return int32_t(std::llround(physical * factor));
}

// Moves value toward target as a first-order lag, settling within about
// settle_ms; snaps when close so readings end exactly on the set-point.
double approach(double value, double target, double dt_ms, int settle_ms)
{
    if (settle_ms <= 0)
        return target;
    const double tau = settle_ms / 5.0;
    value = target + (value - target) * std::exp(-dt_ms / tau);
    if (std::fabs(value - target) <= 0.002 * std::max(1.0, std::fabs(target)))
        value = target;
    return value;
}

} // namespace

sim_board::sim_board(int type_code, int can_id)
    : type(type_code), id(can_id & 0xFF)
{
    if (is_cw_family()) {
        const bool precision = type == type_precision_cw;
        regs = {{0x10, 0}, {0x11, 0}, {0x12, precision ? 250000 : 250},
                {0x15, 3950}, {0x16, 10000}, {0x17, 50}, {0x21, 0},
                {0x25, precision ? 15000 : 1500}, {0x26, 0}, {0x33, 15},
                {0x36, precision ? 15000 : 150}, {0x37, precision ? 35000 : 350}};
    } else if (is_pulsed()) {
        regs = {{0x12, 250}, {0x15, 3950}, {0x16, 10000}, {0x17, 50}, {0x18, 0},
                {0x19, 1}, {0x20, 0}, {0x21, 0}, {0x22, 0}, {0x24, type == type_ps ? 3 : 0},
                {0x25, 1000}, {0x26, 0}, {0x33, 15}, {0x34, 0}, {0x35, 0},
                {0x36, 150}, {0x37, 350}};
        if (type != type_ps)
            regs[0x23] = 100;
    } else if (type == type_power_dcdc) {
        regs = {{0x10, 0}, {0x11, 0}};
    }
}

int sim_board::type_code_from_name(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == "cw")
        return type_cw;
    if (n == "precision-cw" || n == "pcw")
        return type_precision_cw;
    if (n == "ps")
        return type_ps;
    if (n == "ns")
        return type_ns;
    if (n == "soa-ns" || n == "soans")
        return type_soa_ns;
    if (n == "dcdc" || n == "power-dcdc")
        return type_power_dcdc;
    return 0;
}

QString sim_board::type_name(int type_code)
{
    switch (type_code) {
    case type_cw: return "cw";
    case type_precision_cw: return "precision-cw";
    case type_ps: return "ps";
    case type_ns: return "ns";
    case type_soa_ns: return "soa-ns";
    case type_power_dcdc: return "dcdc";
    default: return QString();
    }
}

int32_t sim_board::register_value(int set_code) const
{
    const auto it = regs.find(set_code);
    return it == regs.end() ? 0 : it->second;
}

sim_board::layout sim_board::set_layout(int code) const
{
    if (code == 0x51)
        return layout::byte;
    if (is_cw_family()) {
        const bool precision = type == type_precision_cw;
        switch (code) {
        case 0x10: case 0x21: return layout::byte;
        case 0x11: return precision ? layout::s32 : layout::u16;
        case 0x12: return precision ? layout::s32 : layout::s16;
        case 0x15: case 0x16: case 0x17: case 0x33: return layout::u16;
        case 0x25: case 0x26: return layout::s32;
        // Precision limits are sent in thousandths and need all 16 bits.
        case 0x36: case 0x37: return precision ? layout::u16 : layout::s16;
        default: return layout::none;
        }
    }
    if (is_pulsed()) {
        switch (code) {
        case 0x20: case 0x21: case 0x22: case 0x24: return layout::byte;
        case 0x12: case 0x36: case 0x37: return layout::s16;
        case 0x15: case 0x16: case 0x17: case 0x18: case 0x19: case 0x25: case 0x26:
        case 0x33: case 0x34: case 0x35: return layout::u16;
        case 0x23: return type == type_ps ? layout::none : layout::u16;
        default: return layout::none;
        }
    }
    if (type == type_power_dcdc && (code == 0x10 || code == 0x11))
        return layout::u16;
    return layout::none;
}

double sim_board::current_setpoint() const
{
    if (is_cw_family()) {
        if (!register_value(0x10))
            return 0.0;
        return register_value(0x11) / (type == type_precision_cw ? 100.0 : 10.0);
    }
    if (type == type_power_dcdc)
        return register_value(0x10) ? register_value(0x11) / 100.0 : 0.0;
    return 0.0;
}

double sim_board::temperature_setpoint() const
{
    if (type == type_power_dcdc)
        return ambient_temperature + dcdc_heating_per_a * current;
    if (!register_value(0x21))
        return ambient_temperature;
    return register_value(0x12) / (type == type_precision_cw ? 10000.0 : 10.0);
}

double sim_board::wobble(double amplitude, double period_s, int salt) const
{
    if (settle_ms <= 0 || last_ms < 0)
        return 0.0;
    const double t = last_ms / 1000.0;
    const double phase = (id * 7 + salt * 13) % 31;
    return amplitude * (0.7 * std::sin(2 * M_PI * t / period_s + phase)
                        + 0.3 * std::sin(2 * M_PI * t / (period_s * 0.37) + 2 * phase));
}

void sim_board::settle()
{
    current = current_setpoint();
    temperature = temperature_setpoint();
    if (is_pulsed() && (register_value(0x22) || register_value(0x20)))
        voltage = register_value(0x18) / 10.0;
}

void sim_board::advance(int64_t now_ms)
{
    const double dt = last_ms < 0 ? 0.0 : double(now_ms - last_ms);
    last_ms = now_ms;
    current = approach(current, current_setpoint(), dt, settle_ms);
    temperature = approach(temperature, temperature_setpoint(), dt, 2 * settle_ms);
    if (is_pulsed()) {
        const bool on = register_value(0x22) || register_value(0x20);
        voltage = approach(voltage, on ? register_value(0x18) / 10.0 : 0.0, dt, settle_ms);
    }
}

bool sim_board::reply_value(int get_code, int32_t& value) const
{
    const int set_code = get_code & 0x7F;
    // What a running board shows: its current, a regulated temperature and an
    // output voltage wobble; a board that is off reads still.
    const double live_current = current + (current > 0 ? wobble(0.002 * current, 47, 1) : 0.0);
    const bool regulated = type == type_power_dcdc ? current > 0 : register_value(0x21) != 0;
    const double live_temperature = temperature + (regulated ? wobble(0.08, 90, 2) : 0.0);
    switch (get_code) {
    case 0xD0: value = type; return true;
    case 0xD1: value = id; return true;
    default: break;
    }
    if (is_cw_family()) {
        const bool precision = type == type_precision_cw;
        switch (get_code) {
        case 0x91: value = to_reg(live_current, precision ? 10000.0 : 10.0); return true;
        case 0x92: value = to_reg(live_temperature, precision ? 10000.0 : 10.0); return true;
        case 0x94:
            value = to_reg(std::max(0.0, live_current - laser_threshold_ma) * laser_slope_mw_per_ma, 10.0);
            return true;
        case 0x90: case 0x95: case 0x96: case 0x97: case 0xA1: case 0xA5: case 0xA6:
        case 0xB3: case 0xB6: case 0xB7:
            value = register_value(set_code);
            return true;
        default: return false;
        }
    }
    if (is_pulsed()) {
        switch (get_code) {
        case 0x92: value = to_reg(live_temperature, 10.0); return true;
        case 0x98: value = to_reg(voltage + (voltage > 0 ? wobble(0.003 * voltage, 53, 3) : 0.0), 10.0); return true;
        case 0xA3:
            if (type == type_ps)
                return false;
            value = register_value(set_code);
            return true;
        case 0x95: case 0x96: case 0x97: case 0x99: case 0xA0: case 0xA1: case 0xA2:
        case 0xA4: case 0xA5: case 0xA6: case 0xB3: case 0xB4: case 0xB5: case 0xB6: case 0xB7:
            value = register_value(set_code);
            return true;
        default: return false;
        }
    }
    if (type == type_power_dcdc) {
        switch (get_code) {
        case 0x90: value = register_value(0x10); return true;
        case 0x91: value = to_reg(live_current, 100.0); return true;
        case 0x92: value = to_reg(live_temperature, 10.0); return true;
        case 0x94: value = to_reg(input_voltage + wobble(0.15, 70, 4), 10.0); return true;
        case 0xA6:
            value = to_reg(output_voltage + (register_value(0x10) ? wobble(0.002 * output_voltage, 61, 5) : 0.0), 10.0);
            return true;
        case 0xB0: value = fault_flags; return true;
        default: return false;
        }
    }
    return false;
}

bool sim_board::handle(const uint8_t request[8], int64_t now_ms, uint8_t reply[8])
{
    advance(now_ms);
    const int code = request[0];
    if (code & 0x80) {
        int32_t value = 0;
        if (!reply_value(code, value))
            return false;
        const auto u = uint32_t(value);
        const uint8_t out[8] = {uint8_t(code), uint8_t(id), 0, 0,
                                uint8_t(u >> 24), uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
        std::copy(out, out + 8, reply);
        return true;
    }
    if (code == 0x29 && type == type_power_dcdc) {
        fault_flags = 0;
        return false;
    }
    const uint32_t raw32 = uint32_t(request[4]) << 24 | uint32_t(request[5]) << 16
                           | uint32_t(request[6]) << 8 | request[7];
    int32_t value = 0;
    switch (set_layout(code)) {
    case layout::none: return false;
    case layout::byte: value = request[7]; break;
    case layout::u16: value = int32_t(raw32 & 0xFFFF); break;
    case layout::s16: value = int16_t(raw32 & 0xFFFF); break;
    case layout::s32: value = int32_t(raw32); break;
    }
    if (code == 0x51)
        id = value;
    else
        regs[code] = value;
    return false;
}
