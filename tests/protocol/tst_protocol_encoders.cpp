#include "protocol_fixture.h"

#include <QtTest>

#include <limits>
#include <vector>

namespace {

struct encoder_case
{
    const char* what;
    encoder_call encode;
    const char* bytes; // the eight data bytes as they must go out
};
#define E(call, bytes) {#call, ENC(call), bytes}

// Runs every case and lists each mismatch, so one run shows all faults.
QStringList mismatches(const std::vector<encoder_case>& cases, uint32_t id, const QString& tag = {})
{
    QStringList faults;
    for (const encoder_case& c : cases) {
        const sent_frame f = capture(c.encode);
        if (!f.error.isEmpty() || f.id != id || f.hex() != QLatin1String(c.bytes))
            faults << QString("%1%2: id %3 sent %4 %5, expected %6")
                          .arg(tag, c.what).arg(f.id, 3, 16).arg(f.hex(), f.error, c.bytes);
    }
    return faults;
}

// Every query carries only its code in byte 0.
std::vector<encoder_case> queries(const std::vector<encoder_call>& calls, const QStringList& codes)
{
    std::vector<encoder_case> cases;
    static QList<QByteArray> expected; // keeps the C strings alive
    for (int k = 0; k < codes.size(); ++k) {
        expected << (codes[k] + " 00 00 00 00 00 00 00").toLatin1();
        cases.push_back({"query", calls[size_t(k)], expected.last().constData()});
    }
    return cases;
}

const float nan_value = std::numeric_limits<float>::quiet_NaN();
const float inf_value = std::numeric_limits<float>::infinity();

// The layout and scaling PS and NS share.
template <typename Model> QStringList pulse_faults(Model& m, const QString& tag)
{
    QStringList faults = mismatches(
        queries({ENC(m.get_voltage(b, l)), ENC(m.get_voltage_on(b, l)), ENC(m.get_temperature(b, l)),
                 ENC(m.get_temp_max(b, l)), ENC(m.get_temp_min(b, l)), ENC(m.get_tec_on(b, l)),
                 ENC(m.get_pulsed_laser_on(b, l)), ENC(m.get_frequency(b, l)), ENC(m.get_pulse_gated(b, l)),
                 ENC(m.get_pulse_cutted(b, l)), ENC(m.get_mode(b, l)), ENC(m.get_thermistor_beta(b, l)),
                 ENC(m.get_thermistor_r25(b, l)), ENC(m.get_monitor_responsivity(b, l)),
                 ENC(m.get_voltage_max(b, l)), ENC(m.get_voltage_min(b, l)), ENC(m.get_max_tec_current(b, l))},
                {"98", "A0", "92", "B7", "B6", "A1", "A2", "99", "B4", "B5", "A4", "95", "96", "97", "A5", "A6", "B3"}),
        0xAB, tag);
    faults << mismatches({
        E(m.set_voltage(0.25f, b, l), "18 00 00 00 00 00 00 03"), // half away from zero
        E(m.set_voltage(-0.25f, b, l), "18 00 00 00 00 00 FF FD"),
        E(m.set_voltage(6553.5f, b, l), "18 00 00 00 00 00 FF FF"),
        E(m.set_voltage(6553.6f, b, l), "18 00 00 00 00 00 00 00"), // low 16 bits
        E(m.set_voltage(100.05f, b, l), "18 00 00 00 00 00 03 E9"),
        E(m.set_voltage_on(1, b, l), "20 00 00 00 00 00 00 01"),
        E(m.set_temp_max(35.0f, b, l), "37 00 00 00 00 00 01 5E"),
        E(m.set_temp_max(0.05f, b, l), "37 00 00 00 00 00 00 01"),
        E(m.set_temp_min(-5.0f, b, l), "36 00 00 00 00 00 FF CE"),
        E(m.set_temp_min(7000.0f, b, l), "36 00 00 00 00 00 11 70"),
        E(m.set_tec_on(1, b, l), "21 00 00 00 00 00 00 01"),
        E(m.set_pulsed_laser_on(1, b, l), "22 00 00 00 00 00 00 01"),
        E(m.set_frequency(50000.0f, b, l), "19 00 00 00 00 00 C3 50"),
        E(m.set_frequency(1.9f, b, l), "19 00 00 00 00 00 00 01"), // truncates
        E(m.set_frequency(70000.0f, b, l), "19 00 00 00 00 00 11 70"),
        E(m.set_pulse_gated(-2, b, l), "34 00 00 00 00 00 FF FE"),
        E(m.set_pulse_cutted(300, b, l), "35 00 00 00 00 00 01 2C"),
        E(m.set_mode(3, b, l), "24 00 00 00 00 00 00 03"),
        E(m.set_mode(-1, b, l), "24 00 00 00 00 00 00 FF"), // byte 7 only
        E(m.set_thermistor_beta(3950.0f, b, l), "15 00 00 00 00 00 0F 6E"),
        E(m.set_thermistor_r25(100000.0f, b, l), "16 00 00 00 00 00 86 A0"),
        E(m.set_monitor_responsivity(0.35f, b, l), "17 00 00 00 00 00 00 22"), // truncates
        E(m.set_monitor_responsivity(-0.35f, b, l), "17 00 00 00 00 00 FF DE"),
        E(m.set_voltage_max(1000.0f, b, l), "25 00 00 00 00 00 27 10"),
        E(m.set_voltage_min(-1.0f, b, l), "26 00 00 00 00 00 FF F6"),
        E(m.set_max_tec_current(1.25f, b, l), "33 00 00 00 00 00 00 0D"),
        E(m.set_max_tec_current(-1.25f, b, l), "33 00 00 00 00 00 FF F3"),
        E(m.set_temperature(-5.0f, b, l), "12 00 00 00 00 00 FF CE"),
        E(m.set_temperature(7000.0f, b, l), "12 00 00 00 00 00 11 70"),
    }, 0xAB, tag);
    return faults;
}

} // namespace

class tst_protocol_encoders : public QObject
{
    Q_OBJECT

private slots:
    void cw_record();
    void pulse_records();
    void dcdc_record();
    void inputs_without_a_value_send_zero();
    void whole_lines_and_can_id();
};

void tst_protocol_encoders::cw_record()
{
    cw_model_struct m;
    m.can_id = 5;
    QStringList faults = mismatches(
        queries({ENC(m.get_device_type(b, l)), ENC(m.get_can_id(b, l)), ENC(m.get_laser_on(b, l)),
                 ENC(m.get_current(b, l)), ENC(m.get_temperature(b, l)), ENC(m.get_power(b, l)),
                 ENC(m.get_tec_on(b, l)), ENC(m.get_thermistor_beta(b, l)), ENC(m.get_thermistor_r25(b, l)),
                 ENC(m.get_monitor_responsivity(b, l)), ENC(m.get_current_max(b, l)),
                 ENC(m.get_current_min(b, l)), ENC(m.get_temp_max(b, l)), ENC(m.get_temp_min(b, l)),
                 ENC(m.get_max_tec_current(b, l))},
                {"D0", "D1", "90", "91", "92", "94", "A1", "95", "96", "97", "A5", "A6", "B7", "B6", "B3"}),
        5);
    faults << mismatches({
        E(m.set_can_id(int8_t(300 & 0xFF), b, l), "51 00 00 00 00 00 00 2C"), // 300 -> 44
        E(m.set_laser_on(1, b, l), "10 00 00 00 00 00 00 01"),
        E(m.set_laser_on(-1, b, l), "10 00 00 00 00 00 00 FF"), // byte 7 only
        E(m.set_current(123.45f, b, l), "11 00 00 00 00 00 04 D2"),
        E(m.set_current(1.25f, b, l), "11 00 00 00 00 00 00 0D"), // half away from zero
        E(m.set_current(-1.25f, b, l), "11 00 00 00 00 00 FF F3"),
        E(m.set_current(6553.5f, b, l), "11 00 00 00 00 00 FF FF"),
        E(m.set_current(7000.0f, b, l), "11 00 00 00 00 00 11 70"), // low 16 bits
        E(m.set_current_precision(123.45f, b, l), "11 00 00 00 00 00 30 39"),
        E(m.set_current_precision(1e9f, b, l), "11 00 00 00 48 76 E8 00"), // 32 bits
        E(m.set_current_precision(-1.0f, b, l), "11 00 00 00 FF FF FF 9C"),
        E(m.set_temperature(25.3f, b, l), "12 00 00 00 00 00 00 FC"), // CW truncates
        E(m.set_temperature(-5.0f, b, l), "12 00 00 00 00 00 FF CE"),
        E(m.set_temperature(-0.05f, b, l), "12 00 00 00 00 00 00 00"),
        E(m.set_temperature_precision(25.3f, b, l), "12 00 00 00 00 03 DC 48"),
        E(m.set_temperature_precision(-5.0f, b, l), "12 00 00 00 FF FF 3C B0"),
        E(m.set_tec_on(1, b, l), "21 00 00 00 00 00 00 01"),
        E(m.set_thermistor_beta(70000.0f, b, l), "15 00 00 00 00 00 11 70"),
        E(m.set_thermistor_r25(100000.0f, b, l), "16 00 00 00 00 00 86 A0"),
        E(m.set_monitor_responsivity(0.35f, b, l), "17 00 00 00 00 00 00 22"),
        E(m.set_monitor_responsivity(4.35f, b, l), "17 00 00 00 00 00 01 B2"),
        E(m.set_temp_max(35.0f, b, l), "37 00 00 00 00 00 01 5E"),
        E(m.set_temp_max(35.0f * 100, b, l), "37 00 00 00 00 00 88 B8"), // Precision CW, entered x100
        E(m.set_temp_max(6553.6f, b, l), "37 00 00 00 00 00 00 00"),
        E(m.set_temp_min(-5.0f, b, l), "36 00 00 00 00 00 FF CE"),
        E(m.set_max_tec_current(0.15f, b, l), "33 00 00 00 00 00 00 02"),
        // The parameters window hands w after a temperature-limit reply, w x 10
        // before it; the encoder adds the factor 10 either way.
        E(m.set_current_max(150.0f, b, l), "25 00 00 00 00 00 05 DC"),
        E(m.set_current_max(150.0f * 10, b, l), "25 00 00 00 00 00 3A 98"),
        E(m.set_current_min(150.0f, b, l), "26 00 00 00 00 00 05 DC"),
        E(m.set_current_min(1500.0f, b, l), "26 00 00 00 00 00 3A 98"),
        E(m.set_current_max(7000.05f, b, l), "25 00 00 00 00 01 11 70"),
        E(m.set_current_max(-0.05f, b, l), "25 00 00 00 FF FF FF FF"),
    }, 5);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::pulse_records()
{
    ps_model_struct ps;
    ps.can_id = 0xAB;
    ns_model_struct ns;
    ns.can_id = 0xAB;
    QStringList faults = pulse_faults(ps, "PS ") + pulse_faults(ns, "NS ");
    faults << mismatches({
        E(ps.set_temperature(25.3f, b, l), "12 00 00 00 00 00 00 FC"), // PS truncates
        E(ns.set_temperature(25.3f, b, l), "12 00 00 00 00 00 00 FD"), // NS rounds
        E(ps.set_temperature(-0.05f, b, l), "12 00 00 00 00 00 00 00"),
        E(ns.set_temperature(-0.05f, b, l), "12 00 00 00 00 00 FF FF"),
        E(ns.get_pulse_width(b, l), "A3 00 00 00 00 00 00 00"),
        E(ns.set_pulse_width(0.25f, b, l), "23 00 00 00 00 00 00 03"),
        E(ns.set_pulse_width(-0.25f, b, l), "23 00 00 00 00 00 FF FD"),
        E(ns.set_pulse_width(7000.0f, b, l), "23 00 00 00 00 00 11 70"),
    }, 0xAB);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::dcdc_record()
{
    dcdc_model_struct m;
    m.can_id = 0x7F;
    QStringList faults = mismatches(
        queries({ENC(m.get_output_on(b, l)), ENC(m.get_current(b, l)), ENC(m.get_temperature(b, l)),
                 ENC(m.get_input_voltage(b, l)), ENC(m.get_output_voltage(b, l)), ENC(m.get_fault_flags(b, l)),
                 ENC(m.clear_errors(b, l))},
                {"90", "91", "92", "94", "A6", "B0", "29"}),
        0x7F);
    faults << mismatches({
        E(m.set_output_on(258, b, l), "10 00 00 00 00 00 01 02"), // 16 bits
        E(m.set_output_on(-1, b, l), "10 00 00 00 00 00 FF FF"),
        E(m.set_current(12.34f, b, l), "11 00 00 00 00 00 04 D2"),
        // Float products would be 100.5 and 267.5; the double product is below the half.
        E(m.set_current(1.005f, b, l), "11 00 00 00 00 00 00 64"),
        E(m.set_current(2.675f, b, l), "11 00 00 00 00 00 01 0B"),
        E(m.set_current(-1.0f, b, l), "11 00 00 00 00 00 FF 9C"),
        E(m.set_current(700.0f, b, l), "11 00 00 00 00 00 11 70"),
    }, 0x7F);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// NaN, infinities and products beyond the 64-bit range carry no value; they
// go out as 0 rather than as a wrapped or full-scale number.
void tst_protocol_encoders::inputs_without_a_value_send_zero()
{
    cw_model_struct cw;
    ns_model_struct ns;
    dcdc_model_struct dcdc;
    const QStringList faults = mismatches({
        E(cw.set_current(nan_value, b, l), "11 00 00 00 00 00 00 00"),
        E(cw.set_current(inf_value, b, l), "11 00 00 00 00 00 00 00"),
        E(cw.set_current_precision(-inf_value, b, l), "11 00 00 00 00 00 00 00"),
        E(cw.set_current_max(std::numeric_limits<float>::max(), b, l), "25 00 00 00 00 00 00 00"),
        E(cw.set_temperature(-1e30f, b, l), "12 00 00 00 00 00 00 00"),
        E(ns.set_voltage(1e19f, b, l), "18 00 00 00 00 00 00 00"),
        E(ns.set_frequency(nan_value, b, l), "19 00 00 00 00 00 00 00"),
        E(dcdc.set_current(inf_value, b, l), "11 00 00 00 00 00 00 00"),
        // Still inside the 64-bit range: only the low bits go out.
        E(ns.set_voltage(-1e6f, b, l), "18 00 00 00 00 00 69 80"),
        E(cw.set_current_precision(5e7f, b, l), "11 00 00 00 2A 05 F2 00"),
    }, 0);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::whole_lines_and_can_id()
{
    driver_state s;
    s.set_can_id(5);
    QCOMPARE(capture(ENC(s.cw_model.set_temperature(25.3f, b, l))).line, QByteArray("t005812000000000000FC\r"));
    QCOMPARE(capture(ENC(s.cw_model.set_current_precision(123.45f, b, l))).line, QByteArray("t00581100000000003039\r"));
    s.set_can_id(255);
    QCOMPARE(capture(ENC(s.ps_model.set_frequency(50000.0f, b, l))).line, QByteArray("t0FF8190000000000C350\r"));
    s.set_can_id(0x1ABC); // bits above the 11-bit identifier are dropped
    QCOMPARE(capture(ENC(s.ns_model.set_temperature(-5.0f, b, l))).line, QByteArray("tABC8120000000000FFCE\r"));
    QCOMPARE(capture(ENC(s.dcdc_model.get_fault_flags(b, l))).line, QByteArray("tABC8B000000000000000\r"));
    QCOMPARE(capture(ENC(s.cw_model.get_device_type(b, l))).id, 0xABCu);
    QCOMPARE(capture(ENC(s.ps_model.get_mode(b, l))).id, 0xABCu);
}

QTEST_GUILESS_MAIN(tst_protocol_encoders)
#include "tst_protocol_encoders.moc"
