#include "laser_object.h"

#include "driver_type.h"
#include "view_text.h"
#include "widget_sync.h"
#include "setpoint_wire.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

void laser_object::view_update()
{
    watch_freshness();
    if (!is_bound)
        return;
    ++refreshing;
    const int32_t type = worker->device_type.load();
    if (driver_type::is_cw_family(type))
        view_cw(type);
    else if (type == driver_type::power_dcdc)
        view_dcdc();
    else if (type == driver_type::ps)
        view_ps();
    else if (driver_type::is_ns_family(type))
        view_ns(type);
    else
        view_no_device();
    reload_adopted(); // after the ranges of this tick
    show_freshness();
    show_unsent();

    --refreshing;
}

void laser_object::load_adopted(QDoubleSpinBox* spin, double value)
{
    forget_adopted(spin);
    spin->setValue(value);
    adopted_values.emplace_back(spin, value);
}

// A range that held a field's read-back value down (its limit came later,
// or came before the value) lets it through once it allows more.
void laser_object::reload_adopted()
{
    for (const auto& a : adopted_values) {
        QDoubleSpinBox* spin = a.first;
        if (std::clamp(spin_rounded(spin, a.second), spin->minimum(), spin->maximum()) != spin->value())
            spin->setValue(a.second);
    }
}

void laser_object::forget_adopted(QDoubleSpinBox* spin)
{
    adopted_values.erase(std::remove_if(adopted_values.begin(), adopted_values.end(),
                                         [spin](const auto& a) { return a.first == spin; }),
                          adopted_values.end());
}

void laser_object::view_no_device()
{
    set_visible_if_changed(cw_widget, false);
    set_visible_if_changed(ps_ns_widget, false);
    set_visible_if_changed(config_button, false);
    set_visible_if_changed(alt_but_widget, false);
    set_text_if_changed(laser_name_label, QStringLiteral("No device"));
    set_tab_text(name);
}

void laser_object::view_cw(int32_t type)
{
    cw_model_struct& m = worker->cw_model;
    const bool precision = type == driver_type::precision_cw;
    const int digits = precision ? 2 : 1;

    // 1. Type texts; the tab shows the labels as the previous tick left them.
    set_text_if_changed(laser_name_label, driver_type::name(type) + QStringLiteral(" Driver"));
    set_tab_text(name + QStringLiteral(" (") + driver_type::name(type) + QLatin1Char(' ')
                            + fixed(m.current_set, digits) + QLatin1Char('/') + curr_label->text()
                            + QStringLiteral("  ") + fixed(m.temp_set, digits) + QLatin1Char('/')
                            + temp_label->text() + QStringLiteral(" )"));

    // 2. Views.
    set_visible_if_changed(cw_widget, true);
    set_visible_if_changed(temp_spin, m.max_tec_current >= 0.15f);
    set_visible_if_changed(ps_ns_widget, false);
    set_visible_if_changed(alt_but_widget, true);

    // 3. One-time setup after a change of type.
    if (worker->type_changed) {
        adopted_values.clear();
        emit curr_spin->valueChanged(curr_spin->value());
        emit temp_spin->valueChanged(temp_spin->value());
        curr_spin->setDecimals(1);
        temp_spin->setDecimals(1);
        worker->type_changed = false;
        step_size_combo->clear();
        if (precision)
            step_size_combo->addItems({QStringLiteral("0.01"), QStringLiteral("0.1"),
                                       QStringLiteral("1"), QStringLiteral("10")});
        else
            step_size_combo->addItems({QStringLiteral("0.1"), QStringLiteral("1"), QStringLiteral("10")});
        if (precision) {
            curr_spin->setDecimals(2);
            temp_spin->setDecimals(2);
        }
    }

    // 4. One adopted set-point per tick.
    if (setpoint_sync[sync_slot::current] == sync_state::adopted) {
        load_adopted(curr_spin, m.current_set);
        setpoint_sync[sync_slot::current] = sync_state::idle;
    } else if (setpoint_sync[sync_slot::temperature] == sync_state::adopted) {
        load_adopted(temp_spin, m.temp_set);
        setpoint_sync[sync_slot::temperature] = sync_state::idle;
    }

    // 5. Emission state; set-points change only while emission is on.
    set_checked_if_changed(cw_on_off_button, m.laser_on);
    set_checked_if_changed(start_stop_button_alt, m.laser_on);
    set_text_if_changed(power_state_label, m.laser_on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    set_enabled_if_changed(cw_curr_widget, m.laser_on);
    set_enabled_if_changed(cw_temp_widget, m.laser_on);

    // 6. Optical power.
    set_text_if_changed(power_title, QStringLiteral("Power:"));
    set_text_if_changed(power_label, with_unit(m.power, 1, " mW"));
    set_visible_if_changed(input_volt_title, false);
    set_visible_if_changed(input_volt_label, false);

    // 7. Current.
    set_text_if_changed(curr_label, with_unit(m.current, digits, " mA"));
    set_text_if_changed(curr_min_label, with_unit(m.current_min, digits, " mA"));
    set_text_if_changed(curr_max_label, with_unit(m.current_max, digits, " mA"));
    set_style_if_changed(curr_label, QLatin1String(m.current < m.current_set - 0.5f
                                                       ? view_text::red_label
                                                       : view_text::black_label));
    const value_range current = narrow_range(m.current_min, m.current_max,
                                             precision ? setpoint_wire::precision_current() : setpoint_wire::cw_current(),
                                             curr_spin->decimals());
    set_range_if_changed(curr_spin, current.lo, current.hi);
    set_percent(curr_indicator, m.current, m.current_min, m.current_max);

    // 8. Temperature.
    set_text_if_changed(temp_label, with_unit(m.temperature, digits, view_text::degrees));
    set_text_if_changed(temp_min_label, with_unit(m.temp_min, digits, view_text::degrees));
    set_text_if_changed(temp_max_label, with_unit(m.temp_max, digits, view_text::degrees));
    const value_range temperature = narrow_range(m.temp_min, m.temp_max,
                                                 precision ? setpoint_wire::precision_temperature()
                                                           : setpoint_wire::temperature(),
                                                 temp_spin->decimals());
    set_range_if_changed(temp_spin, temperature.lo, temperature.hi);
    set_percent(temp_indicator, m.temperature, m.temp_min, m.temp_max);

    // 9. The CW family has no failure display.
    set_visible_if_changed(config_button, true);
    set_visible_if_changed(err_clr_butt, false);
    set_visible_if_changed(fail_butt, false);
    set_visible_if_changed(fail_title, false);
}
