#include "scpi_executor.h"

#include "channel_reading.h"
#include "laser_object.h"
#include "scpi_error_queue.h"
#include "scpi_parser.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <cmath>
#include <utility>

namespace {

const char* const mode_names[] = {"INTN", "INTB", "EXTN", "EXTB", "POD"};

QString quoted(const QString& text)
{
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// The control a set command acts on, and whether the panel lets it be used.
// Only the control's own state counts (and its parents': a disconnected
// window disables the channel list), not whether the panel is collapsed.
QString refusal(const QWidget* control)
{
    if (control->isHidden())
        return QStringLiteral("not offered by this panel");
    if (!control->isEnabled())
        return QStringLiteral("control disabled on the panel");
    return QString();
}

} // namespace

scpi_executor::scpi_executor(hooks hooks_arg, QString identity_arg)
    : h(std::move(hooks_arg)), identity(std::move(identity_arg))
{
}

QString scpi_executor::mode_name(int index)
{
    return index >= 0 && index < 5 ? QLatin1String(mode_names[index]) : QString();
}

int scpi_executor::mode_index(const QString& name)
{
    for (int i = 0; i < 5; ++i) {
        if (name.compare(QLatin1String(mode_names[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool scpi_executor::run(const scpi_command& c, scpi_error_queue& errors, QString& answer)
{
    if (c.error) {
        errors.push(c.error, c.error_detail);
        return false;
    }
    switch (c.op) {
    case scpi_op::idn:
        answer = identity;
        return true;
    case scpi_op::cls:
        errors.clear();
        return false;
    case scpi_op::system_error:
        answer = errors.pop();
        return true;
    case scpi_op::system_connected:
        answer = h.connected() ? QStringLiteral("1") : QStringLiteral("0");
        return true;
    case scpi_op::outputs_all: {
        bool on = true;
        const int e = scpi_parser::boolean(c, on);
        if (e || on)
            errors.push(e ? e : -224, QStringLiteral("only OFF"));
        else
            h.outputs_off();
        return false;
    }
    default:
        return run_channel(c, errors, answer);
    }
}

bool scpi_executor::run_channel(const scpi_command& c, scpi_error_queue& errors, QString& answer)
{
    laser_object* l = h.channel(c.channel - 1);
    if (!l) {
        errors.push(-114);
        return false;
    }
    const channel_reading r = l->reading();
    switch (c.op) {
    case scpi_op::name:
        answer = quoted(r.name);
        return true;
    case scpi_op::type:
        answer = quoted(r.type_name);
        return true;
    case scpi_op::present:
        answer = r.enabled && r.present && h.connected() ? QStringLiteral("1") : QStringLiteral("0");
        return true;
    default:
        break;
    }
    const QString ch = QStringLiteral("channel %1 ").arg(c.channel);
    QString why;
    if (!r.enabled)
        why = ch + QStringLiteral("is disabled");
    else if (!r.bound)
        why = ch + QStringLiteral("has an incomplete panel");
    else if (!h.connected())
        why = QStringLiteral("not connected");
    else if (!r.present)
        why = ch + QStringLiteral("has no device");
    if (!why.isEmpty()) {
        errors.push(-221, why);
        return false;
    }
    if (c.query)
        return query_channel(c, r, errors, answer);
    set_channel(c, *l, r, errors);
    return false;
}

bool scpi_executor::query_channel(const scpi_command& c, const channel_reading& r, scpi_error_queue& errors,
                                  QString& answer)
{
    const bool dcdc = channel_reading::has(r.current_A);
    // Value and the decimals the panel shows it with.
    std::pair<double, int> v{channel_reading::none, 1};
    switch (c.op) {
    case scpi_op::measure_current: v = dcdc ? std::make_pair(r.current_A, 2) : std::make_pair(r.current_mA, r.digits); break;
    case scpi_op::measure_temperature: v = {r.temperature_C, r.digits}; break;
    case scpi_op::measure_power: v = {r.power_mW, 1}; break;
    case scpi_op::measure_voltage: v = {dcdc ? r.output_voltage_V : r.voltage_V, 1}; break;
    case scpi_op::measure_input: v = {r.input_voltage_V, 1}; break;
    case scpi_op::current: v = {r.current_set, dcdc ? 2 : r.digits}; break;
    case scpi_op::temperature: v = {r.temperature_set, r.digits}; break;
    case scpi_op::voltage: v = {r.voltage_set, 1}; break;
    case scpi_op::frequency: v = {r.frequency_set, 0}; break;
    case scpi_op::pulse_width: v = {r.pulse_width_set, 1}; break;
    case scpi_op::burst_n: v = {r.burst_n >= 0 ? r.burst_n : channel_reading::none, 0}; break;
    case scpi_op::burst_m: v = {r.burst_m >= 0 ? r.burst_m : channel_reading::none, 0}; break;
    case scpi_op::fault: v = {dcdc ? r.fault_flags : channel_reading::none, 0}; break;
    case scpi_op::warning: v = {dcdc ? r.warning_flags : channel_reading::none, 0}; break;
    case scpi_op::output: v = {r.emission ? 1 : 0, 0}; break;
    case scpi_op::mode:
        answer = mode_name(r.mode_index);
        if (!answer.isEmpty())
            return true;
        break;
    default:
        break;
    }
    if (c.op != scpi_op::mode && channel_reading::has(v.first)) {
        answer = QString::number(v.first, 'f', v.second);
        return true;
    }
    errors.push(-221, QStringLiteral("not available on ") + (r.type_name.isEmpty() ? QStringLiteral("this channel") : r.type_name));
    return false;
}

void scpi_executor::set_channel(const scpi_command& c, laser_object& l, const channel_reading& r,
                                scpi_error_queue& errors)
{
    const bool pulsed = channel_reading::has(r.voltage_set);
    QWidget* control = nullptr;
    QDoubleSpinBox* spin = nullptr;
    // The slot the field's change runs, and the one its Enter key runs (none
    // where the change sends by itself).
    void (laser_object::*on_change)(double) = nullptr;
    void (laser_object::*on_send)() = nullptr;
    bool available = true;
    switch (c.op) {
    case scpi_op::current:
        available = channel_reading::has(r.current_set);
        spin = l.curr_spin;
        on_change = &laser_object::current_target_update;
        on_send = &laser_object::laser_current_butt_clicked;
        break;
    case scpi_op::temperature:
        available = channel_reading::has(r.temperature_set);
        spin = pulsed ? l.pulse_temp_spin : l.temp_spin;
        on_change = &laser_object::temp_target_update;
        on_send = &laser_object::laser_temperature_butt_clicked;
        break;
    case scpi_op::voltage:
        available = pulsed;
        spin = l.volt_spin;
        on_change = &laser_object::volt_target_update;
        on_send = &laser_object::laser_voltage_butt_clicked;
        break;
    case scpi_op::pulse_width:
        available = channel_reading::has(r.pulse_width_set);
        spin = l.dura_spin;
        on_change = &laser_object::pulse_width_target_update;
        break;
    case scpi_op::burst_n:
        available = pulsed;
        spin = l.pulse_gated_spin;
        on_change = &laser_object::pulse_gated_target_update;
        break;
    case scpi_op::burst_m:
        available = pulsed;
        spin = l.pulse_cutted_spin;
        on_change = &laser_object::pulse_cutted_target_update;
        break;
    case scpi_op::frequency:
        available = pulsed;
        control = l.freq_combo;
        break;
    case scpi_op::mode:
        available = pulsed;
        control = l.mode_combo;
        break;
    case scpi_op::output:
        control = pulsed ? l.ps_ns_on_off_butt : l.cw_on_off_button;
        break;
    default:
        errors.push(-113);
        return;
    }
    if (spin)
        control = spin;
    const QString why = available ? refusal(control) : QStringLiteral("not available on ") + r.type_name;
    if (!why.isEmpty()) {
        errors.push(-221, why);
        return;
    }

    if (c.op == scpi_op::output) {
        bool on = false;
        if (const int e = scpi_parser::boolean(c, on))
            errors.push(e);
        else if (QAbstractButton* button = pulsed ? l.ps_ns_on_off_butt : l.cw_on_off_button;
                 button->isChecked() != on)
            button->click(); // the operator's click, with its whole on/off sequence
        return;
    }
    if (c.op == scpi_op::mode) {
        const int index = mode_index(c.argument);
        if (index < 0 || index >= l.mode_combo->count()) {
            errors.push(index < 0 ? -224 : -221, QStringLiteral("modes: INTN, INTB, EXTN, EXTB, POD"));
            return;
        }
        l.mode_combo->setCurrentIndex(index);
        l.mode_update(index); // as the list's activation runs it
        return;
    }

    double value = 0.0;
    if (const int e = scpi_parser::number(c, value)) {
        errors.push(e);
        return;
    }
    if (c.op == scpi_op::frequency) {
        const int index = std::rint(value) == value ? l.freq_combo->findText(QString::number(value, 'f', 0)) : -1;
        if (index < 0) {
            errors.push(-222, QStringLiteral("not one of the panel's rates"));
            return;
        }
        l.freq_combo->setCurrentIndex(index);
        l.freq_target_update(index); // as the list's activation runs it
        return;
    }
    const double rounded = spin_rounded(spin, value);
    if (rounded < spin->minimum() || rounded > spin->maximum()) {
        errors.push(-222, QStringLiteral("%1 to %2").arg(spin->minimum()).arg(spin->maximum()));
        return;
    }
    // An unchanged value emits no change, so its slot runs as the change would run it.
    if (rounded == spin->value())
        (l.*on_change)(rounded);
    else
        spin->setValue(rounded);
    if (on_send)
        (l.*on_send)();
}
