// The channel's one command interface: every caller (panel, remote server,
// outputs-off passes, control system) asks for an output state or a
// set-point here, and asks here why it would be refused.
#include "laser_object.h"

#include "channel_command.h"
#include "driver_type.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <cmath>

namespace {

// A channel with this CAN ID takes the replies of every board.
constexpr int32_t catch_all_can_id = 250;

using verdict = command_verdict;

// Only the control's own state counts (and its parents': a disconnected
// window disables the channel list), not whether the panel is collapsed.
verdict control_refusal(const QWidget* control)
{
    if (control->isHidden())
        return verdict::refuse(verdict::conflict, QStringLiteral("not offered by this panel"));
    if (!control->isEnabled())
        return verdict::refuse(verdict::conflict, QStringLiteral("control disabled on the panel"));
    return {};
}

bool from_outside(command_origin from)
{
    return from == command_origin::remote || from == command_origin::tango;
}

} // namespace

QString laser_object::setpoint_name(setpoint_kind k)
{
    static const char* const names[] = {"current", "temperature", "voltage", "rate", "pulse width",
                                        "burst N", "burst M", "mode"};
    return QLatin1String(names[int(k)]);
}

void laser_object::note_command(command_origin from, const QString& what)
{
    if (from == command_origin::remote || from == command_origin::tango)
        remote_touch.start();
    emit sig_commanded(index, from, what);
}

int32_t laser_object::commanded_type() const
{
    const int32_t type = worker->device_type.load();
    return driver_type::is_known(type) ? type : last_known_type;
}

bool laser_object::output_on() const
{
    const int32_t type = commanded_type();
    if (driver_type::is_cw_family(type))
        return worker->cw_model.laser_on;
    if (type == driver_type::power_dcdc)
        return worker->dcdc_model.output_on;
    if (const pulse_model_struct* m = pulse_model_of(type))
        return m->laser_on;
    return false;
}

void laser_object::forget_board()
{
    last_known_type = 0;
    last_reply_can_id = -1;
    last_reply.invalidate();
    was_answering = false;
    worker->device_type.store(0); // not known until the new board answers
}

command_verdict laser_object::channel_refusal(command_origin from) const
{
    const QString ch = QStringLiteral("channel %1 ").arg(index + 1);
    if (!link_up)
        return verdict::refuse(verdict::conflict, QStringLiteral("not connected"));
    if (!enabled)
        return verdict::refuse(verdict::conflict, ch + QStringLiteral("is disabled"));
    // Its records mix the replies of every board: only the operator, who sees
    // its panel, may command through it.
    if (from != command_origin::panel && can_id == catch_all_can_id)
        return verdict::refuse(verdict::conflict, ch + QStringLiteral("takes the replies of every board (CAN ID 250)"));
    if (!is_bound)
        return verdict::refuse(verdict::conflict, ch + QStringLiteral("has an incomplete panel"));
    if (!driver_type::is_known(worker->device_type.load()))
        return verdict::refuse(verdict::conflict, ch + QStringLiteral("has no device"));
    if (!fresh())
        return verdict::refuse(verdict::conflict, QStringLiteral("channel %1: ").arg(index + 1) + staleness());
    return {};
}

command_verdict laser_object::check_output(bool on, command_origin from) const
{
    if (!on) {
        // Off is refused only where nothing sensible can be sent, however the
        // channel looks: a board that fell silent may still hear.
        if (!link_up || can_id == catch_all_can_id || (from_outside(from) && !enabled))
            return channel_refusal(from);
        if (!driver_type::is_known(commanded_type()))
            return verdict::refuse(verdict::conflict, QStringLiteral("channel %1 has no device").arg(index + 1));
        return {};
    }
    if (const verdict v = channel_refusal(from); !v.ok())
        return v;
    if (from == command_origin::panel)
        return {};
    return control_refusal(pulse_model_of(worker->device_type.load()) ? ps_ns_on_off_butt : cw_on_off_button);
}

command_verdict laser_object::request_output(bool on, command_origin from)
{
    const verdict v = check_output(on, from);
    if (v.ok()) {
        switch_emission(on);
        note_command(from, on ? QStringLiteral("output switched on") : QStringLiteral("output switched off"));
    }
    return v;
}

QWidget* laser_object::setpoint_control(setpoint_kind k, QString& unavailable) const
{
    const int32_t type = worker->device_type.load();
    const bool pulsed = pulse_model_of(type) != nullptr;
    const bool cw = driver_type::is_cw_family(type);
    const bool dcdc = type == driver_type::power_dcdc;
    bool available = pulsed;
    QWidget* control = nullptr;
    switch (k) {
    case setpoint_kind::current:
        available = cw || dcdc;
        control = curr_spin;
        break;
    case setpoint_kind::temperature:
        available = cw || pulsed;
        control = pulsed ? pulse_temp_spin : temp_spin;
        break;
    case setpoint_kind::voltage: control = volt_spin; break;
    case setpoint_kind::frequency: control = freq_combo; break;
    case setpoint_kind::pulse_width:
        available = driver_type::is_ns_family(type);
        control = dura_spin;
        break;
    case setpoint_kind::burst_n: control = pulse_gated_spin; break;
    case setpoint_kind::burst_m: control = pulse_cutted_spin; break;
    case setpoint_kind::mode: control = mode_combo; break;
    }
    if (!available)
        unavailable = QStringLiteral("not available on ") + driver_type::name(type);
    return control;
}

command_verdict laser_object::check_setpoint(setpoint_kind k, double value, command_origin from) const
{
    if (const verdict v = channel_refusal(from); !v.ok())
        return v;
    QString unavailable;
    QWidget* control = setpoint_control(k, unavailable);
    if (!unavailable.isEmpty())
        return verdict::refuse(verdict::conflict, unavailable);
    if (const verdict v = control_refusal(control); !v.ok())
        return v;
    if (!std::isfinite(value))
        return verdict::refuse(verdict::illegal, QStringLiteral("not a number"));
    if (k == setpoint_kind::mode) {
        if (value < 0 || value > 4 || std::rint(value) != value)
            return verdict::refuse(verdict::illegal, QStringLiteral("modes: INTN, INTB, EXTN, EXTB, POD"));
        if (value >= mode_combo->count())
            return verdict::refuse(verdict::conflict, QStringLiteral("modes: INTN, INTB, EXTN, EXTB, POD"));
        return {};
    }
    if (k == setpoint_kind::frequency) {
        if (std::rint(value) != value || freq_combo->findText(QString::number(value, 'f', 0)) < 0)
            return verdict::refuse(verdict::out_of_range, QStringLiteral("not one of the panel's rates"));
        return {};
    }
    const auto* spin = static_cast<const QDoubleSpinBox*>(control);
    const double rounded = spin_rounded(spin, value);
    if (rounded < spin->minimum() || rounded > spin->maximum())
        return verdict::refuse(verdict::out_of_range,
                               QStringLiteral("%1 to %2").arg(spin->minimum()).arg(spin->maximum()));
    return {};
}

// The value goes into the panel's own control and the slot of its button or
// list runs, so the clamps, the duty-cycle rule, the copies and the
// sequences are the panel's.
command_verdict laser_object::request_setpoint(setpoint_kind k, double value, command_origin from)
{
    const verdict v = check_setpoint(k, value, from);
    if (!v.ok())
        return v;
    note_command(from, setpoint_name(k) + QStringLiteral(" set to ") + QString::number(value));
    if (k == setpoint_kind::mode) {
        const int entry = int(value);
        mode_combo->setCurrentIndex(entry);
        mode_update(entry); // as the list's activation runs it
        return v;
    }
    if (k == setpoint_kind::frequency) {
        const int entry = freq_combo->findText(QString::number(value, 'f', 0));
        freq_combo->setCurrentIndex(entry);
        freq_target_update(entry);
        return v;
    }
    struct spin_slots
    {
        QDoubleSpinBox* spin;
        void (laser_object::*on_change)(double);
        void (laser_object::*on_send)(); // none where the change sends by itself
    };
    const bool pulsed = pulse_model_of(worker->device_type.load()) != nullptr;
    spin_slots s{};
    switch (k) {
    case setpoint_kind::current:
        s = {curr_spin, &laser_object::current_target_update, &laser_object::laser_current_butt_clicked};
        break;
    case setpoint_kind::temperature:
        s = {pulsed ? pulse_temp_spin : temp_spin, &laser_object::temp_target_update,
             &laser_object::laser_temperature_butt_clicked};
        break;
    case setpoint_kind::voltage:
        s = {volt_spin, &laser_object::volt_target_update, &laser_object::laser_voltage_butt_clicked};
        break;
    case setpoint_kind::pulse_width: s = {dura_spin, &laser_object::pulse_width_target_update, nullptr}; break;
    case setpoint_kind::burst_n: s = {pulse_gated_spin, &laser_object::pulse_gated_target_update, nullptr}; break;
    default: s = {pulse_cutted_spin, &laser_object::pulse_cutted_target_update, nullptr}; break;
    }
    const double rounded = spin_rounded(s.spin, value);
    // An unchanged value emits no change, so its slot runs as the change would run it.
    if (rounded == s.spin->value())
        (this->*s.on_change)(rounded);
    else
        s.spin->setValue(rounded);
    if (s.on_send)
        (this->*s.on_send)();
    return v;
}
