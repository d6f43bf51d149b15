#include "driver_type.h"
#include "protocol_fixture.h"

#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

constexpr int32_t cw = driver_type::cw;
constexpr int32_t pcw = driver_type::precision_cw;
constexpr int32_t dcdc = driver_type::power_dcdc;
constexpr int32_t ps = driver_type::ps;
constexpr int32_t ns = driver_type::ns;
constexpr int32_t soa = driver_type::soa_ns;

using state_reader = std::function<double(decoder_bench&)>;

// After `code` with `value` reaches a board of `type`, `field` holds exactly
// `expected`. "pulse." fields are the PS or NS record, as the type says.
struct reply_row
{
    int32_t type;
    uint32_t code;
    int32_t value;
    const char* field;
    state_reader read;
    double expected;
};

#define CW(name) "cw_model." #name, [](decoder_bench& d) { return double(d.state.cw_model.name); }
#define PULSE(name)                                                                                \
    "pulse." #name, [](decoder_bench& d) {                                                         \
        return d.state.device_type == ps ? double(d.state.ps_model.name) : double(d.state.ns_model.name); \
    }
#define NS(name) "ns_model." #name, [](decoder_bench& d) { return double(d.state.ns_model.name); }
#define DCDC(name) "dcdc_model." #name, [](decoder_bench& d) { return double(d.state.dcdc_model.name); }

QString field_name(const reply_row& r)
{
    return QString(r.field).replace("pulse.", r.type == ps ? "ps_model." : "ns_model.");
}

// Besides the expected value, a reply may change only the fields its own rows
// name for that type: nothing else, in no other record.
QStringList failed_rows(const std::vector<reply_row>& rows)
{
    QStringList faults;
    for (const reply_row& r : rows) {
        decoder_bench bench(r.type);
        const auto before = bench.fields();
        bench.feed(r.code, r.value);
        const double got = r.read(bench);
        if (got != r.expected)
            faults << QString("type %1 code %2 value %3: %4 = %5, expected %6").arg(r.type).arg(r.code, 2, 16)
                          .arg(r.value).arg(field_name(r)).arg(got, 0, 'g', 9).arg(r.expected, 0, 'g', 9);
        for (const QString& name : bench.changed_since(before)) {
            if (std::none_of(rows.begin(), rows.end(), [&](const reply_row& o) {
                    return o.type == r.type && o.code == r.code && name == field_name(o);
                }))
                faults << QString("type %1 code %2 also changed %3").arg(r.type).arg(r.code, 2, 16).arg(name);
        }
    }
    return faults;
}

} // namespace

class tst_protocol_decoder : public QObject
{
    Q_OBJECT

private slots:
    void reply_rows();
    void adoption_rules();
    void voltage_held_at_zero_while_laser_off();
    void mode_rules();
    void type_report();
    void unknown_type_ignores_all_but_identification();
    void cw_current_limit_scale_follows_temperature_limits();
    void ignored_frames();
    void record_tables();
};

void tst_protocol_decoder::reply_rows()
{
    std::vector<reply_row> rows = {
        {cw, 0x90, 1, CW(laser_on), 1}, {cw, 0x91, 123456, CW(current), 12345.6f},
        {cw, 0x91, -50, CW(current), -5.0f}, {cw, 0x92, 253, CW(temperature), 25.3f},
        {cw, 0x92, -50, CW(temperature), -5.0f}, {cw, 0x94, 1234, CW(power), 123.4f},
        {cw, 0x95, -1, CW(thermistor_beta), -1}, {cw, 0x96, 100000, CW(thermistor_r25), 100000},
        {cw, 0x97, 35, CW(monitor_responsivity), 0.35f}, {cw, 0xA1, 1, CW(tec_on), 1},
        {cw, 0xA5, 1500, CW(current_max), 15.0f}, {cw, 0xA6, 1500, CW(current_min), 15.0f},
        {cw, 0xB3, 15, CW(max_tec_current), 1.5f}, {cw, 0xB6, 150, CW(temp_min), 15.0f},
        {cw, 0xB6, 150, CW(temp_limits_reported), 1}, {cw, 0xB7, 355, CW(temp_max), 35.5f},
        {cw, 0xB7, 355, CW(temp_limits_reported), 1},

        {pcw, 0x90, 1, CW(laser_on), 1}, {pcw, 0x91, 123456, CW(current), 12.3456f},
        {pcw, 0x92, 253, CW(temperature), 0.0253f}, {pcw, 0x92, -50, CW(temperature), -0.005f},
        {pcw, 0x94, 1234, CW(power), 123.4f}, {pcw, 0x95, 3950, CW(thermistor_beta), 3950},
        {pcw, 0x96, 10000, CW(thermistor_r25), 10000}, {pcw, 0x97, 35, CW(monitor_responsivity), 0.35f},
        {pcw, 0xA1, 1, CW(tec_on), 1}, {pcw, 0xA5, 15000, CW(current_max), 150.0f},
        {pcw, 0xA6, 1500, CW(current_min), 15.0f}, {pcw, 0xB3, 15, CW(max_tec_current), 1.5f},
        {pcw, 0xB6, 15000, CW(temp_min), 15.0f}, {pcw, 0xB6, 15000, CW(temp_limits_reported), 1},
        {pcw, 0xB7, 35500, CW(temp_max), 35.5f}, {pcw, 0xB7, 35500, CW(temp_limits_reported), 1},

        {dcdc, 0x90, 1, DCDC(output_on), 1}, {dcdc, 0x91, 123456, DCDC(current), 1234.56f},
        {dcdc, 0x91, -50, DCDC(current), -0.5f}, {dcdc, 0x92, 253, DCDC(temperature), 25.3f},
        {dcdc, 0x94, 245, DCDC(input_voltage), 24.5f}, {dcdc, 0xA6, 240, DCDC(output_voltage), 24.0f},
        {dcdc, 0xB0, 0xFF, DCDC(fault_flags), 0xFF},
        // Flags and small numbers are byte 7 alone.
        {cw, 0x90, 0x0100, CW(laser_on), 0}, {cw, 0x90, 0x0180, CW(laser_on), 1},
        {cw, 0xD1, 0x1234, "reported_can_id", [](decoder_bench& d) { return double(d.state.reported_can_id); }, 0x34},
        {dcdc, 0xB0, 0x1234, DCDC(fault_flags), 0x34},
    };
    for (int32_t t : {ps, ns, soa}) {
        rows.insert(rows.end(), std::initializer_list<reply_row>{
            {t, 0x92, 253, PULSE(temperature), 25.3f}, {t, 0x92, -50, PULSE(temperature), -5.0f},
            {t, 0x95, 3950, PULSE(thermistor_beta), 3950}, {t, 0x96, 100000, PULSE(thermistor_r25), 100000},
            {t, 0x97, 35, PULSE(monitor_responsivity), 0.35f},
            {t, 0x98, 123, PULSE(voltage), 0.0f}, // laser off
            {t, 0x99, 50000, PULSE(frequency), 50000}, {t, 0xA0, 1, PULSE(voltage_on), 1},
            {t, 0xA1, 1, PULSE(tec_on), 1}, {t, 0xA2, 1, PULSE(laser_on), 1},
            {t, 0xA5, 10000, PULSE(voltage_max), 1000.0f}, {t, 0xA6, 5, PULSE(voltage_min), 0.5f},
            {t, 0xB3, 15, PULSE(max_tec_current), 1.5f}, {t, 0xB4, -3, PULSE(pulse_gated), -3},
            {t, 0xB5, 7, PULSE(pulse_cutted), 7}, {t, 0xB6, 150, PULSE(temp_min), 15.0f},
            {t, 0xB7, 355, PULSE(temp_max), 35.5f}, {t, 0xB7, 355, CW(temp_limits_reported), 0},
        });
        if (t != ps)
            rows.insert(rows.end(), std::initializer_list<reply_row>{{t, 0xA3, 25, NS(pulse_width), 2.5f}, {t, 0xA3, 10000, NS(pulse_width), 1000.0f}});
    }
    const QStringList faults = failed_rows(rows);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// A slot at 1 takes the reading into the _set field and becomes 2; at 0 or 2
// the reading updates only the reading field.
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
        {cw, 0x91, 1234, sync_slot::current, CW(current_set), 123.4f},
        {cw, 0x92, 253, sync_slot::temperature, CW(temp_set), 25.3f},
        {pcw, 0x91, 123456, sync_slot::current, CW(current_set), 12.3456f},
        {pcw, 0x92, 253000, sync_slot::temperature, CW(temp_set), 25.3f},
        {dcdc, 0x91, 1234, sync_slot::current, DCDC(current_set), 12.34f},
        {ps, 0x92, -50, sync_slot::temperature, PULSE(temp_set), -5.0f},
        {ps, 0x98, 123, sync_slot::voltage, PULSE(voltage_set), 12.3f},
        {ps, 0x99, 500, sync_slot::rate, PULSE(frequency_set), 500},
        {ps, 0xB4, 5, sync_slot::gated, PULSE(pulse_gated_set), 5},
        {ps, 0xB5, 6, sync_slot::cutted, PULSE(pulse_cutted_set), 6},
        {ns, 0x92, 253, sync_slot::temperature, PULSE(temp_set), 25.3f},
        {ns, 0x98, 123, sync_slot::voltage, PULSE(voltage_set), 12.3f},
        {ns, 0x99, 500, sync_slot::rate, PULSE(frequency_set), 500},
        {soa, 0xA3, 25, sync_slot::pulse_width, NS(pulse_width_set), 2.5f},
        {soa, 0xB4, 5, sync_slot::gated, PULSE(pulse_gated_set), 5},
        {soa, 0xB5, 6, sync_slot::cutted, PULSE(pulse_cutted_set), 6},
    };
    QStringList faults;
    for (const adoption_row& r : rows) {
        for (int32_t before : {sync_state::idle, sync_state::waiting, sync_state::adopted}) {
            decoder_bench bench(r.type);
            bench.sync[size_t(r.slot)] = before;
            const double untouched = r.read_set(bench);
            bench.feed(r.code, r.value);
            const bool adopts = before == sync_state::waiting;
            const double want = adopts ? r.adopted : untouched;
            const int32_t want_slot = adopts ? sync_state::adopted : before;
            if (r.read_set(bench) != want || bench.sync[size_t(r.slot)] != want_slot)
                faults << QString("type %1 code %2 from %3: %4 = %5 (want %6), slot %7 (want %8)").arg(r.type)
                              .arg(r.code, 2, 16).arg(before).arg(r.field).arg(r.read_set(bench)).arg(want)
                              .arg(bench.sync[size_t(r.slot)]).arg(want_slot);
        }
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // A Power DCDC temperature is never adopted.
    decoder_bench dcdc_bench(dcdc);
    dcdc_bench.sync[sync_slot::temperature] = sync_state::waiting;
    dcdc_bench.feed(0x92, 253);
    QCOMPARE(dcdc_bench.sync[sync_slot::temperature], sync_state::waiting);

    // Adopting the gated setting also hands the mode to the editor.
    for (int32_t type : {ps, ns}) {
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
    for (int32_t type : {ps, ns}) {
        decoder_bench bench(type);
        bench.sync[sync_slot::voltage] = sync_state::waiting;
        bench.feed(0x98, 123);
        QCOMPARE(bench.pulse().voltage, 0.0f);
        QCOMPARE(bench.pulse().voltage_set, 12.3f);
        bench.feed(0xA2, 1);
        bench.feed(0x98, 456);
        QCOMPARE(bench.pulse().voltage, 45.6f);
        QCOMPARE(bench.pulse().voltage_set, 12.3f);
    }
}

void tst_protocol_decoder::mode_rules()
{
    // type, gated, cutted, mode code, mode before, mode after, burst
    const std::vector<std::array<int32_t, 7>> rows = {
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
    for (const auto& r : rows) {
        decoder_bench bench(r[0]);
        pulse_model_struct& m = bench.pulse();
        m.mode = r[4];
        m.burst_enabled = 1 - r[6];
        bench.feed(0xB4, r[1]);
        bench.feed(0xB5, r[2]);
        bench.feed(0xA4, r[3]);
        if (m.mode != r[5] || m.burst_enabled != r[6])
            faults << QString("type %1 gated %2 cut %3 code %4: mode %5 burst %6").arg(r[0]).arg(r[1]).arg(r[2])
                          .arg(r[3]).arg(m.mode).arg(m.burst_enabled);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // A waiting mode slot is marked adopted by any mode reply; others stay.
    decoder_bench bench(ps);
    bench.sync[sync_slot::mode] = sync_state::waiting;
    bench.feed(0xA4, 9);
    QCOMPARE(bench.sync[sync_slot::mode], sync_state::adopted);
    bench.sync[sync_slot::mode] = sync_state::idle;
    bench.feed(0xA4, 1);
    QCOMPARE(bench.sync[sync_slot::mode], sync_state::idle);
}

void tst_protocol_decoder::type_report()
{
    struct type_row
    {
        int32_t before;
        int32_t reported;
        setpoint_sync_slots waiting_slots;
    };
    const std::vector<type_row> rows = {
        {0, 8, {1, 0, 1, 0, 0, 0, 0, 0}},   {0, 10, {1, 0, 1, 0, 0, 0, 0, 0}},
        {-1, 11, {1, 0, 1, 0, 0, 0, 0, 0}}, {0, 7, {0, 1, 1, 1, 0, 1, 1, 1}},
        {0, 6, {0, 1, 1, 1, 1, 1, 1, 1}},   {8, 13, {0, 1, 1, 1, 1, 1, 1, 1}},
        {0, 9, {0, 0, 0, 0, 0, 0, 0, 0}},   {-1, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {7, 255, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const type_row& r : rows) {
        decoder_bench bench(r.before);
        bench.state.cw_model.temp_limits_reported = 1;
        bench.feed(0xD0, r.reported);
        QCOMPARE(bench.state.device_type.load(), r.reported);
        QVERIFY(bench.state.type_changed && bench.state.alive);
        QCOMPARE(bench.state.cw_model.temp_limits_reported, 0);
        QCOMPARE(bench.sync, r.waiting_slots);
    }

    // Slots the new type does not name keep their state.
    decoder_bench bench(0);
    bench.sync[sync_slot::pulse_width] = sync_state::adopted;
    bench.feed(0xD0, ps);
    QCOMPARE(bench.sync[sync_slot::pulse_width], sync_state::adopted);
    QCOMPARE(bench.sync[sync_slot::voltage], sync_state::waiting);

    // A repeated report only keeps the board alive.
    bench.sync = {};
    bench.state.type_changed = false;
    bench.state.alive = false;
    bench.feed(0xD0, ps);
    QVERIFY(bench.state.alive && !bench.state.type_changed);
    QCOMPARE(bench.sync, setpoint_sync_slots{});

    // The type is byte 7 alone.
    bench.feed(0xD0, 0x0102030A);
    QCOMPARE(bench.state.device_type.load(), pcw);
}

void tst_protocol_decoder::unknown_type_ignores_all_but_identification()
{
    decoder_bench bench(0);
    bench.feed(0xD0, 9);
    QCOMPARE(bench.state.device_type.load(), 9);
    QCOMPARE(bench.sync, setpoint_sync_slots{});
    const auto before = bench.fields();
    for (uint32_t code : {0x90u, 0x91u, 0x92u, 0x98u, 0xA3u, 0xA4u, 0xB0u, 0xB6u})
        bench.feed(code, 253);
    QCOMPARE(bench.changed_since(before), QStringList());
    bench.feed(0xD1, 17);
    QCOMPARE(bench.state.reported_can_id, 17);
    bench.feed(0xD0, cw);
    bench.feed(0x92, 253);
    QCOMPARE(bench.state.cw_model.temperature, 25.3f);
}

void tst_protocol_decoder::cw_current_limit_scale_follows_temperature_limits()
{
    decoder_bench bench(0);
    bench.feed(0xD0, cw);
    bench.feed(0xA5, 1500);
    QCOMPARE(bench.state.cw_model.current_max, 15.0f);
    bench.feed(0xB7, 350);
    bench.feed(0xA5, 1500);
    QCOMPARE(bench.state.cw_model.current_max, 150.0f);
    // A change of type forgets the temperature-limit reply.
    bench.feed(0xD0, pcw);
    bench.feed(0xD0, cw);
    bench.feed(0xA5, 1500);
    QCOMPARE(bench.state.cw_model.current_max, 15.0f);
}

// Set codes, codes of another family and unknown codes leave every field alone.
void tst_protocol_decoder::ignored_frames()
{
    QStringList faults;
    const auto expect_ignored = [&](int32_t type, uint32_t code) {
        decoder_bench bench(type);
        const auto before = bench.fields();
        bench.feed(code, 0x01020304);
        if (bench.fields() != before)
            faults << QString("type %1 changed on code %2").arg(type).arg(code, 2, 16);
    };
    for (int32_t type : {cw, pcw, ps, ns, soa, dcdc})
        for (uint32_t code = 0; code < 0x80; ++code)
            expect_ignored(type, code);
    for (int32_t type : {0, -1, 9, 12, 100})
        for (uint32_t code = 0; code < 0x100; ++code)
            if (code != 0xD0 && code != 0xD1)
                expect_ignored(type, code);
    const std::vector<std::pair<int32_t, std::vector<uint32_t>>> foreign = {
        {cw, {0x93, 0x98, 0x99, 0xA0, 0xA2, 0xA3, 0xA4, 0xB0, 0xB4, 0xB5, 0xFF}},
        {pcw, {0x98, 0x99, 0xA0, 0xA2, 0xA3, 0xA4, 0xB0, 0xB4, 0xB5}}, {ps, {0x90, 0x91, 0x94, 0xA3, 0xB0, 0xC0}},
        {ns, {0x90, 0x91, 0x94, 0xB0}}, {soa, {0x90, 0x91, 0x94, 0xB0}},
        {dcdc, {0x95, 0x96, 0x97, 0x98, 0x99, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7}},
    };
    for (const auto& [type, codes] : foreign)
        for (uint32_t code : codes)
            expect_ignored(type, code);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// The fixed tables the panels show: type names, rate list, mode names, DCDC flags.
void tst_protocol_decoder::record_tables()
{
    const std::vector<std::tuple<int32_t, const char*, bool, bool>> types = {
        {6, "NS Type", false, true},         {7, "PS Type", false, false},  {8, "CW Type", true, false},
        {10, "Precision CW Type", true, false}, {11, "Power DCDC Type", false, false},
        {13, "SOA NS Type", false, true},    {0, "", false, false},         {-1, "", false, false},
        {9, "", false, false},               {12, "", false, false},
    };
    for (const auto& [code, name, cw_family, ns_family] : types) {
        QCOMPARE(driver_type::name(code), QString(name));
        QCOMPARE(driver_type::is_cw_family(code), cw_family);
        QCOMPARE(driver_type::is_ns_family(code), ns_family);
        QCOMPARE(driver_type::is_known(code), *name != '\0');
    }

    const std::vector<int32_t> rates = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100,
                                        200, 300, 400, 500, 600, 700, 800, 900, 1000, 2000, 3000, 4000, 5000,
                                        6000, 7000, 8000, 9000, 10000, 11000, 12500, 16000, 20000, 25000, 50000, -1};
    const QStringList names = {"Int: Normal", "Int: Burst", "Ext: Normal", "Ext: Burst", "Pulse on Demand"};
    const ps_model_struct ps_rec;
    const ns_model_struct ns_rec;
    for (const pulse_model_struct* p : {static_cast<const pulse_model_struct*>(&ps_rec),
                                        static_cast<const pulse_model_struct*>(&ns_rec)}) {
        QCOMPARE(std::vector<int32_t>(p->frequency_list, p->frequency_list + rates.size()), rates);
        for (int k = 0; k < names.size(); ++k)
            QCOMPARE(p->mode_names[k], names[k]);
    }

    const dcdc_model_struct d;
    const std::vector<std::pair<uint16_t, QString>> flags = {
        {0x0000, ""},
        {0x0005, "flag_NO_Load\nflag_Overtemp\n"},
        {0x00FA, "flag_ALARM_INTERLOCK\nflag_OverCurrent\nflag_UnderVoltage_IN\n"
                 "flag_OverVoltage_IN\nflag_UnderVoltage_OUT\nflag_OverVoltage_OUT\n"},
        {0x0100, "Output voltage is higher than 80% of input voltage, \nSOLUTION: increase the input voltage\n"},
        {0x0201, "flag_NO_Load\nOutput power is close to MAX\n"},
        {0xFC04, "flag_Overtemp\n"},
    };
    for (const auto& [bits, text] : flags)
        QCOMPARE(d.dcdc_flag_text(bits), text);
}

QTEST_GUILESS_MAIN(tst_protocol_decoder)
#include "tst_protocol_decoder.moc"
