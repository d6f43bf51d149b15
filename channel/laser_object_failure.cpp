#include "laser_object.h"

#include "driver_type.h"
#include "view_text.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>

namespace {

constexpr uint16_t output_near_input_bit = 1u << 8;
constexpr uint16_t power_near_max_bit = 1u << 9;
constexpr float power_bound_w = 420.0f;
constexpr float full_current_max_voltage = 30.0f;
constexpr float full_current_max_a = 14.0f;

// output / input > 0.8 as the floating-point division would decide, without
// dividing by zero: an infinite ratio passes, a not-a-number one does not.
bool output_near_input(float output, float input)
{
    if (input == 0.0f)
        return output > 0.0f;
    return output / input > 0.8f;
}

} // namespace

void laser_object::dcdc_evaluate_warnings()
{
    dcdc_model_struct& m = worker->dcdc_model;
    uint16_t warnings = 0;
    if (m.output_on && output_near_input(m.output_voltage, m.input_voltage))
        warnings |= output_near_input_bit;
    if (m.output_voltage > full_current_max_voltage) {
        // A 420 W bound above 30 V; the full current again at or below it.
        warnings |= power_near_max_bit;
        m.current_max = power_bound_w / m.output_voltage;
    } else {
        m.current_max = full_current_max_a;
    }
    m.warning_flags = warnings;
}

void laser_object::dcdc_failure_display()
{
    const dcdc_model_struct& m = worker->dcdc_model;
    const bool fault = m.fault_flags != 0;
    const bool warning = m.warning_flags != 0;
    // The end state of "failure first, then warning over it", applied once so
    // that a steady state re-shows nothing.
    if (warning)
        set_text_if_changed(fail_title, QStringLiteral("WARNING!"));
    else if (fault)
        set_text_if_changed(fail_title, QStringLiteral("!!!FAILURE!!!"));
    set_visible_if_changed(err_clr_butt, fault);
    set_visible_if_changed(fail_butt, fault || warning);
    set_visible_if_changed(fail_title, fault || warning);
    set_style_if_changed(curr_label, QLatin1String(warning ? view_text::red_label : view_text::black_label));

    // The box opens by itself once per appearance of flags on this channel.
    if (fault || warning) {
        if (!dcdc_warning_latch) {
            dcdc_warning_latch = true;
            fail_detail_butt_clicked();
        }
    } else {
        dcdc_warning_latch = false;
    }
}

void laser_object::fail_detail_butt_clicked()
{
    if (worker->device_type.load() != driver_type::power_dcdc)
        return;
    const dcdc_model_struct& m = worker->dcdc_model;
    // The box names its channel: several converters may raise flags at once.
    const QString text = QStringLiteral("Channel %1").arg(index + 1)
                         + (name.isEmpty() ? QString() : QStringLiteral(" (") + name + QLatin1Char(')'))
                         + QStringLiteral(":\n") + m.dcdc_flag_text(m.fault_flags | m.warning_flags);
    if (flag_box) {
        flag_box->setText(text);
        flag_box->raise();
        return;
    }
    // Modal for the operator but not run in a local event loop: the refresh
    // tick that opens it returns at once, so every channel keeps refreshing,
    // and an emission sequence waiting between its frames is not held up.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("WARNING"), text,
                                QMessageBox::Ok, panel_widget); // owned by panel_widget
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    flag_box = box;
    box->show();
}

void laser_object::err_clr_butt_clicked()
{
    if (worker->device_type.load() != driver_type::power_dcdc)
        return;
    const dcdc_model_struct& m = worker->dcdc_model;
    send_command([&m](char* b, uint32_t* l) { m.clear_errors(b, l); });
}
