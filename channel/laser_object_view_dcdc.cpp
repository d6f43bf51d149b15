#include "laser_object.h"

#include "driver_type.h"
#include "setpoint_wire.h"
#include "view_text.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

void laser_object::view_dcdc()
{
    dcdc_model_struct& m = worker->dcdc_model;

    // 1. Type texts; the tab shows the labels as the previous tick left them.
    set_text_if_changed(laser_name_label, driver_type::name(driver_type::power_dcdc)
                                              + QStringLiteral(" Driver"));
    set_tab_text(
                        name + QStringLiteral(" (") + driver_type::name(driver_type::power_dcdc)
                            + QLatin1Char(' ') + fixed(m.current_set, 2) + QLatin1Char('/')
                            + curr_label->text() + QStringLiteral("  ") + temp_label->text()
                            + QStringLiteral(" )"));

    // 2. Views; a converter has no temperature set-point.
    set_visible_if_changed(cw_widget, true);
    set_visible_if_changed(ps_ns_widget, false);
    set_visible_if_changed(alt_but_widget, true);
    set_visible_if_changed(temp_spin, false);

    // 3. One-time setup after a change of type.
    if (worker->type_changed) {
        adopted_values.clear();
        // The converter's current travels in 0.01 A: the field takes what the wire carries.
        curr_spin->setDecimals(2);
        emit curr_spin->valueChanged(curr_spin->value());
        worker->type_changed = false;
        step_size_combo->clear();
        step_size_combo->addItems({QStringLiteral("0.1"), QStringLiteral("1")});
    }

    // 4. Adoption of the stored current.
    if (setpoint_sync[sync_slot::current] == sync_state::adopted) {
        load_adopted(curr_spin, m.current_set);
        setpoint_sync[sync_slot::current] = sync_state::idle;
    }

    // 5. Temperature.
    set_text_if_changed(temp_label, with_unit(m.temperature, 1, view_text::degrees));
    set_text_if_changed(temp_min_label, with_unit(m.temp_min, 1, view_text::degrees));
    set_text_if_changed(temp_max_label, with_unit(m.temp_max, 1, view_text::degrees));
    set_percent(temp_indicator, m.temperature, m.temp_min, m.temp_max);

    // 6.-8. Current, with the limit that the warnings may have lowered.
    set_text_if_changed(curr_label, with_unit(m.current, 1, " A"));
    dcdc_evaluate_warnings();
    set_text_if_changed(curr_min_label, with_unit(m.current_min, 1, " A"));
    set_text_if_changed(curr_max_label, with_unit(m.current_max, 1, " A"));
    const value_range current = narrow_range(m.current_min, m.current_max,
                                             setpoint_wire::dcdc_current(), curr_spin->decimals());
    set_range_if_changed(curr_spin, current.lo, current.hi);
    set_percent(curr_indicator, m.current, m.current_min, m.current_max);

    // 9. Output state; the current changes only while the output is on.
    set_checked_if_changed(cw_on_off_button, m.output_on);
    set_checked_if_changed(start_stop_button_alt, m.output_on);
    set_text_if_changed(power_state_label, m.output_on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    set_enabled_if_changed(cw_curr_widget, m.output_on);
    set_enabled_if_changed(cw_temp_widget, m.output_on);

    // 10. Voltages.
    set_text_if_changed(power_title, QStringLiteral("Output voltage:"));
    set_text_if_changed(power_label, with_unit(m.output_voltage, 1, " V"));
    set_visible_if_changed(input_volt_title, true);
    set_visible_if_changed(input_volt_label, true);
    set_text_if_changed(input_volt_label, with_unit(m.input_voltage, 1, " V"));

    // 11. Flags.
    dcdc_failure_display();
    set_visible_if_changed(config_button, true);
}
