#include "driver_decoder.h"
#include "driver_state.h"
#include "sim_board.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr int32_t cw = 8, pcw = 10, ps = 7, ns = 6, soa = 13, dcdc = 11;

// want "12:FFCE": code 0x12, the value right-aligned in data bytes 1..7.
struct encoder_row { const char* what; std::function<void(char*, uint32_t*)> encode; QString want; };
#define Q(rec, fn, want) {#rec "." #fn, [&](char* x, uint32_t* l) { b.rec.fn(x, l); }, want}
#define S(rec, fn, v, want) {#rec "." #fn "(" #v ")", [&](char* x, uint32_t* l) { b.rec.fn(v, x, l); }, want}

// One channel's decoder state. Code 0 stands for the heartbeat clearing
// `alive` and the panel returning every adoption slot to idle.
struct board
{
    driver_state s;
    setpoint_sync_slots sync{};
    cw_model_struct& c = s.cw_model;
    ps_model_struct& p = s.ps_model;
    ns_model_struct& n = s.ns_model;
    dcdc_model_struct& d = s.dcdc_model;
    void feed(uint32_t code, int32_t value)
    {
        if (code == 0) {
            s.alive = false;
            sync = {};
            return;
        }
        // The board's CAN ID in byte 1; bytes 2 and 3 carry noise the decoder must not read.
        const auto u = static_cast<uint32_t>(value);
        decode_driver_message(s, sync,
                              {0x42, {code, 0x42, 0x5A, 0xA5, u >> 24, u >> 16 & 0xFF, u >> 8 & 0xFF, u & 0xFF}});
    }
};

using replies = std::vector<std::pair<uint32_t, int32_t>>; // code, value in bytes 4..7
struct reply_row { int32_t type; replies rs; const char* field; std::function<double(board&)> read; double want; };
#define F(expr) #expr, [](board& b) { return double(b.expr); }

} // namespace

class tst_protocol : public QObject
{
    Q_OBJECT

private slots:
    void encoders();
    void replies();
    void through_simulated_boards();
};

// Every command as the board must receive it: identifier, code, value layout,
// scale factor and rounding. All four records share the channel's CAN ID.
void tst_protocol::encoders()
{
    board b;
    b.s.set_can_id(0x1ABC); // bits above the 11-bit identifier are dropped
    const std::vector<encoder_row> rows = {
        Q(c, get_device_type, "D0"), Q(c, get_can_id, "D1"), Q(c, get_laser_on, "90"), Q(c, get_current, "91"),
        Q(c, get_temperature, "92"), Q(c, get_power, "94"), Q(c, get_tec_on, "A1"), Q(c, get_thermistor_beta, "95"),
        Q(c, get_thermistor_r25, "96"), Q(c, get_monitor_responsivity, "97"), Q(c, get_current_max, "A5"),
        Q(c, get_current_min, "A6"), Q(c, get_temp_max, "B7"), Q(c, get_temp_min, "B6"),
        Q(c, get_max_tec_current, "B3"), Q(p, get_voltage, "98"), Q(p, get_voltage_on, "A0"),
        Q(n, get_temperature, "92"), Q(p, get_temp_max, "B7"), Q(p, get_temp_min, "B6"), Q(p, get_tec_on, "A1"),
        Q(p, get_pulsed_laser_on, "A2"), Q(p, get_frequency, "99"), Q(p, get_pulse_gated, "B4"),
        Q(p, get_pulse_cutted, "B5"), Q(p, get_mode, "A4"), Q(p, get_thermistor_beta, "95"),
        Q(p, get_thermistor_r25, "96"), Q(n, get_monitor_responsivity, "97"), Q(p, get_voltage_max, "A5"),
        Q(p, get_voltage_min, "A6"), Q(p, get_max_tec_current, "B3"), Q(n, get_pulse_width, "A3"),
        Q(d, get_output_on, "90"), Q(d, get_current, "91"), Q(d, get_temperature, "92"),
        Q(d, get_input_voltage, "94"), Q(d, get_output_voltage, "A6"), Q(d, get_fault_flags, "B0"),
        Q(d, clear_errors, "29"),
        // Byte values: byte 7 alone.
        S(c, set_can_id, int8_t(300 & 0xFF), "51:2C"), S(c, set_laser_on, 1, "10:1"), S(c, set_laser_on, -1, "10:FF"),
        S(c, set_tec_on, 1, "21:1"), S(p, set_voltage_on, 1, "20:1"), S(p, set_tec_on, 1, "21:1"),
        S(p, set_pulsed_laser_on, 1, "22:1"), S(p, set_mode, 3, "24:3"), S(n, set_mode, -1, "24:FF"),
        // CW: current x10 rounded (halves away from zero), 16 bits; temperature x10 truncated.
        S(c, set_current, 123.45f, "11:4D2"), S(c, set_current, 1.25f, "11:D"), S(c, set_current, -1.25f, "11:FFF3"),
        S(c, set_current, 6553.5f, "11:FFFF"), S(c, set_current, 7000.0f, "11:1170"),
        S(c, set_temperature, 25.3f, "12:FC"), S(c, set_temperature, -5.0f, "12:FFCE"),
        S(c, set_temperature, -0.05f, "12"),
        // Precision CW: current x100 and temperature x10000, 32 bits.
        S(c, set_current_precision, 123.45f, "11:3039"), S(c, set_current_precision, 1e9f, "11:4876E800"),
        S(c, set_current_precision, -1.0f, "11:FFFFFF9C"), S(c, set_temperature_precision, 25.3f, "12:3DC48"),
        S(c, set_temperature_precision, -5.0f, "12:FFFF3CB0"),
        // Parameters: the window hands current limits x10 before a temperature-limit reply,
        // and Precision CW temperature limits x100; the encoder adds its own factor 10.
        S(c, set_thermistor_beta, 70000.0f, "15:1170"), S(c, set_thermistor_r25, 100000.0f, "16:86A0"),
        S(c, set_monitor_responsivity, 0.35f, "17:22"), S(c, set_monitor_responsivity, 4.35f, "17:1B2"),
        S(c, set_temp_max, 35.0f, "37:15E"), S(c, set_temp_max, 3500.0f, "37:88B8"), S(c, set_temp_max, 6553.6f, "37"),
        S(c, set_temp_min, -5.0f, "36:FFCE"), S(c, set_max_tec_current, 0.15f, "33:2"),
        S(c, set_current_max, 150.0f, "25:5DC"), S(c, set_current_max, 1500.0f, "25:3A98"),
        S(c, set_current_min, 150.0f, "26:5DC"), S(c, set_current_max, 7000.05f, "25:11170"),
        S(c, set_current_max, -0.05f, "25:FFFFFFFF"),
        // PS and NS.
        S(p, set_voltage, 0.25f, "18:3"), S(p, set_voltage, -0.25f, "18:FFFD"), S(n, set_voltage, 6553.5f, "18:FFFF"),
        S(p, set_voltage, 6553.6f, "18"), S(n, set_voltage, 100.05f, "18:3E9"), S(p, set_temperature, 25.3f, "12:FC"),
        S(n, set_temperature, 25.3f, "12:FD"), S(p, set_temperature, -0.05f, "12"), S(n, set_temp_min, -5.f, "36:FFCE"),
        S(n, set_temperature, -0.05f, "12:FFFF"), S(p, set_temp_max, 0.05f, "37:1"), S(n, set_frequency, 1.9f, "19:1"),
        S(p, set_frequency, 50000.0f, "19:C350"), S(p, set_pulse_gated, -2, "34:FFFE"),
        S(n, set_pulse_cutted, 300, "35:12C"), S(p, set_thermistor_beta, 3950.0f, "15:F6E"),
        S(n, set_thermistor_r25, 10000.0f, "16:2710"), S(p, set_monitor_responsivity, -0.35f, "17:FFDE"),
        S(n, set_voltage_max, 1000.0f, "25:2710"), S(p, set_voltage_min, -1.0f, "26:FFF6"),
        S(p, set_max_tec_current, 1.25f, "33:D"), S(n, set_max_tec_current, -1.25f, "33:FFF3"),
        S(n, set_pulse_width, 0.25f, "23:3"), S(n, set_pulse_width, 7000.0f, "23:1170"),
        // Power DCDC: output 16 bits; current x100, the product taken in double (not 100.5 / 267.5).
        S(d, set_output_on, 258, "10:102"), S(d, set_output_on, -1, "10:FFFF"), S(d, set_current, 12.34f, "11:4D2"),
        S(d, set_current, 1.005f, "11:64"), S(d, set_current, 2.675f, "11:10B"), S(d, set_current, -1.0f, "11:FF9C"),
        // NaN, infinities and products beyond 64 bits carry no value: 0, never a wrapped or full-scale one.
        S(c, set_current, NAN, "11"), S(c, set_current_precision, -INFINITY, "11"), S(n, set_voltage, 1e19f, "18"),
        S(c, set_current_max, 3.4e38f, "25"), S(d, set_current, INFINITY, "11"), S(n, set_voltage, -1e6f, "18:6980"),
        S(c, set_current_precision, 5e7f, "11:2A05F200"),
    };
    QStringList faults;
    for (const encoder_row& r : rows) {
        QByteArray got(32, '#'); // nothing may be written past the 22 bytes
        uint32_t len = 0;
        r.encode(got.data(), &len);
        const QString want = "tABC8" + r.want.section(':', 0, 0) + r.want.section(':', 1).rightJustified(14, '0');
        if (len != 22 || got.left(23) != want.toLatin1() + "\r#")
            faults << QString("%1: %2 (length %3), want %4").arg(r.what, got.left(22), QString::number(len), want);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// After a type report and the replies, the field holds exactly `want`: the
// value from bytes 4..7 (big-endian, signed) or byte 7, scaled for the type,
// stored in the record of the reported type, adopted where a slot waits.
void tst_protocol::replies()
{
    const std::vector<reply_row> rows = {
        {cw, {{0x90, 1}}, F(c.laser_on), 1}, {cw, {{0x90, 0x0100}}, F(c.laser_on), 0},
        {cw, {{0x91, 123456}}, F(c.current), 12345.6f}, {ps, {{0x92, -50}}, F(p.temperature), -5.0f},
        {cw, {{0x92, 253}}, F(c.temperature), 25.3f}, {cw, {{0x94, 1234}}, F(c.power), 123.4f},
        {cw, {{0x95, -1}}, F(c.thermistor_beta), -1}, {cw, {{0x96, 100000}}, F(c.thermistor_r25), 100000},
        {cw, {{0x97, 35}}, F(c.monitor_responsivity), 0.35f}, {cw, {{0xA1, 0x0180}}, F(c.tec_on), 1},
        {cw, {{0xB3, 15}}, F(c.max_tec_current), 1.5f}, {cw, {{0xB6, -150}}, F(c.temp_min), -15.0f},
        {cw, {{0xB7, 355}}, F(c.temp_max), 35.5f}, {cw, {{0xB6, 150}}, F(c.temp_limits_reported), 1},
        // CW current limits: hundredths until temperature limits are reported, then tenths.
        {cw, {{0xA5, 1500}}, F(c.current_max), 15.0f}, {cw, {{0xB6, 150}, {0xA6, 1500}}, F(c.current_min), 150.0f},
        {cw, {{0xB7, 350}, {0xD0, pcw}, {0xD0, cw}, {0xA5, 1500}}, F(c.current_max), 15.0f},
        {pcw, {{0x91, 123456}}, F(c.current), 12.3456f}, {pcw, {{0x92, 253}}, F(c.temperature), 0.0253f},
        {pcw, {{0xA5, 15000}}, F(c.current_max), 150.0f}, {pcw, {{0xB7, 350}, {0xA6, 1500}}, F(c.current_min), 15.0f},
        {pcw, {{0xB6, 15000}}, F(c.temp_min), 15.0f}, {pcw, {{0xB7, 35500}}, F(c.temp_max), 35.5f},
        {dcdc, {{0x90, 1}}, F(d.output_on), 1}, {dcdc, {{0x91, 123456}}, F(d.current), 1234.56f},
        {dcdc, {{0x92, 253}}, F(d.temperature), 25.3f}, {dcdc, {{0x94, 245}}, F(d.input_voltage), 24.5f},
        {dcdc, {{0xA6, 240}}, F(d.output_voltage), 24.0f}, {dcdc, {{0xB0, 0x1234}}, F(d.fault_flags), 0x34},
        {dcdc, {{0xA5, 1500}}, F(c.current_max), 150.0f}, {9, {{0x92, 253}}, F(c.temperature), 0},
        {ns, {{0x92, 253}}, F(n.temperature), 25.3f},
        {soa, {{0x95, 3950}}, F(n.thermistor_beta), 3950}, {ps, {{0x96, 100000}}, F(p.thermistor_r25), 100000},
        {ns, {{0x97, 35}}, F(n.monitor_responsivity), 0.35f}, {ps, {{0x97, 35}}, F(p.monitor_responsivity), 0.35f},
        {ps, {{0x98, 123}}, F(p.voltage), 0}, {ns, {{0xA2, 1}, {0x98, 456}}, F(n.voltage), 45.6f},
        {ps, {{0x99, 50000}}, F(p.frequency), 50000}, {soa, {{0xA0, 1}}, F(n.voltage_on), 1},
        {ps, {{0xA1, 1}}, F(p.tec_on), 1}, {ps, {{0xA2, 1}}, F(p.laser_on), 1},
        {ns, {{0xA3, 10000}}, F(n.pulse_width), 1000.0f}, {ps, {{0xA5, 10000}}, F(p.voltage_max), 1000.0f},
        {soa, {{0xA6, 5}}, F(n.voltage_min), 0.5f}, {ns, {{0xB3, 15}}, F(n.max_tec_current), 1.5f},
        {ps, {{0xB3, 15}}, F(p.max_tec_current), 1.5f}, {ps, {{0xB4, -3}}, F(p.pulse_gated), -3},
        {ns, {{0xB5, 7}}, F(n.pulse_cutted), 7}, {ps, {{0xB6, 150}}, F(p.temp_min), 15.0f},
        {ns, {{0xB7, 355}}, F(n.temp_max), 35.5f}, {ps, {{0xB7, 355}}, F(c.temp_limits_reported), 0},
        // Mode index from the board's code and the burst counts (both > 0, signed).
        {ps, {{0xA4, 3}}, F(p.mode), 0}, {ps, {{0xB4, 5}, {0xB5, 5}, {0xA4, 3}}, F(p.mode), 1},
        {ps, {{0xB4, 5}, {0xA4, 2}}, F(p.mode), 2}, {ns, {{0xB4, 5}, {0xB5, 5}, {0xA4, 2}}, F(n.mode), 3},
        {soa, {{0xA4, 1}}, F(n.mode), 4}, {ns, {{0xA4, 2}, {0xA4, 3}}, F(n.mode), 2},
        {ps, {{0xA4, 2}, {0xA4, 7}}, F(p.mode), 2}, {ps, {{0xB4, -1}, {0xB5, 5}, {0xA4, 2}}, F(p.mode), 2},
        {ns, {{0xB4, 5}, {0xB5, 5}, {0xA4, 0}}, F(n.burst_enabled), 1},
        {ps, {{0xB4, 5}, {0xA4, 0}}, F(p.burst_enabled), 0},
        // A type report arms the slots of its type; the first reading is adopted, later ones are not.
        {cw, {}, F(sync[0]), 1}, {cw, {}, F(sync[1]), 0}, {ps, {}, F(sync[4]), 0}, {ps, {}, F(sync[7]), 1},
        {soa, {}, F(sync[4]), 1}, {dcdc, {}, F(sync[2]), 1}, {9, {}, F(sync[0]), 0}, {pcw, {}, F(s.type_changed), 1},
        {cw, {}, F(s.alive), 1}, {ns, {{0xD0, 0x0102030A}}, F(s.device_type), pcw},
        {cw, {{0xB7, 350}, {0xD0, pcw}}, F(c.temp_limits_reported), 0}, {cw, {{0x91, 1}, {0xD0, cw}}, F(sync[0]), 2},
        {cw, {{0x91, 1234}, {0x91, 999}}, F(c.current_set), 123.4f}, {cw, {{0x91, 1234}}, F(sync[0]), 2},
        {pcw, {{0x92, 253000}}, F(c.temp_set), 25.3f}, {dcdc, {{0x91, 1234}}, F(d.current_set), 12.34f},
        {dcdc, {{0x92, 253}}, F(sync[2]), 1}, {ps, {{0x92, -50}}, F(p.temp_set), -5.0f},
        {ps, {{0x98, 123}}, F(p.voltage_set), 12.3f}, {ns, {{0x99, 500}}, F(n.frequency_set), 500},
        {soa, {{0xA3, 25}}, F(n.pulse_width_set), 2.5f}, {ps, {{0xB4, 5}, {0xB4, 7}}, F(p.pulse_gated_set), 5},
        {ns, {{0xB5, 6}}, F(n.pulse_cutted_set), 6}, {ps, {{0xB4, 5}}, F(sync[5]), 2}, {ns, {{0xA4, 9}}, F(sync[5]), 2},
        {9, {{0xD1, 0x1234}}, F(s.reported_can_id), 0x34}, {ps, {{0, 0}, {0xD0, ps}}, F(s.alive), 1},
        {ps, {{0, 0}, {0xD0, ps}, {0xA4, 1}, {0xB4, 5}}, F(sync[5]), 0}, {ns, {{0, 0}, {0xD0, ns}}, F(sync[1]), 0},
    };
    QStringList faults;
    for (const reply_row& r : rows) {
        board b;
        b.feed(0xD0, r.type);
        for (const auto& [code, value] : r.rs)
            b.feed(code, value);
        if (r.read(b) != r.want)
            faults << QString("type %1, %2: %3, want %4")
                          .arg(r.type).arg(r.field).arg(r.read(b), 0, 'g', 9).arg(r.want, 0, 'g', 9);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    const dcdc_model_struct flags;
    QCOMPARE(flags.dcdc_flag_text(0x0205),
             QStringLiteral("flag_NO_Load\nflag_Overtemp\nOutput power is close to MAX\n"));
    QCOMPARE(flags.dcdc_flag_text(0xFC00), QString());
}

// Our frames into the simulated boards and their replies back: each board
// keeps a field with the width and sign that the encoder gives it.
void tst_protocol::through_simulated_boards()
{
    struct trip { int32_t type; std::function<void(board&, char*, uint32_t*)> set; uint8_t get; reply_row back; };
#define T(type, call, get, field, want)                                                                     \
    {type, [](board& b, char* x, uint32_t* l) { b.call; }, get, {type, {}, F(field), want}}
    const std::vector<trip> trips = {
        T(cw, c.set_thermistor_r25(47000.0f, x, l), 0x96, c.thermistor_r25, 47000),
        T(cw, c.set_temp_min(-5.0f, x, l), 0xB6, c.temp_min, -5.0f),
        T(cw, c.set_current_max(-10000.0f, x, l), 0xA5, c.current_max, -1000.0f),
        T(pcw, c.set_temp_max(3550.0f, x, l), 0xB7, c.temp_max, 35.5f),
        T(ps, p.set_temp_min(-5.0f, x, l), 0xB6, p.temp_min, -5.0f),
    };
    QStringList faults;
    for (const trip& t : trips) {
        board b;
        sim_board sim(t.type, 0x42);
        b.feed(0xD0, t.type);
        char line[32] = {};
        uint32_t len = 0;
        t.set(b, line, &len);
        uint8_t request[8] = {}, get[8] = {t.get}, reply[8] = {};
        for (int k = 0; k < 8; ++k)
            request[k] = uint8_t(QByteArray(line + 5 + 2 * k, 2).toUInt(nullptr, 16));
        sim.handle(request, 0, reply);
        if (sim.handle(get, 0, reply))
            b.feed(reply[0], int32_t(uint32_t(reply[4]) << 24 | reply[5] << 16 | reply[6] << 8 | reply[7]));
        if (t.back.read(b) != t.back.want)
            faults << QString("type %1, %2: %3").arg(t.type).arg(t.back.field).arg(t.back.read(b), 0, 'g', 9);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

QTEST_GUILESS_MAIN(tst_protocol)
#include "tst_protocol.moc"
