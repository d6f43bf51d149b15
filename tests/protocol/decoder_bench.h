#pragma once

#include "driver_decoder.h"
#include "driver_state.h"
#include "setpoint_sync.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

// A reply frame as a board sends it: code in byte 0, its own CAN ID in
// byte 1, the value big-endian in bytes 4..7. Bytes 2 and 3 carry noise the
// decoder must not read.
inline serial_message_struct reply_frame(uint32_t code, int32_t value)
{
    const auto bits = static_cast<uint32_t>(value);
    serial_message_struct sm;
    sm.id = 0x42;
    sm.data[0] = code;
    sm.data[1] = 0x42;
    sm.data[2] = 0x5A;
    sm.data[3] = 0xA5;
    sm.data[4] = bits >> 24 & 0xFF;
    sm.data[5] = bits >> 16 & 0xFF;
    sm.data[6] = bits >> 8 & 0xFF;
    sm.data[7] = bits & 0xFF;
    return sm;
}

// One channel's decoder state, with a driver type already known.
struct decoder_bench
{
    driver_state state;
    setpoint_sync_slots sync{};

    explicit decoder_bench(int32_t type) { state.device_type = type; }

    void feed(uint32_t code, int32_t value)
    {
        decode_driver_message(state, sync, reply_frame(code, value));
    }

    // Every field the decoder may write, by name ("cw_model.temp_min").
    QMap<QString, double> fields() const
    {
        QMap<QString, double> f;
#define BENCH_FIELD(rec, name) f.insert(QStringLiteral(#rec "." #name), double(state.rec.name))
#define BENCH_PULSE_FIELDS(rec)                                                                    \
    BENCH_FIELD(rec, mode); BENCH_FIELD(rec, mode_set); BENCH_FIELD(rec, burst_enabled);           \
    BENCH_FIELD(rec, voltage); BENCH_FIELD(rec, voltage_min); BENCH_FIELD(rec, voltage_max);       \
    BENCH_FIELD(rec, voltage_target); BENCH_FIELD(rec, voltage_set);                               \
    BENCH_FIELD(rec, temperature); BENCH_FIELD(rec, temp_max); BENCH_FIELD(rec, temp_min);         \
    BENCH_FIELD(rec, temp_target); BENCH_FIELD(rec, temp_set); BENCH_FIELD(rec, laser_on);         \
    BENCH_FIELD(rec, tec_on); BENCH_FIELD(rec, voltage_on); BENCH_FIELD(rec, frequency);           \
    BENCH_FIELD(rec, frequency_set); BENCH_FIELD(rec, pulse_gated);                                \
    BENCH_FIELD(rec, pulse_gated_set); BENCH_FIELD(rec, pulse_cutted);                             \
    BENCH_FIELD(rec, pulse_cutted_set); BENCH_FIELD(rec, thermistor_r25);                          \
    BENCH_FIELD(rec, thermistor_beta); BENCH_FIELD(rec, monitor_responsivity);                     \
    BENCH_FIELD(rec, max_tec_current)

        f.insert(QStringLiteral("device_type"), state.device_type);
        f.insert(QStringLiteral("type_changed"), state.type_changed);
        f.insert(QStringLiteral("alive"), state.alive);
        f.insert(QStringLiteral("reported_can_id"), state.reported_can_id);
        for (size_t k = 0; k < sync.size(); ++k)
            f.insert(QStringLiteral("sync.%1").arg(k), sync[k]);

        BENCH_FIELD(cw_model, current_max); BENCH_FIELD(cw_model, current_min);
        BENCH_FIELD(cw_model, current); BENCH_FIELD(cw_model, current_target);
        BENCH_FIELD(cw_model, current_set); BENCH_FIELD(cw_model, temp_limits_reported);
        BENCH_FIELD(cw_model, temp_max); BENCH_FIELD(cw_model, temp_min);
        BENCH_FIELD(cw_model, temperature); BENCH_FIELD(cw_model, temp_target);
        BENCH_FIELD(cw_model, temp_set); BENCH_FIELD(cw_model, laser_on);
        BENCH_FIELD(cw_model, tec_on); BENCH_FIELD(cw_model, power);
        BENCH_FIELD(cw_model, thermistor_r25); BENCH_FIELD(cw_model, thermistor_beta);
        BENCH_FIELD(cw_model, monitor_responsivity); BENCH_FIELD(cw_model, max_tec_current);

        BENCH_PULSE_FIELDS(ps_model);
        BENCH_PULSE_FIELDS(ns_model);
        BENCH_FIELD(ns_model, pulse_width); BENCH_FIELD(ns_model, pulse_width_max);
        BENCH_FIELD(ns_model, pulse_width_min); BENCH_FIELD(ns_model, pulse_width_set);
        BENCH_FIELD(ns_model, max_duty_cycle);

        BENCH_FIELD(dcdc_model, output_on); BENCH_FIELD(dcdc_model, current);
        BENCH_FIELD(dcdc_model, current_max); BENCH_FIELD(dcdc_model, current_min);
        BENCH_FIELD(dcdc_model, current_target); BENCH_FIELD(dcdc_model, current_set);
        BENCH_FIELD(dcdc_model, temperature); BENCH_FIELD(dcdc_model, temp_max);
        BENCH_FIELD(dcdc_model, temp_min); BENCH_FIELD(dcdc_model, output_voltage);
        BENCH_FIELD(dcdc_model, input_voltage); BENCH_FIELD(dcdc_model, warning_flags);
        BENCH_FIELD(dcdc_model, fault_flags);
#undef BENCH_PULSE_FIELDS
#undef BENCH_FIELD
        return f;
    }

    // Names of the fields whose value differs from `before`.
    QStringList changed_since(const QMap<QString, double>& before) const
    {
        QStringList names;
        const QMap<QString, double> now = fields();
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (before.value(it.key()) != it.value())
                names << it.key();
        }
        return names;
    }
};
