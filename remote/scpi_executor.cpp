#include "scpi_executor.h"

#include "channel_reading.h"
#include "laser_object.h"
#include "scpi_status.h"
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

bool scpi_executor::sends_frames(const scpi_command& c)
{
    if (c.error || c.query)
        return false;
    return c.channel > 0 || c.op == scpi_op::outputs_all || c.op == scpi_op::rst;
}

scpi_outcome scpi_executor::run(const scpi_command& c, scpi_status& status, QString& answer)
{
    if (c.error) {
        status.error(c.error, c.error_detail);
        return scpi_outcome::failed;
    }
    if (c.channel > 0)
        return run_channel(c, status, answer);
    return run_common(c, status, answer);
}

scpi_outcome scpi_executor::run_common(const scpi_command& c, scpi_status& status, QString& answer)
{
    auto answered = [&answer](const QString& text) {
        answer = text;
        return scpi_outcome::answered;
    };
    // *ESE and *SRE take a register value, 0 to 255.
    auto register_value = [&c, &status](std::uint8_t& reg) {
        double v = 0;
        if (const int e = scpi_parser::number(c, v)) {
            status.error(e);
            return scpi_outcome::failed;
        }
        if (v < 0 || v > 255 || std::rint(v) != v) {
            status.error(-222, QStringLiteral("0 to 255"));
            return scpi_outcome::failed;
        }
        reg = std::uint8_t(v);
        return scpi_outcome::done;
    };
    switch (c.op) {
    case scpi_op::idn: return answered(identity);
    case scpi_op::cls:
        status.clear();
        return scpi_outcome::done;
    case scpi_op::rst:
        // The safe state: every output off through the same path as the
        // window's button; the event status and the queue start anew.
        status.clear();
        if (!h.outputs_off()) {
            status.error(-221, QStringLiteral("not connected, outputs not switched off"));
            return scpi_outcome::failed;
        }
        return scpi_outcome::done;
    case scpi_op::opc:
    case scpi_op::wai: return scpi_outcome::synchronise;
    case scpi_op::esr: return answered(QString::number(status.take_events()));
    case scpi_op::ese:
        return c.query ? answered(QString::number(status.enable_events)) : register_value(status.enable_events);
    case scpi_op::stb: return answered(QString::number(status.status_byte()));
    case scpi_op::sre:
        if (c.query)
            return answered(QString::number(status.enable_service));
        if (register_value(status.enable_service) == scpi_outcome::failed)
            return scpi_outcome::failed;
        status.enable_service &= std::uint8_t(~scpi_status::service_request); // it cannot enable itself
        return scpi_outcome::done;
    case scpi_op::tst: return answered(QString::number(self_test()));
    case scpi_op::system_version: return answered(QStringLiteral("1999.0"));
    case scpi_op::system_error: return answered(status.errors.pop());
    case scpi_op::system_error_count: return answered(QString::number(status.errors.size()));
    case scpi_op::system_error_all: return answered(status.errors.pop_all());
    case scpi_op::system_connected: return answered(h.connected() ? QStringLiteral("1") : QStringLiteral("0"));
    case scpi_op::system_alarm: {
        const QStringList alarms = h.alarms();
        QString text = QString::number(alarms.size());
        for (const QString& a : alarms)
            text += QLatin1Char(',') + quoted(a);
        return answered(text);
    }
    case scpi_op::alarm_acknowledge:
        h.acknowledge_alarms();
        return scpi_outcome::done;
    case scpi_op::outputs_all: {
        bool on = true;
        const int e = scpi_parser::boolean(c, on);
        if (e || on) {
            status.error(e ? e : -224, QStringLiteral("only OFF"));
            return scpi_outcome::failed;
        }
        if (!h.outputs_off()) {
            status.error(-221, QStringLiteral("not connected"));
            return scpi_outcome::failed;
        }
        return scpi_outcome::done;
    }
    default:
        status.error(-113);
        return scpi_outcome::failed;
    }
}

// 0 when the adapter is connected and every enabled channel's board answers;
// 1 when not connected; otherwise the sum of 2^n over the enabled channels n
// (1 to 10) whose board does not answer.
int scpi_executor::self_test() const
{
    if (!h.connected())
        return 1;
    int missing = 0;
    for (int i = 0; i < scpi_parser::channel_count; ++i) {
        const laser_object* l = h.channel(i);
        if (!l)
            continue;
        const channel_reading r = l->reading();
        if (r.enabled && !r.present)
            missing |= 1 << (i + 1);
    }
    return missing;
}

scpi_outcome scpi_executor::run_channel(const scpi_command& c, scpi_status& status, QString& answer)
{
    laser_object* l = h.channel(c.channel - 1);
    if (!l) {
        status.error(-114);
        return scpi_outcome::failed;
    }
    const channel_reading r = l->reading();
    switch (c.op) {
    case scpi_op::name:
        answer = quoted(r.name);
        return scpi_outcome::answered;
    case scpi_op::type:
        // A disabled channel's type is that of a board nobody polls any more.
        if (!r.enabled) {
            status.error(-221, QStringLiteral("channel %1 is disabled").arg(c.channel));
            return scpi_outcome::failed;
        }
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
        return set_channel(c, *l, status);
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
        status.error(-221, why);
        return scpi_outcome::failed;
    }
    // A reading is served only while it is fresh, never the last one as if it were live.
    if (!r.fresh && c.op != scpi_op::board) {
        status.error(-230, l->staleness());
        return scpi_outcome::failed;
    }
    return query_channel(c, r, status, answer);
}

scpi_outcome scpi_executor::query_channel(const scpi_command& c, const channel_reading& r,
                                          scpi_status& status, QString& answer)
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
    status.error(-221, QStringLiteral("not available on ") + (r.type_name.isEmpty() ? QStringLiteral("this channel") : r.type_name));
    return scpi_outcome::failed;
}

scpi_outcome scpi_executor::set_channel(const scpi_command& c, laser_object& l, scpi_status& status)
{
    auto refused = [&status](const command_verdict& v) {
        if (v.ok())
            return scpi_outcome::done;
        status.error(error_code(v), v.why);
        return scpi_outcome::failed;
    };
    if (c.op == scpi_op::output) {
        bool on = false;
        if (const int e = scpi_parser::boolean(c, on)) {
            status.error(e);
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
        status.error(-113);
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
            status.error(-224, QStringLiteral("modes: INTN, INTB, EXTN, EXTB, POD"));
            return scpi_outcome::failed;
        }
    } else if (const int e = scpi_parser::number(c, value)) {
        status.error(e);
        return scpi_outcome::failed;
    }
    return refused(l.request_setpoint(kind, value, command_origin::remote));
}
