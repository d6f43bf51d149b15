#include "laser_object.h"

#include "driver_type.h"
#include "pulse_limits.h"
#include "setpoint_wire.h"
#include "view_text.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr int pulse_on_demand = 4;
constexpr int mode_name_count = 6;
constexpr int frequency_list_size = 100;
constexpr int rate_entries_with_top = 43; // the standard list, 50000 kHz last
const char* const top_rate = "50000";

} // namespace

void laser_object::setup_pulse_view(pulse_model_struct& m)
{
    // The fields' values become the new record's targets, so that switching
    // on sends the voltage the field shows.
    adopted_values.clear();
    m.voltage_target = static_cast<float>(volt_spin->value());
    m.temp_target = static_cast<float>(pulse_temp_spin->value());
    freq_combo->clear();
    for (int i = 0; i < frequency_list_size && m.frequency_list[i] != -1; ++i) {
        freq_combo->addItem(QString::number(m.frequency_list[i]));
        if (m.frequency_list[i] == m.frequency)
            freq_combo->setCurrentIndex(i);
    }
    mode_combo->clear();
    for (int i = 0; i < mode_name_count && m.mode_names[i] != QLatin1String("nullptr"); ++i)
        mode_combo->addItem(m.mode_names[i]);
}

// One waiting set-point per tick, in the order voltage, temperature, rate,
// pulse width (NS), mode, gated, cut.
void laser_object::adopt_pulse_setpoint(const pulse_model_struct& m, float voltage_set,
                                        bool has_pulse_width, float pulse_width)
{
    auto take = [this](int slot) {
        if (setpoint_sync[slot] != sync_state::adopted)
            return false;
        setpoint_sync[slot] = sync_state::idle;
        return true;
    };
    if (take(sync_slot::voltage))
        load_adopted(volt_spin, voltage_set);
    else if (take(sync_slot::temperature))
        load_adopted(pulse_temp_spin, m.temp_set);
    else if (take(sync_slot::rate))
        freq_combo->setCurrentText(QString::number(m.frequency_set));
    else if (has_pulse_width && take(sync_slot::pulse_width))
        load_adopted(dura_spin, pulse_width);
    else if (take(sync_slot::mode)) {
        if (m.mode >= 0 && m.mode < mode_name_count)
            mode_combo->setCurrentText(m.mode_names[m.mode]);
    } else if (take(sync_slot::gated))
        load_adopted(pulse_gated_spin, m.pulse_gated_set);
    else if (take(sync_slot::cutted))
        load_adopted(pulse_cutted_spin, m.pulse_cutted_set);
}

// Mode can change only while emission is off; voltage and temperature only while on.
void laser_object::show_pulse_on_off(bool on)
{
    set_checked_if_changed(ps_ns_on_off_butt, on);
    set_checked_if_changed(start_stop_button_alt, on);
    set_text_if_changed(pulse_power_state_label, on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    set_enabled_if_changed(mode_combo, !on);
    set_enabled_if_changed(volt_widget, on);
    set_enabled_if_changed(pulse_temp_widget, on);
}

void laser_object::show_pulse_temperature(const pulse_model_struct& m)
{
    set_text_if_changed(pulse_temp_label, with_unit(m.temperature, 1, view_text::degrees));
    set_text_if_changed(temp_pulse_min_label, with_unit(m.temp_min, 1, view_text::degrees));
    set_text_if_changed(temp_pulse_max_label, with_unit(m.temp_max, 1, view_text::degrees));
    const value_range r = narrow_range(m.temp_min, m.temp_max, setpoint_wire::temperature(),
                                       pulse_temp_spin->decimals());
    set_range_if_changed(pulse_temp_spin, r.lo, r.hi);
    set_percent(pulse_temp_indicator, m.temperature, m.temp_min, m.temp_max);
}

void laser_object::show_pulse_mode_state(const pulse_model_struct& m)
{
    set_text_if_changed(mode_label, mode_combo->itemText(m.mode));
    set_enabled_if_changed(freq_combo, m.mode != pulse_on_demand);
    if (m.burst_enabled == 0 || m.burst_enabled == 1) {
        set_enabled_if_changed(pulse_cutted_spin, m.burst_enabled == 1);
        set_enabled_if_changed(pulse_gated_spin, m.burst_enabled == 1);
    }
}

void laser_object::show_pulse_voltage(const pulse_model_struct& m)
{
    set_text_if_changed(pulse_volt_label, with_unit(m.voltage, 1, " V"));
    set_percent(volt_indicator, m.voltage, m.voltage_min, m.voltage_max);
    set_text_if_changed(volt_min_label, with_unit(m.voltage_min, 0, " V"));
    set_text_if_changed(volt_max_label, with_unit(m.voltage_max, 0, " V"));
    const value_range r = narrow_range(m.voltage_min, m.voltage_max, setpoint_wire::voltage(),
                                       volt_spin->decimals());
    set_range_if_changed(volt_spin, r.lo, r.hi);
}

QString laser_object::pulse_tab_prefix(int32_t type, const pulse_model_struct& m) const
{
    return name + QStringLiteral(" (") + driver_type::name(type) + QLatin1Char(' ')
        + fixed(m.voltage_set, 1) + QLatin1Char('/') + pulse_volt_label->text()
        + QStringLiteral("  ") + fixed(m.temp_set, 1) + QLatin1Char('/') + pulse_temp_label->text()
        + QStringLiteral("  ") + QString::number(m.frequency_set) + QLatin1Char('/')
        + freq_label->text() + QStringLiteral("  ");
}

void laser_object::view_ps()
{
    ps_model_struct& m = worker->ps_model;

    // 1.-2. Setup after a change of type, then one adopted set-point.
    if (worker->type_changed) {
        setup_pulse_view(m);
        worker->type_changed = false;
    }
    adopt_pulse_setpoint(m, m.voltage_set, false, 0.0f);

    // 3. Type texts and views; the tab shows the labels of the previous tick.
    set_text_if_changed(laser_name_label, driver_type::name(driver_type::ps) + QStringLiteral(" Driver"));
    set_visible_if_changed(cw_widget, false);
    set_visible_if_changed(ps_ns_widget, true);
    set_visible_if_changed(dura_label, false);
    set_visible_if_changed(dura_text, false);
    set_visible_if_changed(alt_but_widget, true);
    set_tab_text(pulse_tab_prefix(driver_type::ps, m) + mode_label->text()
                                              + QLatin1Char(')'));

    // 4.-6.
    show_pulse_on_off(m.laser_on);
    set_text_if_changed(pulse_volt_label, with_unit(m.voltage, 1, " V"));
    set_percent(volt_indicator, m.voltage, m.voltage_min, m.voltage_max);
    show_pulse_temperature(m);

    // 7.-12.
    set_text_if_changed(dura_label, QStringLiteral("N/A "));
    set_text_if_changed(N_label, QString::number(m.pulse_gated));
    set_text_if_changed(M_label, QString::number(m.pulse_cutted));
    show_pulse_mode_state(m);
    set_visible_if_changed(dura_widget, false);

    // 13.-14.
    set_text_if_changed(volt_min_label, with_unit(m.voltage_min, 0, " V"));
    set_text_if_changed(volt_max_label, with_unit(m.voltage_max, 0, " V"));
    const value_range volts = narrow_range(m.voltage_min, m.voltage_max, setpoint_wire::voltage(),
                                           volt_spin->decimals());
    set_range_if_changed(volt_spin, volts.lo, volts.hi);
    set_text_if_changed(freq_label, QString::number(m.frequency) + QStringLiteral(" kHz"));

    // 15. The 50000 kHz rate is offered only outside burst modes.
    if (m.burst_enabled) {
        if (freq_combo->count() > rate_entries_with_top - 1)
            freq_combo->removeItem(rate_entries_with_top - 1);
    } else if (freq_combo->count() == rate_entries_with_top - 1) {
        freq_combo->addItem(QLatin1String(top_rate));
    }

    // 16.-17.
    const int last = freq_combo->count() - 1;
    set_text_if_changed(rr_max_label, freq_combo->itemText(last));
    set_text_if_changed(rr_min_label, freq_combo->itemText(0));
    set_percent(freq_indicator, m.frequency, freq_combo->itemText(0).toInt(),
                freq_combo->itemText(last).toInt());
    set_visible_if_changed(config_button, true);
}

void laser_object::view_ns(int32_t type)
{
    ns_model_struct& m = worker->ns_model;

    // 1.-2. Setup after a change of type, then one adopted set-point.
    if (worker->type_changed) {
        setup_pulse_view(m);
        worker->type_changed = false;
    }
    adopt_pulse_setpoint(m, m.voltage_set, true, m.pulse_width);

    // 3. Type texts and views; the tab shows the labels of the previous tick.
    set_text_if_changed(laser_name_label, driver_type::name(type) + QStringLiteral(" Driver"));
    set_tab_text(pulse_tab_prefix(type, m) + dura_spin->text()
                                              + QLatin1Char('/') + dura_label->text()
                                              + QStringLiteral("  ") + mode_label->text()
                                              + QLatin1Char(')'));
    set_visible_if_changed(cw_widget, false);
    set_visible_if_changed(ps_ns_widget, true);
    set_visible_if_changed(dura_label, true);
    set_visible_if_changed(dura_text, true);
    set_visible_if_changed(alt_but_widget, true);

    // 4.-8.
    show_pulse_on_off(m.laser_on);
    show_pulse_voltage(m);
    show_pulse_temperature(m);
    set_text_if_changed(dura_label, with_unit(m.pulse_width, 1, " ns"));
    set_text_if_changed(N_label, QString::number(m.pulse_gated));
    set_text_if_changed(M_label, QString::number(m.pulse_cutted));

    // 9.-10. Pulse-width range for a 2 % duty cycle at the present rate.
    const double width_limit = m.mode == pulse_on_demand ? ns_free_pulse_width_limit
                                                         : ns_pulse_width_limit(m.frequency);
    set_text_if_changed(pd_max_label, fixed(width_limit, 0));
    set_text_if_changed(pd_min_label, QStringLiteral("1"));
    m.pulse_width_max = static_cast<float>(width_limit);
    set_percent(dura_indicator, dura_spin->value(), m.pulse_width_min, m.pulse_width_max);
    set_visible_if_changed(dura_widget, true);

    // 11.-13.
    show_pulse_mode_state(m);
    set_visible_if_changed(config_button, true);
    set_text_if_changed(freq_label, QString::number(m.frequency) + QStringLiteral(" kHz"));

    // 14. Rates allowed by the duty cycle at the present pulse width.
    const int top = last_rate_entry_within(freq_combo, ns_rate_limit(m.max_duty_cycle, m.pulse_width));
    if (top >= 1) {
        set_text_if_changed(rr_max_label, freq_combo->itemText(top));
        set_text_if_changed(rr_min_label, freq_combo->itemText(0));
        set_percent(freq_indicator, m.frequency, freq_combo->itemText(0).toInt(),
                    freq_combo->itemText(top).toInt());
    }
}
