#pragma once

#include "driver_decoder.h"
#include "driver_state.h"
#include "setpoint_sync.h"

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <array>
#include <cstring>
#include <functional>

// What an encoder wrote, read back from its 22-byte line. Any fault in the
// line shape (length, framing, lower-case hex, overrun) lands in `error`.
struct sent_frame
{
    QString error;
    QByteArray line;
    uint32_t id = 0;
    std::array<uint8_t, 8> bytes{};

    QString hex() const // "12 00 00 00 00 00 00 FC"
    {
        QString text;
        for (uint8_t b : bytes)
            text += QString::asprintf("%02X ", unsigned(b));
        return text.trimmed();
    }
};

using encoder_call = std::function<void(char*, uint32_t*)>;
#define ENC(call) [&](char* b, uint32_t* l) { call; }

inline sent_frame capture(const encoder_call& encode)
{
    char buf[40];
    std::memset(buf, '#', sizeof buf);
    uint32_t len = 0;
    encode(buf, &len);
    sent_frame f;
    f.line = QByteArray(buf, 22);
    if (len != 22)
        f.error = QString("length %1").arg(len);
    else if (buf[0] != 't' || buf[4] != '8' || buf[21] != '\r')
        f.error = "bad framing: " + QString::fromLatin1(f.line.toPercentEncoding());
    else if (buf[22] != '#')
        f.error = "wrote past 22 bytes";
    else if (f.line.mid(1, 20) != f.line.mid(1, 20).toUpper())
        f.error = "lower-case hex digit";
    bool ok = true;
    f.id = QByteArray(buf + 1, 3).toUInt(&ok, 16);
    for (int k = 0; k < 8 && ok; ++k)
        f.bytes[size_t(k)] = uint8_t(QByteArray(buf + 5 + 2 * k, 2).toUInt(&ok, 16));
    if (!ok && f.error.isEmpty())
        f.error = "non-hex digits";
    return f;
}

// A reply as a board sends it: code in byte 0, its CAN ID in byte 1, the
// value big-endian in bytes 4..7; bytes 2 and 3 carry noise the decoder must
// not read.
inline serial_message_struct reply_frame(uint32_t code, int32_t value)
{
    const auto bits = static_cast<uint32_t>(value);
    return serial_message_struct{0x42, {code, 0x42, 0x5A, 0xA5, bits >> 24 & 0xFF, bits >> 16 & 0xFF,
                                        bits >> 8 & 0xFF, bits & 0xFF}};
}

// One channel's decoder state, with a driver type already known.
struct decoder_bench
{
    driver_state state;
    setpoint_sync_slots sync{};

    explicit decoder_bench(int32_t type) { state.device_type = type; }
    void feed(uint32_t code, int32_t value) { decode_driver_message(state, sync, reply_frame(code, value)); }
    pulse_model_struct& pulse()
    {
        return state.device_type == 7 ? static_cast<pulse_model_struct&>(state.ps_model) : state.ns_model;
    }

    // Every field the decoder may write, by name ("cw_model.temp_min").
    QMap<QString, double> fields() const
    {
        QMap<QString, double> f;
#define F(rec, name) f.insert(#rec "." #name, double(state.rec.name))
#define PULSE(r)                                                                                   \
    F(r, mode); F(r, mode_set); F(r, burst_enabled); F(r, voltage); F(r, voltage_min);             \
    F(r, voltage_max); F(r, voltage_target); F(r, voltage_set); F(r, temperature); F(r, temp_max); \
    F(r, temp_min); F(r, temp_target); F(r, temp_set); F(r, laser_on); F(r, tec_on);               \
    F(r, voltage_on); F(r, frequency); F(r, frequency_set); F(r, pulse_gated);                     \
    F(r, pulse_gated_set); F(r, pulse_cutted); F(r, pulse_cutted_set); F(r, thermistor_r25);       \
    F(r, thermistor_beta); F(r, monitor_responsivity); F(r, max_tec_current)
        f.insert("device_type", state.device_type);
        f.insert("type_changed", state.type_changed);
        f.insert("alive", state.alive);
        f.insert("reported_can_id", state.reported_can_id);
        for (size_t k = 0; k < sync.size(); ++k)
            f.insert(QString("sync.%1").arg(k), sync[k]);
        F(cw_model, current_max); F(cw_model, current_min); F(cw_model, current);
        F(cw_model, current_target); F(cw_model, current_set); F(cw_model, temp_limits_reported);
        F(cw_model, temp_max); F(cw_model, temp_min); F(cw_model, temperature);
        F(cw_model, temp_target); F(cw_model, temp_set); F(cw_model, laser_on); F(cw_model, tec_on);
        F(cw_model, power); F(cw_model, thermistor_r25); F(cw_model, thermistor_beta);
        F(cw_model, monitor_responsivity); F(cw_model, max_tec_current);
        PULSE(ps_model);
        PULSE(ns_model);
        F(ns_model, pulse_width); F(ns_model, pulse_width_max); F(ns_model, pulse_width_min);
        F(ns_model, pulse_width_set); F(ns_model, max_duty_cycle);
        F(dcdc_model, output_on); F(dcdc_model, current); F(dcdc_model, current_max);
        F(dcdc_model, current_min); F(dcdc_model, current_target); F(dcdc_model, current_set);
        F(dcdc_model, temperature); F(dcdc_model, temp_max); F(dcdc_model, temp_min);
        F(dcdc_model, output_voltage); F(dcdc_model, input_voltage); F(dcdc_model, warning_flags);
        F(dcdc_model, fault_flags);
#undef PULSE
#undef F
        return f;
    }

    QStringList changed_since(const QMap<QString, double>& before) const
    {
        QStringList names;
        const auto now = fields();
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (before.value(it.key()) != it.value())
                names << it.key();
        return names;
    }
};
