#include "tango_requests.h"

#include "channel_reading.h"
#include "driver_type.h"
#include "laser_object.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <cmath>

namespace {

tango_reply verdict_reply(const command_verdict& v)
{
    return v.ok() ? tango_reply() : tango_reply::refused(v.why.toStdString());
}

// The value as the panel shows it, with its decimals.
double shown(double v, int decimals)
{
    if (std::isnan(v))
        return v;
    const double scale = std::pow(10.0, decimals);
    return std::round(v * scale) / scale;
}

bool setpoint_of(const std::string& name, setpoint_kind& kind)
{
    static const std::pair<const char*, setpoint_kind> names[] = {
        {"current_setpoint", setpoint_kind::current},       {"temperature_setpoint", setpoint_kind::temperature},
        {"voltage_setpoint", setpoint_kind::voltage},       {"frequency_setpoint", setpoint_kind::frequency},
        {"pulse_width_setpoint", setpoint_kind::pulse_width},
    };
    for (const auto& n : names) {
        if (name == n.first) {
            kind = n.second;
            return true;
        }
    }
    return false;
}

} // namespace

tango_reply tango_requests::run(const tango_request& r)
{
    const QString client = QString::fromStdString(r.client);
    const QString what = QString::fromStdString(r.name);
    if (r.channel == 0) {
        if (r.name == "AllOutputsOff") {
            // Always allowed, also read-only: it can only make the lab safer.
            h.note(0, client, what);
            if (!h.outputs_off())
                return tango_reply::refused("not connected, outputs not switched off");
            return {};
        }
        if (read_only)
            return tango_reply::refused("read-only: this server takes no commands but AllOutputsOff");
        if (r.name == "AcknowledgeAlarms") {
            h.note(0, client, what);
            h.acknowledge_alarms();
            return {};
        }
        return tango_reply::refused("unknown command " + r.name);
    }
    laser_object* l = r.channel >= 1 && r.channel <= tango_snapshot::channels ? h.channel(r.channel - 1) : nullptr;
    if (!l)
        return tango_reply::refused("no such channel");
    if (read_only)
        return tango_reply::refused("read-only: this server takes no writes or commands but AllOutputsOff");
    h.acting_for(client);
    const tango_reply reply = run_channel(*l, r);
    h.acting_for(QString());
    return reply;
}

tango_reply tango_requests::run_channel(laser_object& l, const tango_request& r)
{
    const QString client = QString::fromStdString(r.client);
    const int channel = l.index + 1;
    if (r.name == "On" || r.name == "Off")
        return verdict_reply(l.request_output(r.name == "On", command_origin::tango));
    if (r.name == "AcknowledgeAlarm") {
        if (!l.alarm.isEmpty())
            h.note(channel, client, QStringLiteral("alarm acknowledged: ") + l.alarm);
        l.acknowledge_alarm();
        return {};
    }
    if (r.name == "ClearErrors") {
        // Only the converter latches errors; the panel's own button clears them.
        const command_verdict now = l.check_output(false, command_origin::tango);
        if (!now.ok())
            return verdict_reply(now);
        if (l.commanded_type() != driver_type::power_dcdc)
            return tango_reply::refused("ClearErrors: only Power DCDC boards latch errors");
        h.note(channel, client, QStringLiteral("errors cleared"));
        l.err_clr_butt_clicked();
        return {};
    }
    setpoint_kind kind = setpoint_kind::current;
    if (!setpoint_of(r.name, kind))
        return tango_reply::refused("unknown request " + r.name);
    return verdict_reply(l.request_setpoint(kind, r.value, command_origin::tango));
}

tango_snapshot tango_requests::snapshot() const
{
    tango_snapshot s;
    for (int i = 0; i < tango_snapshot::channels; ++i) {
        if (const laser_object* l = h.channel(i))
            s.channel[size_t(i)] = channel_snapshot(*l);
    }
    s.studio.connected = h.connected();
    s.studio.recording = h.recording();
    for (const QString& a : h.alarms())
        s.studio.alarms.push_back(a.toStdString());
    for (const QString& line : h.log_lines())
        s.studio.log.push_back(line.toStdString());
    return s;
}

tango_channel_snapshot tango_requests::channel_snapshot(const laser_object& l) const
{
    const channel_reading r = l.reading();
    const bool connected = h.connected();
    tango_channel_snapshot s;
    s.type_name = r.type_name.toStdString();
    s.fresh = r.enabled && connected && r.present && r.fresh;
    const bool dcdc = r.type == driver_type::power_dcdc;
    if (!r.enabled) {
        s.state = tango_state::disable;
        s.status = "channel disabled";
    } else if (!l.alarm.isEmpty()) {
        s.state = tango_state::alarm;
        s.status = l.alarm.toStdString();
    } else if (!connected) {
        s.status = "not connected";
    } else if (!r.present) {
        s.status = "no board answers";
    } else if (!r.fresh) {
        s.status = l.staleness().toStdString();
    } else if (dcdc && r.fault_flags) {
        s.state = tango_state::fault;
        s.status = r.type_name.toStdString() + ": fault flags 0x" + QString::number(r.fault_flags, 16).toStdString();
    } else {
        s.state = r.emission ? tango_state::on : tango_state::off;
        s.status = r.type_name.toStdString() + (r.emission ? ": output on" : ": output off");
    }
    if (!r.present)
        return s;

    // Value and the decimals the panel shows it with.
    const int current_decimals = dcdc ? 2 : r.digits;
    struct shown_value
    {
        tango_attr a;
        double v;
        int decimals;
    };
    const shown_value values[] = {
        {tango_attr::current, dcdc ? r.current_A : r.current_mA, current_decimals},
        {tango_attr::temperature, r.temperature_C, r.digits},
        {tango_attr::power, r.power_mW, 1},
        {tango_attr::voltage, r.voltage_V, 1},
        {tango_attr::input_voltage, r.input_voltage_V, 1},
        {tango_attr::output_voltage, r.output_voltage_V, 1},
        {tango_attr::frequency, r.frequency_kHz, 0},
        {tango_attr::pulse_width, r.pulse_width_ns, 1},
        {tango_attr::current_setpoint, r.current_set, current_decimals},
        {tango_attr::temperature_setpoint, r.temperature_set, r.digits},
        {tango_attr::voltage_setpoint, r.voltage_set, 1},
        {tango_attr::frequency_setpoint, r.frequency_set, 0},
        {tango_attr::pulse_width_setpoint, r.pulse_width_set, 1},
    };
    for (const shown_value& v : values) {
        const size_t i = size_t(v.a);
        s.value[i] = shown(v.v, v.decimals);
    }
    if (r.mode_index >= 0 && !r.mode.isEmpty()) {
        s.value[size_t(tango_attr::mode)] = r.mode_index;
        s.mode = r.mode.toStdString();
    }
    if (r.burst_n >= 0)
        s.value[size_t(tango_attr::burst_n)] = r.burst_n;
    if (r.burst_m >= 0)
        s.value[size_t(tango_attr::burst_m)] = r.burst_m;
    if (dcdc) {
        s.value[size_t(tango_attr::fault_flags)] = r.fault_flags;
        s.value[size_t(tango_attr::warning_flags)] = r.warning_flags;
    }
    s.value[size_t(tango_attr::emission)] = r.emission ? 1 : 0;

    // The ranges of the panel's fields for the set-points the type has.
    auto range = [&s](tango_attr a, const QDoubleSpinBox* spin) {
        if (!spin || std::isnan(s.value[size_t(a)]) || spin->minimum() >= spin->maximum())
            return;
        s.min_value[size_t(a)] = spin->minimum();
        s.max_value[size_t(a)] = spin->maximum();
    };
    range(tango_attr::current_setpoint, l.curr_spin);
    range(tango_attr::temperature_setpoint, driver_type::is_cw_family(r.type) || dcdc ? l.temp_spin : l.pulse_temp_spin);
    range(tango_attr::voltage_setpoint, l.volt_spin);
    range(tango_attr::pulse_width_setpoint, l.dura_spin);
    return s;
}
