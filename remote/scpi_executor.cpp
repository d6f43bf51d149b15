#include "scpi_executor.h"

#include "channel_reading.h"
#include "laser_object.h"
#include "scpi_error_queue.h"
#include "scpi_parser.h"

#include <cmath>
#include <utility>

namespace {

const char* const mode_names[] = {"INTN", "INTB", "EXTN", "EXTB", "POD"};

QString quoted(const QString& text)
{
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// The SCPI error of a refusal by the channel.
int error_code(const command_verdict& v)
{
    switch (v.kind) {
    case command_verdict::out_of_range: return -222;
    case command_verdict::illegal: return -224;
    default: return -221;
    }
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

scpi_outcome scpi_executor::run(const scpi_command& c, scpi_error_queue& errors, QString& answer)
{
    if (c.error) {
        errors.push(c.error, c.error_detail);
        return scpi_outcome::failed;
    }
    switch (c.op) {
    case scpi_op::idn:
        answer = identity;
        return scpi_outcome::answered;
    case scpi_op::cls:
        errors.clear();
        return scpi_outcome::done;
    case scpi_op::system_error:
        answer = errors.pop();
        return scpi_outcome::answered;
    case scpi_op::system_connected:
        answer = h.connected() ? QStringLiteral("1") : QStringLiteral("0");
        return scpi_outcome::answered;
    case scpi_op::system_alarm: {
        const QStringList alarms = h.alarms();
        answer = QString::number(alarms.size());
        for (const QString& a : alarms)
            answer += QLatin1Char(',') + quoted(a);
        return scpi_outcome::answered;
    }
    case scpi_op::alarm_acknowledge:
        h.acknowledge_alarms();
        return scpi_outcome::done;
    case scpi_op::outputs_all: {
        bool on = true;
        const int e = scpi_parser::boolean(c, on);
        if (e || on) {
            errors.push(e ? e : -224, QStringLiteral("only OFF"));
            return scpi_outcome::failed;
        }
        if (!h.outputs_off()) {
            errors.push(-221, QStringLiteral("not connected"));
            return scpi_outcome::failed;
        }
        return scpi_outcome::done;
    }
    default:
        return run_channel(c, errors, answer);
    }
}

scpi_outcome scpi_executor::run_channel(const scpi_command& c, scpi_error_queue& errors, QString& answer)
{
    laser_object* l = h.channel(c.channel - 1);
    if (!l) {
        errors.push(-114);
        return scpi_outcome::failed;
    }
    const channel_reading r = l->reading();
    switch (c.op) {
    case scpi_op::name:
        answer = quoted(r.name);
        return scpi_outcome::answered;
    case scpi_op::type:
        answer = quoted(r.type_name);
        return scpi_outcome::answered;
    case scpi_op::present:
        answer = r.enabled && r.present && r.fresh && h.connected() ? QStringLiteral("1") : QStringLiteral("0");
        return scpi_outcome::answered;
    case scpi_op::alarm:
        answer = quoted(l->alarm);
        return scpi_outcome::answered;
    default:
        break;
    }
    if (!c.query)
        return set_channel(c, *l, errors);
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
        return scpi_outcome::failed;
    }
    // A reading is served only while it is fresh, never the last one as if it were live.
    if (!r.fresh && c.op != scpi_op::board) {
        errors.push(-230, l->staleness());
        return scpi_outcome::failed;
    }
    return query_channel(c, r, errors, answer);
}

scpi_outcome scpi_executor::query_channel(const scpi_command& c, const channel_reading& r,
                                          scpi_error_queue& errors, QString& answer)
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
    case scpi_op::board: v = {r.board_can_id >= 0 ? r.board_can_id : channel_reading::none, 0}; break;
    case scpi_op::mode:
        answer = mode_name(r.mode_index);
        if (!answer.isEmpty())
            return scpi_outcome::answered;
        break;
    default:
        break;
    }
    if (c.op != scpi_op::mode && channel_reading::has(v.first)) {
        answer = QString::number(v.first, 'f', v.second);
        return scpi_outcome::answered;
    }
    errors.push(-221, QStringLiteral("not available on ") + (r.type_name.isEmpty() ? QStringLiteral("this channel") : r.type_name));
    return scpi_outcome::failed;
}

scpi_outcome scpi_executor::set_channel(const scpi_command& c, laser_object& l, scpi_error_queue& errors)
{
    auto refused = [&errors](const command_verdict& v) {
        if (v.ok())
            return scpi_outcome::done;
        errors.push(error_code(v), v.why);
        return scpi_outcome::failed;
    };
    if (c.op == scpi_op::output) {
        bool on = false;
        if (const int e = scpi_parser::boolean(c, on)) {
            errors.push(e);
            return scpi_outcome::failed;
        }
        return refused(l.request_output(on, command_origin::remote));
    }
    setpoint_kind kind = setpoint_kind::current;
    switch (c.op) {
    case scpi_op::current: kind = setpoint_kind::current; break;
    case scpi_op::temperature: kind = setpoint_kind::temperature; break;
    case scpi_op::voltage: kind = setpoint_kind::voltage; break;
    case scpi_op::frequency: kind = setpoint_kind::frequency; break;
    case scpi_op::pulse_width: kind = setpoint_kind::pulse_width; break;
    case scpi_op::burst_n: kind = setpoint_kind::burst_n; break;
    case scpi_op::burst_m: kind = setpoint_kind::burst_m; break;
    case scpi_op::mode: kind = setpoint_kind::mode; break;
    default:
        errors.push(-113);
        return scpi_outcome::failed;
    }
    // Whether the control takes anything now, before the value is looked at.
    const command_verdict now = l.check_setpoint(kind, 0.0, command_origin::remote);
    if (now.kind == command_verdict::conflict)
        return refused(now);
    double value = 0.0;
    if (kind == setpoint_kind::mode) {
        value = mode_index(c.argument);
        if (value < 0) {
            errors.push(-224, QStringLiteral("modes: INTN, INTB, EXTN, EXTB, POD"));
            return scpi_outcome::failed;
        }
    } else if (const int e = scpi_parser::number(c, value)) {
        errors.push(e);
        return scpi_outcome::failed;
    }
    return refused(l.request_setpoint(kind, value, command_origin::remote));
}
