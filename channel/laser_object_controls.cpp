#include "laser_object.h"

#include "driver_type.h"
#include "pulse_limits.h"
#include "setpoint_wire.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <algorithm>
#include <cmath>

namespace {

// Counts and rates travel as plain 16-bit fields.
int32_t clamp_u16(double v)
{
    if (!(v > 0.0))
        return 0;
    return static_cast<int32_t>(std::min(v, 65535.0));
}

int16_t as_u16_field(int32_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(clamp_u16(v)));
}

} // namespace

void laser_object::send_command(const std::function<void(char*, uint32_t*)>& encode)
{
    char buf[32];
    uint32_t len = 0;
    encode(buf, &len);
    tx_buf = QByteArray(buf, static_cast<int>(len));
    // Three copies, each in a write of its own. Nothing waits here: a wait
    // that ran the event loop would let a close or another command run in
    // the middle of a sequence.
    for (int copy = 0; copy < 3; ++copy)
        emit worker->thread_serial_write(tx_buf);
}

pulse_model_struct* laser_object::live_pulse_model() const
{
    return pulse_model_of(worker->device_type.load());
}

pulse_model_struct* laser_object::pulse_model_of(int32_t type) const
{
    if (type == driver_type::ps)
        return &worker->ps_model;
    if (driver_type::is_ns_family(type))
        return &worker->ns_model;
    return nullptr;
}

void laser_object::current_target_update(double arg1)
{
    if (!refreshing)
        forget_adopted(curr_spin);
    const int32_t type = worker->device_type.load();
    if (driver_type::is_cw_family(type))
        worker->cw_model.current_target = static_cast<float>(arg1);
    else if (type == driver_type::power_dcdc)
        worker->dcdc_model.current_target = static_cast<float>(arg1);
}

void laser_object::temp_target_update(double arg1)
{
    if (!refreshing) {
        forget_adopted(temp_spin);
        forget_adopted(pulse_temp_spin);
    }
    if (driver_type::is_cw_family(worker->device_type.load()))
        worker->cw_model.temp_target = static_cast<float>(arg1);
    else if (pulse_model_struct* m = live_pulse_model())
        m->temp_target = static_cast<float>(arg1);
}

void laser_object::volt_target_update(double arg1)
{
    if (!refreshing)
        forget_adopted(volt_spin);
    if (pulse_model_struct* m = live_pulse_model())
        m->voltage_target = static_cast<float>(arg1);
}

// A set-point sent ends the field's following of the board's read-back.
void laser_object::laser_current_butt_clicked()
{
    forget_adopted(curr_spin);
    const int32_t type = worker->device_type.load();
    if (type == driver_type::cw) {
        cw_model_struct& m = worker->cw_model;
        m.current_set = clamp_to(m.current_target, setpoint_wire::cw_current());
        send_command([&m](char* b, uint32_t* l) { m.set_current(m.current_set, b, l); });
    } else if (type == driver_type::precision_cw) {
        cw_model_struct& m = worker->cw_model;
        m.current_set = clamp_to(m.current_target, setpoint_wire::precision_current());
        send_command([&m](char* b, uint32_t* l) { m.set_current_precision(m.current_set, b, l); });
    } else if (type == driver_type::power_dcdc) {
        dcdc_model_struct& m = worker->dcdc_model;
        m.current_set = clamp_to(m.current_target, setpoint_wire::dcdc_current());
        send_command([&m](char* b, uint32_t* l) { m.set_current(m.current_set, b, l); });
    }
}

void laser_object::laser_temperature_butt_clicked()
{
    forget_adopted(temp_spin);
    forget_adopted(pulse_temp_spin);
    const int32_t type = worker->device_type.load();
    if (type == driver_type::cw) {
        cw_model_struct& m = worker->cw_model;
        m.temp_set = clamp_to(m.temp_target, setpoint_wire::temperature());
        send_command([&m](char* b, uint32_t* l) { m.set_temperature(m.temp_set, b, l); });
    } else if (type == driver_type::precision_cw) {
        cw_model_struct& m = worker->cw_model;
        m.temp_set = clamp_to(m.temp_target, setpoint_wire::precision_temperature());
        send_command([&m](char* b, uint32_t* l) { m.set_temperature_precision(m.temp_set, b, l); });
    } else if (type == driver_type::ps) {
        ps_model_struct& m = worker->ps_model;
        m.temp_set = clamp_to(m.temp_target, setpoint_wire::temperature());
        send_command([&m](char* b, uint32_t* l) { m.set_temperature(m.temp_set, b, l); });
    } else if (driver_type::is_ns_family(type)) {
        ns_model_struct& m = worker->ns_model;
        m.temp_set = clamp_to(m.temp_target, setpoint_wire::temperature());
        send_command([&m](char* b, uint32_t* l) { m.set_temperature(m.temp_set, b, l); });
    }
}

void laser_object::laser_voltage_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model())
        send_voltage(*m);
}

void laser_object::send_voltage(pulse_model_struct& m)
{
    forget_adopted(volt_spin);
    m.voltage_set = clamp_to(m.voltage_target, setpoint_wire::voltage());
    send_command([&m](char* b, uint32_t* l) { m.set_voltage(m.voltage_set, b, l); });
}

void laser_object::laser_frequency_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model())
        send_rate(*m);
}

void laser_object::send_rate(pulse_model_struct& m)
{
    m.frequency_set = clamp_u16(m.frequency_set);
    send_command([&m](char* b, uint32_t* l) { m.set_frequency(static_cast<float>(m.frequency_set), b, l); });
}

void laser_object::laser_pulse_width_butt_clicked()
{
    if (!driver_type::is_ns_family(worker->device_type.load()))
        return;
    ns_model_struct& m = worker->ns_model;
    m.pulse_width_set = clamp_to(m.pulse_width_set, setpoint_wire::pulse_width());
    send_command([&m](char* b, uint32_t* l) { m.set_pulse_width(m.pulse_width_set, b, l); });
}

void laser_object::laser_pulse_gated_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model()) {
        m->pulse_gated_set = clamp_u16(m->pulse_gated_set);
        send_command([m](char* b, uint32_t* l) {
            m->set_pulse_gated(as_u16_field(m->pulse_gated_set), b, l);
        });
    }
}

void laser_object::laser_pulse_cutted_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model()) {
        m->pulse_cutted_set = clamp_u16(m->pulse_cutted_set);
        send_command([m](char* b, uint32_t* l) {
            m->set_pulse_cutted(as_u16_field(m->pulse_cutted_set), b, l);
        });
    }
}

void laser_object::mode_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model()) {
        send_command([m](char* b, uint32_t* l) {
            m->set_mode(static_cast<int8_t>(m->mode_set), b, l);
        });
    }
}

void laser_object::laser_tec_on_off_butt_clicked()
{
    worker->cw_model.tec_on = false;
    if (driver_type::is_cw_family(worker->device_type.load())) {
        const cw_model_struct& m = worker->cw_model;
        send_command([&m](char* b, uint32_t* l) { m.set_tec_on(1, b, l); });
    } else if (pulse_model_struct* m = live_pulse_model()) {
        const int8_t on = m->tec_on ? 0 : 1;
        send_command([m, on](char* b, uint32_t* l) { m->set_tec_on(on, b, l); });
    }
}

void laser_object::laser_volt_on_off_butt_clicked()
{
    if (pulse_model_struct* m = live_pulse_model())
        laser_volt_on_off(!m->voltage_on);
}

void laser_object::laser_volt_on_off(bool on)
{
    if (pulse_model_struct* m = live_pulse_model()) {
        send_command([m, on](char* b, uint32_t* l) { m->set_voltage_on(on ? 1 : 0, b, l); });
    }
}

bool laser_object::shown_emission_on() const
{
    return live_pulse_model() ? ps_ns_on_off_butt->isChecked() : cw_on_off_button->isChecked();
}

// Called without a click (nothing toggled): the opposite of what is shown.
void laser_object::laser_las_on_off_butt_clicked()
{
    request_output(!shown_emission_on(), command_origin::panel);
}

// The sequence of the board's type (the last one it reported while it is
// silent), switching on or off as asked, whatever the record shows.
void laser_object::switch_emission(bool on)
{
    const int32_t type = commanded_type();
    if (driver_type::is_cw_family(type)) {
        cw_model_struct& m = worker->cw_model;
        send_command([&m, on](char* b, uint32_t* l) { m.set_laser_on(on ? 1 : 0, b, l); });
    } else if (type == driver_type::power_dcdc) {
        dcdc_model_struct& m = worker->dcdc_model;
        if (!on) {
            // Bring the current down before the output goes off.
            curr_spin->setValue(0.0);
            forget_adopted(curr_spin);
            m.current_set = clamp_to(static_cast<float>(curr_spin->value()), setpoint_wire::dcdc_current());
            m.current_target = m.current_set;
            send_command([&m](char* b, uint32_t* l) { m.set_current(m.current_set, b, l); });
        }
        send_command([&m, on](char* b, uint32_t* l) { m.set_output_on(on ? 1 : 0, b, l); });
    } else if (pulse_model_struct* m = pulse_model_of(type)) {
        send_rate(*m);
        send_command([m, on](char* b, uint32_t* l) { m->set_voltage_on(on ? 1 : 0, b, l); });
        if (on)
            send_voltage(*m);
        send_command([m, on](char* b, uint32_t* l) { m->set_pulsed_laser_on(on ? 1 : 0, b, l); });
    }
    set_output_flag(on);
    output_commanded = on;
    output_command.start();
}

void laser_object::set_output_flag(bool on)
{
    const int32_t type = commanded_type();
    if (driver_type::is_cw_family(type))
        worker->cw_model.laser_on = on;
    else if (type == driver_type::power_dcdc)
        worker->dcdc_model.output_on = on;
    else if (pulse_model_struct* m = pulse_model_of(type))
        m->laser_on = on;
}

void laser_object::freq_target_update(int arg1)
{
    if (worker->type_changed || arg1 < 0 || arg1 >= freq_combo->count())
        return;
    const int32_t type = worker->device_type.load();
    const int32_t f = freq_combo->itemText(arg1).toInt();
    if (type == driver_type::ps) {
        worker->ps_model.frequency_set = f;
        laser_frequency_butt_clicked();
    } else if (driver_type::is_ns_family(type)) {
        ns_model_struct& m = worker->ns_model;
        const double duty = f * static_cast<double>(m.pulse_width) * 1e-9 * 1000.0;
        if (duty < m.max_duty_cycle) {
            m.frequency_set = f;
        } else {
            const int entry = last_rate_entry_within(freq_combo, ns_rate_limit(m.max_duty_cycle, m.pulse_width));
            if (entry >= 0) {
                freq_combo->setCurrentIndex(entry);
                m.frequency_set = freq_combo->itemText(entry).toInt();
            }
        }
        laser_frequency_butt_clicked();
    }
}

// These three send on every change; a value the refresh loads is the
// board's own and goes back to it never.
void laser_object::pulse_width_target_update(double arg1)
{
    if (refreshing || !driver_type::is_ns_family(worker->device_type.load()))
        return;
    forget_adopted(dura_spin);
    ns_model_struct& m = worker->ns_model;
    const double limit = m.mode == 2 ? ns_free_pulse_width_limit : ns_pulse_width_limit(m.frequency);
    if (arg1 >= limit) {
        dura_spin->setValue(limit); // runs this slot again with the limit
        m.pulse_width_set = static_cast<float>(limit);
    } else {
        m.pulse_width_set = static_cast<float>(arg1);
    }
    laser_pulse_width_butt_clicked();
}

void laser_object::pulse_gated_target_update(double arg1)
{
    if (refreshing)
        return;
    forget_adopted(pulse_gated_spin);
    if (pulse_model_struct* m = live_pulse_model())
        m->pulse_gated_set = clamp_u16(std::trunc(arg1));
    laser_pulse_gated_butt_clicked();
}

void laser_object::pulse_cutted_target_update(double arg1)
{
    if (refreshing)
        return;
    forget_adopted(pulse_cutted_spin);
    if (pulse_model_struct* m = live_pulse_model())
        m->pulse_cutted_set = clamp_u16(std::trunc(arg1));
    laser_pulse_cutted_butt_clicked();
}

void laser_object::mode_update(int arg1)
{
    pulse_model_struct* m = live_pulse_model();
    if (worker->type_changed || !m || arg1 < 0 || arg1 > 4)
        return;
    const bool ps = worker->device_type.load() == driver_type::ps;
    // By mode entry: driver mode code (PS, NS) and burst.
    static const int32_t ps_codes[5] = {3, 3, 2, 2, 1};
    static const int32_t ns_codes[5] = {0, 0, 2, 2, 1};
    static const int32_t bursts[5] = {0, 1, 0, 1, 0};
    m->mode_set = ps ? ps_codes[arg1] : ns_codes[arg1];
    m->burst_enabled = bursts[arg1];

    mode_butt_clicked();
    if (m->burst_enabled) {
        pulse_cutted_target_update(pulse_cutted_spin->value());
        pulse_gated_target_update(pulse_gated_spin->value());
    } else {
        pulse_gated_target_update(1.0);
        pulse_cutted_target_update(0.0);
    }
    laser_pulse_cutted_butt_clicked();
    laser_pulse_gated_butt_clicked();
}

void laser_object::sl_single_step_change(int index)
{
    bool ok = false;
    double step = step_size_combo->itemText(index).toDouble(&ok);
    if (!ok || !std::isfinite(step))
        step = 0.0;
    curr_spin->setSingleStep(step);
    temp_spin->setSingleStep(step);
}
