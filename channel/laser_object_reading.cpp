#include "laser_object.h"

#include "channel_reading.h"
#include "driver_type.h"

namespace {

void read_pulse(const pulse_model_struct& m, channel_reading& r)
{
    r.emission = m.laser_on;
    r.tec_on = m.tec_on;
    r.temperature_C = m.temperature;
    r.temperature_set = m.temp_set;
    r.voltage_V = m.voltage;
    r.voltage_set = m.voltage_set;
    r.frequency_kHz = m.frequency;
    r.frequency_set = m.frequency_set;
    r.mode_index = m.mode;
    if (m.mode >= 0 && m.mode < 6 && m.mode_names[m.mode] != QLatin1String("nullptr"))
        r.mode = m.mode_names[m.mode];
    r.burst_n = m.pulse_gated;
    r.burst_m = m.pulse_cutted;
}

} // namespace

channel_reading laser_object::reading() const
{
    channel_reading r;
    r.channel = index + 1;
    r.name = name;
    r.can_id = can_id;
    r.board_can_id = last_reply_can_id;
    r.enabled = enabled;
    r.bound = is_bound;
    r.type = worker->device_type.load();
    r.present = driver_type::is_known(r.type);
    r.fresh = fresh();
    r.age_ms = reply_age_ms();
    if (!r.present)
        return r;
    r.type_name = driver_type::name(r.type);
    if (driver_type::is_cw_family(r.type)) {
        const cw_model_struct& m = worker->cw_model;
        r.digits = r.type == driver_type::precision_cw ? 2 : 1;
        r.emission = m.laser_on;
        r.tec_on = m.tec_on;
        r.current_mA = m.current;
        r.current_set = m.current_set;
        r.temperature_C = m.temperature;
        r.temperature_set = m.temp_set;
        r.power_mW = m.power;
    } else if (r.type == driver_type::power_dcdc) {
        const dcdc_model_struct& m = worker->dcdc_model;
        r.emission = m.output_on;
        r.current_A = m.current;
        r.current_set = m.current_set;
        r.temperature_C = m.temperature;
        r.input_voltage_V = m.input_voltage;
        r.output_voltage_V = m.output_voltage;
        r.warning_flags = m.warning_flags;
        r.fault_flags = m.fault_flags;
    } else if (r.type == driver_type::ps) {
        read_pulse(worker->ps_model, r);
    } else {
        const ns_model_struct& m = worker->ns_model;
        read_pulse(m, r);
        r.pulse_width_ns = m.pulse_width;
        r.pulse_width_set = m.pulse_width_set;
    }
    return r;
}
