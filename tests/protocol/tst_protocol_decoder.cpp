#include "decoder_bench.h"
#include "driver_type.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using state_reader = std::function<double(const driver_state&)>;

// One row of the reply table: after `code` with `value` reaches a board of
// `type`, the field read by `read` holds exactly `expected`.
struct reply_row
{
    int32_t type;
    uint32_t code;
    int32_t value;
    const char* field;
    state_reader read;
    double expected;
};

#define CW_FIELD(name) "cw_model." #name, [](const driver_state& s) { return double(s.cw_model.name); }
#define PS_FIELD(name) "ps_model." #name, [](const driver_state& s) { return double(s.ps_model.name); }
#define NS_FIELD(name) "ns_model." #name, [](const driver_state& s) { return double(s.ns_model.name); }
#define DCDC_FIELD(name) "dcdc_model." #name, [](const driver_state& s) { return double(s.dcdc_model.name); }

// Besides the expected value, a reply may change only the fields that its
// own rows name for that type: nothing else, in no other record.
QStringList failed_rows(const std::vector<reply_row>& rows)
{
    QStringList faults;
    for (const reply_row& r : rows) {
        decoder_bench bench(r.type);
        const auto before = bench.fields();
        bench.feed(r.code, r.value);
        const double got = r.read(bench.state);
        if (got != r.expected)
            faults << QString("type %1 code %2 value %3: %4 = %5, expected %6")
                          .arg(r.type).arg(r.code, 2, 16).arg(r.value).arg(r.field)
                          .arg(got, 0, 'g', 9).arg(r.expected, 0, 'g', 9);
        for (const QString& name : bench.changed_since(before)) {
            const bool named = std::any_of(rows.begin(), rows.end(), [&](const reply_row& o) {
                return o.type == r.type && o.code == r.code && name == QLatin1String(o.field);
            });
            if (!named)
                faults << QString("type %1 code %2 also changed %3").arg(r.type).arg(r.code, 2, 16).arg(name);
        }
    }
    return faults;
}

// PS and NS share these rows; NS types 6 and 13 decode alike.
std::vector<reply_row> pulse_rows(int32_t type)
{
    if (type == driver_type::ps) {
        return {
            {type, 0x92, 253, PS_FIELD(temperature), 25.3f},
            {type, 0x92, -50, PS_FIELD(temperature), -5.0f},
            {type, 0x95, 3950, PS_FIELD(thermistor_beta), 3950},
            {type, 0x96, 100000, PS_FIELD(thermistor_r25), 100000},
            {type, 0x97, 35, PS_FIELD(monitor_responsivity), 0.35f},
            {type, 0x98, 123, PS_FIELD(voltage), 0.0f}, // laser off
            {type, 0x99, 50000, PS_FIELD(frequency), 50000},
            {type, 0xA0, 1, PS_FIELD(voltage_on), 1},
            {type, 0xA1, 1, PS_FIELD(tec_on), 1},
            {type, 0xA2, 1, PS_FIELD(laser_on), 1},
            {type, 0xA5, 10000, PS_FIELD(voltage_max), 1000.0f},
            {type, 0xA6, 5, PS_FIELD(voltage_min), 0.5f},
            {type, 0xB3, 15, PS_FIELD(max_tec_current), 1.5f},
            {type, 0xB4, -3, PS_FIELD(pulse_gated), -3},
            {type, 0xB5, 7, PS_FIELD(pulse_cutted), 7},
            {type, 0xB6, 150, PS_FIELD(temp_min), 15.0f},
            {type, 0xB7, 355, PS_FIELD(temp_max), 35.5f},
            {type, 0xB7, 355, CW_FIELD(temp_limits_reported), 0},
        };
    }
    return {
        {type, 0x92, 253, NS_FIELD(temperature), 25.3f},
        {type, 0x92, -50, NS_FIELD(temperature), -5.0f},
        {type, 0x95, 3950, NS_FIELD(thermistor_beta), 3950},
        {type, 0x96, 100000, NS_FIELD(thermistor_r25), 100000},
        {type, 0x97, 35, NS_FIELD(monitor_responsivity), 0.35f},
        {type, 0x98, 123, NS_FIELD(voltage), 0.0f},
        {type, 0x99, 50000, NS_FIELD(frequency), 50000},
        {type, 0xA0, 1, NS_FIELD(voltage_on), 1},
        {type, 0xA1, 1, NS_FIELD(tec_on), 1},
        {type, 0xA2, 1, NS_FIELD(laser_on), 1},
        {type, 0xA3, 25, NS_FIELD(pulse_width), 2.5f},
        {type, 0xA3, 10000, NS_FIELD(pulse_width), 1000.0f},
        {type, 0xA5, 10000, NS_FIELD(voltage_max), 1000.0f},
        {type, 0xA6, 5, NS_FIELD(voltage_min), 0.5f},
        {type, 0xB3, 15, NS_FIELD(max_tec_current), 1.5f},
        {type, 0xB4, -3, NS_FIELD(pulse_gated), -3},
        {type, 0xB5, 7, NS_FIELD(pulse_cutted), 7},
        {type, 0xB6, 150, NS_FIELD(temp_min), 15.0f},
        {type, 0xB7, 355, NS_FIELD(temp_max), 35.5f},
        {type, 0xB7, 355, CW_FIELD(temp_limits_reported), 0},
    };
}

constexpr int32_t cw = driver_type::cw;
constexpr int32_t pcw = driver_type::precision_cw;
constexpr int32_t dcdc = driver_type::power_dcdc;

} // namespace

class tst_protocol_decoder : public QObject
{
    Q_OBJECT

private slots:
    void cw_family_rows();
    void pulse_family_rows();
    void dcdc_rows();
    void flag_and_small_number_are_byte_7();
    void adoption_rules();
    void voltage_held_at_zero_while_laser_off();
    void mode_rules();
    void type_report();
    void repeated_type_report_only_keeps_alive();
    void unknown_type_ignores_all_but_identification();
    void cw_current_limit_scale_follows_temperature_limits();
    void ignored_frames();
};

void tst_protocol_decoder::cw_family_rows()
{
    const std::vector<reply_row> rows = {
        {cw, 0x90, 1, CW_FIELD(laser_on), 1},
        {cw, 0x91, 123456, CW_FIELD(current), 12345.6f},
        {cw, 0x91, -50, CW_FIELD(current), -5.0f},
        {cw, 0x92, 253, CW_FIELD(temperature), 25.3f},
        {cw, 0x92, -50, CW_FIELD(temperature), -5.0f},
        {cw, 0x94, 1234, CW_FIELD(power), 123.4f},
        {cw, 0x95, 3950, CW_FIELD(thermistor_beta), 3950},
        {cw, 0x95, -1, CW_FIELD(thermistor_beta), -1},
        {cw, 0x96, 100000, CW_FIELD(thermistor_r25), 100000},
        {cw, 0x97, 35, CW_FIELD(monitor_responsivity), 0.35f},
        {cw, 0xA1, 1, CW_FIELD(tec_on), 1},
        {cw, 0xA5, 1500, CW_FIELD(current_max), 15.0f},
        {cw, 0xA6, 1500, CW_FIELD(current_min), 15.0f},
        {cw, 0xB3, 15, CW_FIELD(max_tec_current), 1.5f},
        {cw, 0xB6, 150, CW_FIELD(temp_min), 15.0f},
        {cw, 0xB6, 150, CW_FIELD(temp_limits_reported), 1},
        {cw, 0xB7, 355, CW_FIELD(temp_max), 35.5f},
        {cw, 0xB7, 355, CW_FIELD(temp_limits_reported), 1},

        {pcw, 0x90, 1, CW_FIELD(laser_on), 1},
        {pcw, 0x91, 123456, CW_FIELD(current), 12.3456f},
        {pcw, 0x92, 253, CW_FIELD(temperature), 0.0253f},
        {pcw, 0x92, -50, CW_FIELD(temperature), -0.005f},
        {pcw, 0x94, 1234, CW_FIELD(power), 123.4f},
        {pcw, 0x95, 3950, CW_FIELD(thermistor_beta), 3950},
        {pcw, 0x96, 10000, CW_FIELD(thermistor_r25), 10000},
        {pcw, 0x97, 35, CW_FIELD(monitor_responsivity), 0.35f},
        {pcw, 0xA1, 1, CW_FIELD(tec_on), 1},
        {pcw, 0xA5, 15000, CW_FIELD(current_max), 150.0f},
        {pcw, 0xA6, 1500, CW_FIELD(current_min), 15.0f},
        {pcw, 0xB3, 15, CW_FIELD(max_tec_current), 1.5f},
        {pcw, 0xB6, 15000, CW_FIELD(temp_min), 15.0f},
        {pcw, 0xB6, 15000, CW_FIELD(temp_limits_reported), 1},
        {pcw, 0xB7, 35500, CW_FIELD(temp_max), 35.5f},
        {pcw, 0xB7, 35500, CW_FIELD(temp_limits_reported), 1},
    };
    const QStringList faults = failed_rows(rows);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_decoder::pulse_family_rows()
{
    QStringList faults;
    for (int32_t type : {driver_type::ps, driver_type::ns, driver_type::soa_ns})
        faults << failed_rows(pulse_rows(type));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_decoder::dcdc_rows()
{
    const std::vector<reply_row> rows = {
        {dcdc, 0x90, 1, DCDC_FIELD(output_on), 1},
        {dcdc, 0x91, 123456, DCDC_FIELD(current), 1234.56f},
        {dcdc, 0x91, -50, DCDC_FIELD(current), -0.5f},
        {dcdc, 0x92, 253, DCDC_FIELD(temperature), 25.3f},
        {dcdc, 0x94, 245, DCDC_FIELD(input_voltage), 24.5f},
        {dcdc, 0xA6, 240, DCDC_FIELD(output_voltage), 24.0f},
        {dcdc, 0xB0, 0x05, DCDC_FIELD(fault_flags), 0x05},
        {dcdc, 0xB0, 0xFF, DCDC_FIELD(fault_flags), 0xFF},
    };
    const QStringList faults = failed_rows(rows);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_decoder::flag_and_small_number_are_byte_7()
{
    decoder_bench bench(cw);
    bench.state.cw_model.laser_on = true;
    bench.feed(0x90, 0x0100);
    QCOMPARE(bench.state.cw_model.laser_on, false);
    bench.feed(0x90, 0x0180);
    QCOMPARE(bench.state.cw_model.laser_on, true);

    bench.feed(0xD1, 0x1234);
    QCOMPARE(bench.state.reported_can_id, 0x34);

    decoder_bench dcdc_bench(dcdc);
    dcdc_bench.feed(0xB0, 0x1234);
    QCOMPARE(dcdc_bench.state.dcdc_model.fault_flags, uint16_t(0x34));
}

// A slot at 1 takes the reading into the _set field and becomes 2; at 0 or
// 2 the reading updates only the reading field.
void tst_protocol_decoder::adoption_rules()
{
    struct adoption_row
    {
        int32_t type;
        uint32_t code;
        int32_t value;
        int slot;
        const char* field;
        state_reader read_set;
        double adopted;
    };
    const std::vector<adoption_row> rows = {
        {cw, 0x91, 1234, sync_slot::current, CW_FIELD(current_set), 123.4f},
        {cw, 0x92, 253, sync_slot::temperature, CW_FIELD(temp_set), 25.3f},
        {pcw, 0x91, 123456, sync_slot::current, CW_FIELD(current_set), 12.3456f},
        {pcw, 0x92, 253000, sync_slot::temperature, CW_FIELD(temp_set), 25.3f},
        {dcdc, 0x91, 1234, sync_slot::current, DCDC_FIELD(current_set), 12.34f},
        {driver_type::ps, 0x92, -50, sync_slot::temperature, PS_FIELD(temp_set), -5.0f},
        {driver_type::ps, 0x98, 123, sync_slot::voltage, PS_FIELD(voltage_set), 12.3f},
        {driver_type::ps, 0x99, 500, sync_slot::rate, PS_FIELD(frequency_set), 500},
        {driver_type::ps, 0xB4, 5, sync_slot::gated, PS_FIELD(pulse_gated_set), 5},
        {driver_type::ps, 0xB5, 6, sync_slot::cutted, PS_FIELD(pulse_cutted_set), 6},
        {driver_type::ns, 0x92, 253, sync_slot::temperature, NS_FIELD(temp_set), 25.3f},
        {driver_type::ns, 0x98, 123, sync_slot::voltage, NS_FIELD(voltage_set), 12.3f},
        {driver_type::ns, 0x99, 500, sync_slot::rate, NS_FIELD(frequency_set), 500},
        {driver_type::soa_ns, 0xA3, 25, sync_slot::pulse_width, NS_FIELD(pulse_width_set), 2.5f},
        {driver_type::soa_ns, 0xB4, 5, sync_slot::gated, NS_FIELD(pulse_gated_set), 5},
        {driver_type::soa_ns, 0xB5, 6, sync_slot::cutted, NS_FIELD(pulse_cutted_set), 6},
    };

    QStringList faults;
    for (const adoption_row& r : rows) {
        for (int32_t before : {sync_state::idle, sync_state::waiting, sync_state::adopted}) {
            decoder_bench bench(r.type);
            bench.sync[size_t(r.slot)] = before;
            const double untouched = r.read_set(bench.state);
            bench.feed(r.code, r.value);
            const bool adopts = before == sync_state::waiting;
            const double want = adopts ? r.adopted : untouched;
            const int32_t want_slot = adopts ? sync_state::adopted : before;
            const double got = r.read_set(bench.state);
            if (got != want || bench.sync[size_t(r.slot)] != want_slot)
                faults << QString("type %1 code %2 slot %3 from %4: %5 = %6 (want %7), slot %8 (want %9)")
                              .arg(r.type).arg(r.code, 2, 16).arg(r.slot).arg(before).arg(r.field)
                              .arg(got).arg(want).arg(bench.sync[size_t(r.slot)]).arg(want_slot);
        }
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // A Power DCDC temperature is never adopted.
    decoder_bench dcdc_bench(dcdc);
    dcdc_bench.sync[sync_slot::temperature] = sync_state::waiting;
    dcdc_bench.feed(0x92, 253);
    QCOMPARE(dcdc_bench.sync[sync_slot::temperature], sync_state::waiting);

    // Adopting the gated setting also hands the mode to the editor.
    for (int32_t type : {driver_type::ps, driver_type::ns}) {
        decoder_bench bench(type);
        bench.sync[sync_slot::gated] = sync_state::waiting;
        bench.feed(0xB4, 5);
        QCOMPARE(bench.sync[sync_slot::mode], sync_state::adopted);

        decoder_bench idle(type);
        idle.sync[sync_slot::mode] = sync_state::waiting;
        idle.feed(0xB4, 5);
        QCOMPARE(idle.sync[sync_slot::mode], sync_state::waiting);
    }
}

void tst_protocol_decoder::voltage_held_at_zero_while_laser_off()
{
    for (int32_t type : {driver_type::ps, driver_type::ns}) {
        decoder_bench bench(type);
        pulse_model_struct& m = type == driver_type::ps ? static_cast<pulse_model_struct&>(bench.state.ps_model)
                                                        : bench.state.ns_model;
        bench.sync[sync_slot::voltage] = sync_state::waiting;
        bench.feed(0x98, 123);
        QCOMPARE(m.voltage, 0.0f);
        QCOMPARE(m.voltage_set, 12.3f);

        bench.feed(0xA2, 1);
        bench.feed(0x98, 456);
        QCOMPARE(m.voltage, 45.6f);
        QCOMPARE(m.voltage_set, 12.3f);
    }
}

void tst_protocol_decoder::mode_rules()
{
    struct mode_row
    {
        int32_t type;
        int32_t gated;
        int32_t cutted;
        int32_t code;
        int32_t mode_before;
        int32_t mode_after;
        int32_t burst;
    };
    const int32_t ps = driver_type::ps;
    const int32_t ns = driver_type::ns;
    const int32_t soa = driver_type::soa_ns;
    const std::vector<mode_row> rows = {
        {ps, 0, 0, 0, 4, 0, 0},   {ps, 5, 5, 0, 4, 1, 1},   {ps, 0, 0, 3, 4, 0, 0},
        {ps, 5, 5, 3, 4, 1, 1},   {ps, 5, 0, 2, 0, 2, 0},   {ps, 5, 5, 2, 0, 3, 1},
        {ps, 0, 0, 1, 0, 4, 0},   {ps, 5, 5, 1, 0, 4, 1},   {ps, 5, 5, 7, 2, 2, 1},
        {ps, -1, 5, 2, 0, 2, 0},  {ps, 5, -1, 0, 4, 0, 0},
        {ns, 0, 0, 0, 4, 0, 0},   {ns, 5, 5, 0, 4, 1, 1},   {ns, 0, 0, 3, 4, 4, 0},
        {ns, 5, 5, 3, 2, 2, 1},   {ns, 5, 0, 2, 0, 2, 0},   {ns, 5, 5, 2, 0, 3, 1},
        {ns, 0, 0, 1, 0, 4, 0},   {ns, 0, 0, 9, 3, 3, 0},
        {soa, 5, 5, 0, 4, 1, 1},  {soa, 0, 0, 3, 2, 2, 0},  {soa, 5, 5, 2, 0, 3, 1},
    };

    QStringList faults;
    for (const mode_row& r : rows) {
        decoder_bench bench(r.type);
        pulse_model_struct& m = r.type == ps ? static_cast<pulse_model_struct&>(bench.state.ps_model)
                                             : bench.state.ns_model;
        m.mode = r.mode_before;
        m.burst_enabled = 1 - r.burst;
        bench.feed(0xB4, r.gated);
        bench.feed(0xB5, r.cutted);
        bench.feed(0xA4, r.code);
        if (m.mode != r.mode_after || m.burst_enabled != r.burst)
            faults << QString("type %1 gated %2 cut %3 code %4: mode %5 burst %6, expected %7 / %8")
                          .arg(r.type).arg(r.gated).arg(r.cutted).arg(r.code).arg(m.mode)
                          .arg(m.burst_enabled).arg(r.mode_after).arg(r.burst);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // The edge cases as the panel shows them.
    decoder_bench bench(ps);
    bench.feed(0xB4, 5);
    bench.feed(0xA4, 2);
    QCOMPARE(bench.state.ps_model.mode_names[bench.state.ps_model.mode], QString("Ext: Normal"));
    bench.feed(0xB5, 5);
    bench.feed(0xA4, 2);
    QCOMPARE(bench.state.ps_model.mode_names[bench.state.ps_model.mode], QString("Ext: Burst"));
    bench.feed(0xA4, 3);
    QCOMPARE(bench.state.ps_model.mode_names[bench.state.ps_model.mode], QString("Int: Burst"));

    // A waiting mode slot is marked adopted by any mode reply; others stay.
    bench.sync[sync_slot::mode] = sync_state::waiting;
    bench.feed(0xA4, 9);
    QCOMPARE(bench.sync[sync_slot::mode], sync_state::adopted);
    bench.sync[sync_slot::mode] = sync_state::idle;
    bench.feed(0xA4, 1);
    QCOMPARE(bench.sync[sync_slot::mode], sync_state::idle);
}

void tst_protocol_decoder::type_report()
{
    using slots_t = setpoint_sync_slots;
    struct type_row
    {
        int32_t before;
        int32_t reported;
        slots_t waiting_slots;
    };
    const std::vector<type_row> rows = {
        {0, 8, {1, 0, 1, 0, 0, 0, 0, 0}},
        {0, 10, {1, 0, 1, 0, 0, 0, 0, 0}},
        {-1, 11, {1, 0, 1, 0, 0, 0, 0, 0}},
        {0, 7, {0, 1, 1, 1, 0, 1, 1, 1}},
        {0, 6, {0, 1, 1, 1, 1, 1, 1, 1}},
        {8, 13, {0, 1, 1, 1, 1, 1, 1, 1}},
        {0, 9, {0, 0, 0, 0, 0, 0, 0, 0}},
        {-1, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {7, 255, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    QStringList faults;
    for (const type_row& r : rows) {
        decoder_bench bench(r.before);
        bench.state.cw_model.temp_limits_reported = 1;
        bench.feed(0xD0, r.reported);
        if (bench.state.device_type != r.reported || !bench.state.type_changed || !bench.state.alive
            || bench.state.cw_model.temp_limits_reported != 0 || bench.sync != r.waiting_slots)
            faults << QString("%1 -> %2: type %3 changed %4 alive %5 temp limits %6 slots %7%8%9%10%11%12%13%14")
                          .arg(r.before).arg(r.reported).arg(bench.state.device_type)
                          .arg(bench.state.type_changed).arg(bench.state.alive)
                          .arg(bench.state.cw_model.temp_limits_reported)
                          .arg(bench.sync[0]).arg(bench.sync[1]).arg(bench.sync[2]).arg(bench.sync[3])
                          .arg(bench.sync[4]).arg(bench.sync[5]).arg(bench.sync[6]).arg(bench.sync[7]);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // Slots the new type does not name keep their state.
    decoder_bench bench(0);
    bench.sync[sync_slot::pulse_width] = sync_state::adopted;
    bench.sync[sync_slot::current] = sync_state::adopted;
    bench.feed(0xD0, driver_type::ps);
    QCOMPARE(bench.sync[sync_slot::pulse_width], sync_state::adopted);
    QCOMPARE(bench.sync[sync_slot::current], sync_state::adopted);
    QCOMPARE(bench.sync[sync_slot::voltage], sync_state::waiting);

    // The type is byte 7 alone.
    decoder_bench wide(0);
    wide.feed(0xD0, 0x0102030A);
    QCOMPARE(wide.state.device_type.load(), driver_type::precision_cw);
}

void tst_protocol_decoder::repeated_type_report_only_keeps_alive()
{
    decoder_bench bench(0);
    bench.feed(0xD0, driver_type::cw);
    QVERIFY(bench.state.type_changed);

    bench.sync = {};
    bench.state.type_changed = false;
    bench.state.alive = false;
    bench.state.cw_model.temp_limits_reported = 1;
    bench.feed(0xD0, driver_type::cw);
    QVERIFY(bench.state.alive);
    QVERIFY(!bench.state.type_changed);
    QCOMPARE(bench.state.cw_model.temp_limits_reported, 1);
    QCOMPARE(bench.sync, setpoint_sync_slots{});
}

void tst_protocol_decoder::unknown_type_ignores_all_but_identification()
{
    decoder_bench bench(0);
    bench.feed(0xD0, 9);
    QCOMPARE(bench.state.device_type.load(), 9);
    QVERIFY(bench.state.type_changed);
    QCOMPARE(bench.sync, setpoint_sync_slots{});

    const auto before = bench.fields();
    for (uint32_t code : {0x90u, 0x91u, 0x92u, 0x98u, 0xA3u, 0xA4u, 0xB0u, 0xB6u})
        bench.feed(code, 253);
    QCOMPARE(bench.changed_since(before), QStringList());

    bench.feed(0xD1, 17);
    QCOMPARE(bench.state.reported_can_id, 17);
    bench.feed(0xD0, driver_type::cw);
    bench.feed(0x92, 253);
    QCOMPARE(bench.state.cw_model.temperature, 25.3f);
}

void tst_protocol_decoder::cw_current_limit_scale_follows_temperature_limits()
{
    decoder_bench bench(0);
    bench.feed(0xD0, driver_type::cw);
    bench.feed(0xA5, 1500);
    QCOMPARE(bench.state.cw_model.current_max, 15.0f);
    bench.feed(0xB7, 350);
    bench.feed(0xA5, 1500);
    bench.feed(0xA6, 100);
    QCOMPARE(bench.state.cw_model.current_max, 150.0f);
    QCOMPARE(bench.state.cw_model.current_min, 10.0f);

    // A change of type forgets the temperature-limit reply.
    bench.feed(0xD0, driver_type::precision_cw);
    bench.feed(0xD0, driver_type::cw);
    bench.feed(0xA5, 1500);
    QCOMPARE(bench.state.cw_model.current_max, 15.0f);

    // Precision CW keeps its scale either way.
    decoder_bench precise(driver_type::precision_cw);
    precise.feed(0xB6, 15000);
    precise.feed(0xA5, 15000);
    QCOMPARE(precise.state.cw_model.current_max, 150.0f);
}

// Set codes, codes of another family and unknown codes leave every field alone.
void tst_protocol_decoder::ignored_frames()
{
    const int32_t value = 0x01020304;
    QStringList faults;
    const auto expect_ignored = [&](int32_t type, uint32_t code) {
        decoder_bench bench(type);
        const auto before = bench.fields();
        bench.feed(code, value);
        if (bench.fields() != before)
            faults << QString("type %1 changed on code %2").arg(type).arg(code, 2, 16);
    };

    const int32_t known[] = {8, 10, 7, 6, 13, 11};
    for (int32_t type : known) {
        for (uint32_t code = 0; code < 0x80; ++code)
            expect_ignored(type, code);
    }
    for (int32_t type : {0, -1, 9, 12, 100}) {
        for (uint32_t code = 0; code < 0x100; ++code) {
            if (code != 0xD0 && code != 0xD1)
                expect_ignored(type, code);
        }
    }
    const std::vector<std::pair<int32_t, std::vector<uint32_t>>> foreign = {
        {cw, {0x93, 0x98, 0x99, 0xA0, 0xA2, 0xA3, 0xA4, 0xB0, 0xB4, 0xB5, 0xFF}},
        {pcw, {0x98, 0x99, 0xA0, 0xA2, 0xA3, 0xA4, 0xB0, 0xB4, 0xB5}},
        {driver_type::ps, {0x90, 0x91, 0x94, 0xA3, 0xB0, 0xC0}},
        {driver_type::ns, {0x90, 0x91, 0x94, 0xB0}},
        {driver_type::soa_ns, {0x90, 0x91, 0x94, 0xB0}},
        {dcdc, {0x95, 0x96, 0x97, 0x98, 0x99, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7}},
    };
    for (const auto& [type, codes] : foreign) {
        for (uint32_t code : codes)
            expect_ignored(type, code);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

QTEST_GUILESS_MAIN(tst_protocol_decoder)
#include "tst_protocol_decoder.moc"
