#include "driver_decoder.h"

#include "driver_type.h"

namespace {

// One reply as the boards lay it out: code in byte 0, value in bytes 4..7.
struct reply
{
    uint32_t code;  // byte 0
    int32_t value;  // bytes 4..7, big-endian two's complement
    bool flag;      // byte 7 != 0
    int32_t small;  // byte 7
};

reply read_reply(const serial_message_struct& sm)
{
    const auto byte = [&sm](int k) { return sm.data[k] & 0xFFu; };
    const uint32_t raw = byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7);
    // Two's complement without relying on an out-of-range conversion.
    const int32_t value = raw <= 0x7FFFFFFFu ? int32_t(raw) : -int32_t(~raw) - 1;
    return {byte(0), value, byte(7) != 0, int32_t(byte(7))};
}

// Divided in double so that, say, 253 / 10 is stored as the float nearest 25.3.
float scaled(int32_t v, double factor)
{
    return static_cast<float>(double(v) / factor);
}

// A waiting slot takes the board's value into the set-point field.
template <typename T>
bool adopt(setpoint_sync_slots& sync, int slot, T& set_field, T value)
{
    if (sync[slot] != sync_state::waiting)
        return false;
    set_field = value;
    sync[slot] = sync_state::adopted;
    return true;
}

// ---- CW and Precision CW ------------------------------------------------

// The two CW variants differ only in their scale factors.
struct cw_scales
{
    double current;
    double temperature;
    double temp_limit;
    double current_limit;                      // before any temperature-limit reply
    double current_limit_after_temp_limits;
};
constexpr cw_scales cw_reply_scales{10, 10, 10, 100, 10};
constexpr cw_scales precision_cw_reply_scales{10000, 10000, 1000, 100, 100};

void decode_cw(cw_model_struct& m, setpoint_sync_slots& sync, const reply& r,
               const cw_scales& s)
{
    const double limit_scale = m.temp_limits_reported == 1 ? s.current_limit_after_temp_limits
                                                           : s.current_limit;
    switch (r.code) {
    case 0x90: m.laser_on = r.flag; break;
    case 0x91:
        m.current = scaled(r.value, s.current);
        adopt(sync, sync_slot::current, m.current_set, m.current);
        break;
    case 0x92:
        m.temperature = scaled(r.value, s.temperature);
        adopt(sync, sync_slot::temperature, m.temp_set, m.temperature);
        break;
    case 0x94: m.power = scaled(r.value, 10); break;
    case 0x95: m.thermistor_beta = r.value; break;
    case 0x96: m.thermistor_r25 = r.value; break;
    case 0x97: m.monitor_responsivity = scaled(r.value, 100); break;
    case 0xA1: m.tec_on = r.flag; break;
    case 0xA5: m.current_max = scaled(r.value, limit_scale); break;
    case 0xA6: m.current_min = scaled(r.value, limit_scale); break;
    case 0xB3: m.max_tec_current = scaled(r.value, 10); break;
    case 0xB6:
        m.temp_min = scaled(r.value, s.temp_limit);
        m.temp_limits_reported = 1;
        break;
    case 0xB7:
        m.temp_max = scaled(r.value, s.temp_limit);
        m.temp_limits_reported = 1;
        break;
    default: break;
    }
}

// ---- PS and NS ----------------------------------------------------------

// Mode index shown for the board's mode code c; `unchanged` for codes the
// family does not use. PS reports internal trigger as 0 or 3, NS only as 0.
int32_t ps_mode_index(int32_t c, bool burst, int32_t unchanged)
{
    switch (c) {
    case 0:
    case 3: return burst ? 1 : 0;
    case 2: return burst ? 3 : 2;
    case 1: return 4;
    default: return unchanged;
    }
}

int32_t ns_mode_index(int32_t c, bool burst, int32_t unchanged)
{
    switch (c) {
    case 0: return burst ? 1 : 0;
    case 2: return burst ? 3 : 2;
    case 1: return 4;
    default: return unchanged;
    }
}

using mode_rule = int32_t (*)(int32_t c, bool burst, int32_t unchanged);

// The rows that PS and NS share; the records differ in field order only.
template <typename Model>
void decode_pulse(Model& m, setpoint_sync_slots& sync, const reply& r, mode_rule mode_index)
{
    switch (r.code) {
    case 0x92:
        m.temperature = scaled(r.value, 10);
        adopt(sync, sync_slot::temperature, m.temp_set, m.temperature);
        break;
    case 0x95: m.thermistor_beta = r.value; break;
    case 0x96: m.thermistor_r25 = r.value; break;
    case 0x97: m.monitor_responsivity = scaled(r.value, 100); break;
    case 0x98:
        // The board reports its set voltage even with the laser off.
        m.voltage = m.laser_on ? scaled(r.value, 10) : 0.0f;
        adopt(sync, sync_slot::voltage, m.voltage_set, scaled(r.value, 10));
        break;
    case 0x99:
        m.frequency = r.value;
        adopt(sync, sync_slot::rate, m.frequency_set, m.frequency);
        break;
    case 0xA0: m.voltage_on = r.flag; break;
    case 0xA1: m.tec_on = r.flag; break;
    case 0xA2: m.laser_on = r.flag; break;
    case 0xA4: {
        const bool burst = m.pulse_gated > 0 && m.pulse_cutted > 0;
        m.burst_enabled = burst ? 1 : 0;
        m.mode = mode_index(r.small, burst, m.mode);
        if (sync[sync_slot::mode] == sync_state::waiting)
            sync[sync_slot::mode] = sync_state::adopted;
        break;
    }
    case 0xA5: m.voltage_max = scaled(r.value, 10); break;
    case 0xA6: m.voltage_min = scaled(r.value, 10); break;
    case 0xB3: m.max_tec_current = scaled(r.value, 10); break;
    case 0xB4:
        m.pulse_gated = r.value;
        // The gated setting decides the burst modes, so the mode editor follows it.
        if (adopt(sync, sync_slot::gated, m.pulse_gated_set, m.pulse_gated))
            sync[sync_slot::mode] = sync_state::adopted;
        break;
    case 0xB5:
        m.pulse_cutted = r.value;
        adopt(sync, sync_slot::cutted, m.pulse_cutted_set, m.pulse_cutted);
        break;
    case 0xB6: m.temp_min = scaled(r.value, 10); break;
    case 0xB7: m.temp_max = scaled(r.value, 10); break;
    default: break;
    }
}

void decode_ps(ps_model_struct& m, setpoint_sync_slots& sync, const reply& r)
{
    decode_pulse(m, sync, r, ps_mode_index);
}

void decode_ns(ns_model_struct& m, setpoint_sync_slots& sync, const reply& r)
{
    if (r.code == 0xA3) {
        m.pulse_width = scaled(r.value, 10);
        adopt(sync, sync_slot::pulse_width, m.pulse_width_set, m.pulse_width);
        return;
    }
    decode_pulse(m, sync, r, ns_mode_index);
}

// ---- Power DCDC ---------------------------------------------------------

void decode_dcdc(dcdc_model_struct& m, setpoint_sync_slots& sync, const reply& r)
{
    switch (r.code) {
    case 0x90: m.output_on = r.flag; break;
    case 0x91:
        m.current = scaled(r.value, 100);
        adopt(sync, sync_slot::current, m.current_set, m.current);
        break;
    case 0x92: m.temperature = scaled(r.value, 10); break;
    case 0x94: m.input_voltage = scaled(r.value, 10); break;
    case 0xA6: m.output_voltage = scaled(r.value, 10); break;
    case 0xB0: m.fault_flags = uint16_t(r.small); break;
    default: break;
    }
}

// ---- Driver identification ----------------------------------------------

constexpr uint8_t slot_bit(int slot) { return uint8_t(1u << slot); }

// Set-points whose editors take the board's stored value after a type change.
uint8_t slots_to_adopt(int32_t t)
{
    using namespace sync_slot;
    switch (t) {
    case driver_type::cw:
    case driver_type::precision_cw:
    case driver_type::power_dcdc:
        return slot_bit(current) | slot_bit(temperature);
    case driver_type::ps:
        return slot_bit(voltage) | slot_bit(temperature) | slot_bit(rate) | slot_bit(mode)
               | slot_bit(gated) | slot_bit(cutted);
    case driver_type::ns:
    case driver_type::soa_ns:
        return slot_bit(voltage) | slot_bit(temperature) | slot_bit(rate)
               | slot_bit(pulse_width) | slot_bit(mode) | slot_bit(gated) | slot_bit(cutted);
    default:
        return 0;
    }
}

void apply_type_report(driver_state& state, setpoint_sync_slots& sync, int32_t t)
{
    if (t != state.device_type) {
        state.type_changed = true;
        state.cw_model.temp_limits_reported = 0;
        const uint8_t adopting = slots_to_adopt(t);
        for (int slot = 0; slot < int(sync.size()); ++slot) {
            if (adopting & slot_bit(slot))
                sync[slot] = sync_state::waiting;
        }
    }
    state.alive = true;
    state.device_type = t;
}

} // namespace

void decode_driver_message(driver_state& state, setpoint_sync_slots& sync,
                           const serial_message_struct& sm)
{
    const reply r = read_reply(sm);
    if (r.code == 0xD0) {
        apply_type_report(state, sync, r.small);
        return;
    }
    if (r.code == 0xD1) {
        state.reported_can_id = r.small;
        return;
    }
    if ((r.code & 0x80) == 0)
        return; // a set code is never a reply

    const int32_t t = state.device_type;
    switch (t) {
    case driver_type::cw: decode_cw(state.cw_model, sync, r, cw_reply_scales); break;
    case driver_type::precision_cw:
        decode_cw(state.cw_model, sync, r, precision_cw_reply_scales);
        break;
    case driver_type::ps: decode_ps(state.ps_model, sync, r); break;
    case driver_type::ns:
    case driver_type::soa_ns: decode_ns(state.ns_model, sync, r); break;
    case driver_type::power_dcdc: decode_dcdc(state.dcdc_model, sync, r); break;
    default: break; // no record is live until a known type is reported
    }
}
