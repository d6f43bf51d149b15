#include "cw_model_struct.h"
#include "dcdc_model_struct.h"
#include "driver_state.h"
#include "ns_model_struct.h"
#include "ps_model_struct.h"
#include "sent_frame.h"

#include <QStringList>
#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

struct encoder_case
{
    const char* what;
    encoder_call encode;
    const char* bytes; // the eight data bytes as they must go out
};

// Runs every case and lists each mismatch, so one run shows all faults.
QStringList mismatches(const std::vector<encoder_case>& cases, uint32_t expected_id)
{
    QStringList faults;
    for (const encoder_case& c : cases) {
        const sent_frame f = capture(c.encode);
        if (!f.error.isEmpty())
            faults << QString("%1: %2").arg(c.what, f.error);
        else if (f.id != expected_id)
            faults << QString("%1: id %2").arg(c.what).arg(f.id, 3, 16);
        else if (f.hex() != QLatin1String(c.bytes))
            faults << QString("%1: sent %2, expected %3").arg(c.what, f.hex(), c.bytes);
    }
    return faults;
}

constexpr float nan_value = std::numeric_limits<float>::quiet_NaN();
constexpr float inf_value = std::numeric_limits<float>::infinity();

// The byte-layout and scaling cases that PS and NS share; run on both records.
template <typename Model>
std::vector<encoder_case> shared_pulse_cases(const Model& m)
{
    return {
        {"get_voltage", [&](char* b, uint32_t* l) { m.get_voltage(b, l); }, "98 00 00 00 00 00 00 00"},
        {"set_voltage 0.25 (half away from zero)", [&](char* b, uint32_t* l) { m.set_voltage(0.25f, b, l); }, "18 00 00 00 00 00 00 03"},
        {"set_voltage -0.25", [&](char* b, uint32_t* l) { m.set_voltage(-0.25f, b, l); }, "18 00 00 00 00 00 FF FD"},
        {"set_voltage 6553.5 (top of 16 bits)", [&](char* b, uint32_t* l) { m.set_voltage(6553.5f, b, l); }, "18 00 00 00 00 00 FF FF"},
        {"set_voltage 6553.6 (wraps)", [&](char* b, uint32_t* l) { m.set_voltage(6553.6f, b, l); }, "18 00 00 00 00 00 00 00"},
        {"set_voltage 100.05", [&](char* b, uint32_t* l) { m.set_voltage(100.05f, b, l); }, "18 00 00 00 00 00 03 E9"},
        {"get_voltage_on", [&](char* b, uint32_t* l) { m.get_voltage_on(b, l); }, "A0 00 00 00 00 00 00 00"},
        {"set_voltage_on 1", [&](char* b, uint32_t* l) { m.set_voltage_on(1, b, l); }, "20 00 00 00 00 00 00 01"},
        {"get_temperature", [&](char* b, uint32_t* l) { m.get_temperature(b, l); }, "92 00 00 00 00 00 00 00"},
        {"get_temp_max", [&](char* b, uint32_t* l) { m.get_temp_max(b, l); }, "B7 00 00 00 00 00 00 00"},
        {"set_temp_max 35.0", [&](char* b, uint32_t* l) { m.set_temp_max(35.0f, b, l); }, "37 00 00 00 00 00 01 5E"},
        {"set_temp_max 0.05 rounds up", [&](char* b, uint32_t* l) { m.set_temp_max(0.05f, b, l); }, "37 00 00 00 00 00 00 01"},
        {"set_temp_max -5.0", [&](char* b, uint32_t* l) { m.set_temp_max(-5.0f, b, l); }, "37 00 00 00 00 00 FF CE"},
        {"get_temp_min", [&](char* b, uint32_t* l) { m.get_temp_min(b, l); }, "B6 00 00 00 00 00 00 00"},
        {"set_temp_min -5.0", [&](char* b, uint32_t* l) { m.set_temp_min(-5.0f, b, l); }, "36 00 00 00 00 00 FF CE"},
        {"set_temp_min 7000.0 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_temp_min(7000.0f, b, l); }, "36 00 00 00 00 00 11 70"},
        {"get_tec_on", [&](char* b, uint32_t* l) { m.get_tec_on(b, l); }, "A1 00 00 00 00 00 00 00"},
        {"set_tec_on 0", [&](char* b, uint32_t* l) { m.set_tec_on(0, b, l); }, "21 00 00 00 00 00 00 00"},
        {"set_tec_on 1", [&](char* b, uint32_t* l) { m.set_tec_on(1, b, l); }, "21 00 00 00 00 00 00 01"},
        {"get_pulsed_laser_on", [&](char* b, uint32_t* l) { m.get_pulsed_laser_on(b, l); }, "A2 00 00 00 00 00 00 00"},
        {"set_pulsed_laser_on 1", [&](char* b, uint32_t* l) { m.set_pulsed_laser_on(1, b, l); }, "22 00 00 00 00 00 00 01"},
        {"get_frequency", [&](char* b, uint32_t* l) { m.get_frequency(b, l); }, "99 00 00 00 00 00 00 00"},
        {"set_frequency 50000", [&](char* b, uint32_t* l) { m.set_frequency(50000.0f, b, l); }, "19 00 00 00 00 00 C3 50"},
        {"set_frequency 12500", [&](char* b, uint32_t* l) { m.set_frequency(12500.0f, b, l); }, "19 00 00 00 00 00 30 D4"},
        {"set_frequency 1.9 truncates", [&](char* b, uint32_t* l) { m.set_frequency(1.9f, b, l); }, "19 00 00 00 00 00 00 01"},
        {"set_frequency 70000 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_frequency(70000.0f, b, l); }, "19 00 00 00 00 00 11 70"},
        {"get_pulse_gated", [&](char* b, uint32_t* l) { m.get_pulse_gated(b, l); }, "B4 00 00 00 00 00 00 00"},
        {"set_pulse_gated 32767", [&](char* b, uint32_t* l) { m.set_pulse_gated(32767, b, l); }, "34 00 00 00 00 00 7F FF"},
        {"set_pulse_gated -2", [&](char* b, uint32_t* l) { m.set_pulse_gated(-2, b, l); }, "34 00 00 00 00 00 FF FE"},
        {"get_pulse_cutted", [&](char* b, uint32_t* l) { m.get_pulse_cutted(b, l); }, "B5 00 00 00 00 00 00 00"},
        {"set_pulse_cutted 300", [&](char* b, uint32_t* l) { m.set_pulse_cutted(300, b, l); }, "35 00 00 00 00 00 01 2C"},
        {"set_pulse_cutted -1", [&](char* b, uint32_t* l) { m.set_pulse_cutted(-1, b, l); }, "35 00 00 00 00 00 FF FF"},
        {"get_mode", [&](char* b, uint32_t* l) { m.get_mode(b, l); }, "A4 00 00 00 00 00 00 00"},
        {"set_mode 3", [&](char* b, uint32_t* l) { m.set_mode(3, b, l); }, "24 00 00 00 00 00 00 03"},
        {"set_mode -1 (byte 7 only)", [&](char* b, uint32_t* l) { m.set_mode(-1, b, l); }, "24 00 00 00 00 00 00 FF"},
        {"get_thermistor_beta", [&](char* b, uint32_t* l) { m.get_thermistor_beta(b, l); }, "95 00 00 00 00 00 00 00"},
        {"set_thermistor_beta 3950", [&](char* b, uint32_t* l) { m.set_thermistor_beta(3950.0f, b, l); }, "15 00 00 00 00 00 0F 6E"},
        {"set_thermistor_beta 70000 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_thermistor_beta(70000.0f, b, l); }, "15 00 00 00 00 00 11 70"},
        {"get_thermistor_r25", [&](char* b, uint32_t* l) { m.get_thermistor_r25(b, l); }, "96 00 00 00 00 00 00 00"},
        {"set_thermistor_r25 100000 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_thermistor_r25(100000.0f, b, l); }, "16 00 00 00 00 00 86 A0"},
        {"get_monitor_responsivity", [&](char* b, uint32_t* l) { m.get_monitor_responsivity(b, l); }, "97 00 00 00 00 00 00 00"},
        {"set_monitor_responsivity 0.35 truncates", [&](char* b, uint32_t* l) { m.set_monitor_responsivity(0.35f, b, l); }, "17 00 00 00 00 00 00 22"},
        {"set_monitor_responsivity -0.35 truncates", [&](char* b, uint32_t* l) { m.set_monitor_responsivity(-0.35f, b, l); }, "17 00 00 00 00 00 FF DE"},
        {"get_voltage_max", [&](char* b, uint32_t* l) { m.get_voltage_max(b, l); }, "A5 00 00 00 00 00 00 00"},
        {"set_voltage_max 1000.0", [&](char* b, uint32_t* l) { m.set_voltage_max(1000.0f, b, l); }, "25 00 00 00 00 00 27 10"},
        {"set_voltage_max -1.0", [&](char* b, uint32_t* l) { m.set_voltage_max(-1.0f, b, l); }, "25 00 00 00 00 00 FF F6"},
        {"get_voltage_min", [&](char* b, uint32_t* l) { m.get_voltage_min(b, l); }, "A6 00 00 00 00 00 00 00"},
        {"set_voltage_min 0.25", [&](char* b, uint32_t* l) { m.set_voltage_min(0.25f, b, l); }, "26 00 00 00 00 00 00 03"},
        {"set_voltage_min 6553.5", [&](char* b, uint32_t* l) { m.set_voltage_min(6553.5f, b, l); }, "26 00 00 00 00 00 FF FF"},
        {"get_max_tec_current", [&](char* b, uint32_t* l) { m.get_max_tec_current(b, l); }, "B3 00 00 00 00 00 00 00"},
        {"set_max_tec_current 1.25", [&](char* b, uint32_t* l) { m.set_max_tec_current(1.25f, b, l); }, "33 00 00 00 00 00 00 0D"},
        {"set_max_tec_current -1.25", [&](char* b, uint32_t* l) { m.set_max_tec_current(-1.25f, b, l); }, "33 00 00 00 00 00 FF F3"},
    };
}

} // namespace

class tst_protocol_encoders : public QObject
{
    Q_OBJECT

private slots:
    void cw_record_commands();
    void cw_current_limit_scaling();
    void pulse_record_commands();
    void ps_and_ns_temperature_rounding();
    void dcdc_record_commands();
    void inputs_without_a_value_send_zero();
    void whole_lines();
    void can_id_reaches_every_record();
};

void tst_protocol_encoders::cw_record_commands()
{
    cw_model_struct m;
    m.can_id = 5;
    const std::vector<encoder_case> cases = {
        {"get_device_type", [&](char* b, uint32_t* l) { m.get_device_type(b, l); }, "D0 00 00 00 00 00 00 00"},
        {"get_can_id", [&](char* b, uint32_t* l) { m.get_can_id(b, l); }, "D1 00 00 00 00 00 00 00"},
        {"set_can_id 300 (low 8 bits)", [&](char* b, uint32_t* l) { const int id = 300; m.set_can_id(int8_t(id), b, l); }, "51 00 00 00 00 00 00 2C"},
        {"set_can_id 200", [&](char* b, uint32_t* l) { const int id = 200; m.set_can_id(int8_t(id), b, l); }, "51 00 00 00 00 00 00 C8"},
        {"get_laser_on", [&](char* b, uint32_t* l) { m.get_laser_on(b, l); }, "90 00 00 00 00 00 00 00"},
        {"set_laser_on 1", [&](char* b, uint32_t* l) { m.set_laser_on(1, b, l); }, "10 00 00 00 00 00 00 01"},
        {"set_laser_on 0", [&](char* b, uint32_t* l) { m.set_laser_on(0, b, l); }, "10 00 00 00 00 00 00 00"},
        {"set_laser_on -1 (byte 7 only)", [&](char* b, uint32_t* l) { m.set_laser_on(-1, b, l); }, "10 00 00 00 00 00 00 FF"},
        {"get_current", [&](char* b, uint32_t* l) { m.get_current(b, l); }, "91 00 00 00 00 00 00 00"},
        {"set_current 123.45", [&](char* b, uint32_t* l) { m.set_current(123.45f, b, l); }, "11 00 00 00 00 00 04 D2"},
        {"set_current 1.25 (half away from zero)", [&](char* b, uint32_t* l) { m.set_current(1.25f, b, l); }, "11 00 00 00 00 00 00 0D"},
        {"set_current -1.25", [&](char* b, uint32_t* l) { m.set_current(-1.25f, b, l); }, "11 00 00 00 00 00 FF F3"},
        {"set_current 6553.5 (top of 16 bits)", [&](char* b, uint32_t* l) { m.set_current(6553.5f, b, l); }, "11 00 00 00 00 00 FF FF"},
        {"set_current 3276.75", [&](char* b, uint32_t* l) { m.set_current(3276.75f, b, l); }, "11 00 00 00 00 00 80 00"},
        {"set_current_precision 123.45", [&](char* b, uint32_t* l) { m.set_current_precision(123.45f, b, l); }, "11 00 00 00 00 00 30 39"},
        {"set_current_precision 1e9 (low 32 bits)", [&](char* b, uint32_t* l) { m.set_current_precision(1e9f, b, l); }, "11 00 00 00 48 76 E8 00"},
        {"set_current_precision -1.0", [&](char* b, uint32_t* l) { m.set_current_precision(-1.0f, b, l); }, "11 00 00 00 FF FF FF 9C"},
        {"get_temperature", [&](char* b, uint32_t* l) { m.get_temperature(b, l); }, "92 00 00 00 00 00 00 00"},
        {"set_temperature 25.3 truncates", [&](char* b, uint32_t* l) { m.set_temperature(25.3f, b, l); }, "12 00 00 00 00 00 00 FC"},
        {"set_temperature -5.0", [&](char* b, uint32_t* l) { m.set_temperature(-5.0f, b, l); }, "12 00 00 00 00 00 FF CE"},
        {"set_temperature -0.05 truncates to 0", [&](char* b, uint32_t* l) { m.set_temperature(-0.05f, b, l); }, "12 00 00 00 00 00 00 00"},
        {"set_temperature_precision 25.3", [&](char* b, uint32_t* l) { m.set_temperature_precision(25.3f, b, l); }, "12 00 00 00 00 03 DC 48"},
        {"set_temperature_precision -5.0", [&](char* b, uint32_t* l) { m.set_temperature_precision(-5.0f, b, l); }, "12 00 00 00 FF FF 3C B0"},
        {"get_power", [&](char* b, uint32_t* l) { m.get_power(b, l); }, "94 00 00 00 00 00 00 00"},
        {"get_tec_on", [&](char* b, uint32_t* l) { m.get_tec_on(b, l); }, "A1 00 00 00 00 00 00 00"},
        {"set_tec_on 1", [&](char* b, uint32_t* l) { m.set_tec_on(1, b, l); }, "21 00 00 00 00 00 00 01"},
        {"get_thermistor_beta", [&](char* b, uint32_t* l) { m.get_thermistor_beta(b, l); }, "95 00 00 00 00 00 00 00"},
        {"set_thermistor_beta 3950", [&](char* b, uint32_t* l) { m.set_thermistor_beta(3950.0f, b, l); }, "15 00 00 00 00 00 0F 6E"},
        {"get_thermistor_r25", [&](char* b, uint32_t* l) { m.get_thermistor_r25(b, l); }, "96 00 00 00 00 00 00 00"},
        {"set_thermistor_r25 100000 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_thermistor_r25(100000.0f, b, l); }, "16 00 00 00 00 00 86 A0"},
        {"set_thermistor_r25 10000", [&](char* b, uint32_t* l) { m.set_thermistor_r25(10000.0f, b, l); }, "16 00 00 00 00 00 27 10"},
        {"set_thermistor_beta 70000 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_thermistor_beta(70000.0f, b, l); }, "15 00 00 00 00 00 11 70"},
        {"set_monitor_responsivity -0.35", [&](char* b, uint32_t* l) { m.set_monitor_responsivity(-0.35f, b, l); }, "17 00 00 00 00 00 FF DE"},
        {"get_monitor_responsivity", [&](char* b, uint32_t* l) { m.get_monitor_responsivity(b, l); }, "97 00 00 00 00 00 00 00"},
        {"set_monitor_responsivity 0.35 truncates", [&](char* b, uint32_t* l) { m.set_monitor_responsivity(0.35f, b, l); }, "17 00 00 00 00 00 00 22"},
        {"set_monitor_responsivity 4.35 truncates", [&](char* b, uint32_t* l) { m.set_monitor_responsivity(4.35f, b, l); }, "17 00 00 00 00 00 01 B2"},
        {"get_current_max", [&](char* b, uint32_t* l) { m.get_current_max(b, l); }, "A5 00 00 00 00 00 00 00"},
        {"get_current_min", [&](char* b, uint32_t* l) { m.get_current_min(b, l); }, "A6 00 00 00 00 00 00 00"},
        {"get_temp_max", [&](char* b, uint32_t* l) { m.get_temp_max(b, l); }, "B7 00 00 00 00 00 00 00"},
        {"set_temp_max 35.0", [&](char* b, uint32_t* l) { m.set_temp_max(35.0f, b, l); }, "37 00 00 00 00 00 01 5E"},
        {"set_temp_max 3500 (Precision CW, entered x100)", [&](char* b, uint32_t* l) { m.set_temp_max(35.0f * 100, b, l); }, "37 00 00 00 00 00 88 B8"},
        {"set_temp_max -5.0", [&](char* b, uint32_t* l) { m.set_temp_max(-5.0f, b, l); }, "37 00 00 00 00 00 FF CE"},
        {"set_temp_max 6553.6 (wraps)", [&](char* b, uint32_t* l) { m.set_temp_max(6553.6f, b, l); }, "37 00 00 00 00 00 00 00"},
        {"get_temp_min", [&](char* b, uint32_t* l) { m.get_temp_min(b, l); }, "B6 00 00 00 00 00 00 00"},
        {"set_temp_min 15.0", [&](char* b, uint32_t* l) { m.set_temp_min(15.0f, b, l); }, "36 00 00 00 00 00 00 96"},
        {"set_temp_min -5.0", [&](char* b, uint32_t* l) { m.set_temp_min(-5.0f, b, l); }, "36 00 00 00 00 00 FF CE"},
        {"get_max_tec_current", [&](char* b, uint32_t* l) { m.get_max_tec_current(b, l); }, "B3 00 00 00 00 00 00 00"},
        {"set_max_tec_current 1.25", [&](char* b, uint32_t* l) { m.set_max_tec_current(1.25f, b, l); }, "33 00 00 00 00 00 00 0D"},
        {"set_max_tec_current 0.15", [&](char* b, uint32_t* l) { m.set_max_tec_current(0.15f, b, l); }, "33 00 00 00 00 00 00 02"},
        {"set_max_tec_current -1.25", [&](char* b, uint32_t* l) { m.set_max_tec_current(-1.25f, b, l); }, "33 00 00 00 00 00 FF F3"},
        {"set_current 7000.0 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_current(7000.0f, b, l); }, "11 00 00 00 00 00 11 70"},
    };
    const QStringList faults = mismatches(cases, 5);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// The parameters window hands w to the encoder for a CW board that reported
// temperature limits and w x 10 otherwise; the encoder adds the factor 10.
void tst_protocol_encoders::cw_current_limit_scaling()
{
    cw_model_struct m;
    m.can_id = 0x20;
    const std::vector<encoder_case> cases = {
        {"set_current_max 150.0 (after temperature limits)", [&](char* b, uint32_t* l) { m.set_current_max(150.0f, b, l); }, "25 00 00 00 00 00 05 DC"},
        {"set_current_max 1500.0 (150 mA before them)", [&](char* b, uint32_t* l) { m.set_current_max(150.0f * 10, b, l); }, "25 00 00 00 00 00 3A 98"},
        {"set_current_min 150.0", [&](char* b, uint32_t* l) { m.set_current_min(150.0f, b, l); }, "26 00 00 00 00 00 05 DC"},
        {"set_current_min 1500.0", [&](char* b, uint32_t* l) { m.set_current_min(1500.0f, b, l); }, "26 00 00 00 00 00 3A 98"},
        {"set_current_max 7000.05 (beyond 16 bits)", [&](char* b, uint32_t* l) { m.set_current_max(7000.05f, b, l); }, "25 00 00 00 00 01 11 70"},
        {"set_current_max -0.05 rounds away from zero", [&](char* b, uint32_t* l) { m.set_current_max(-0.05f, b, l); }, "25 00 00 00 FF FF FF FF"},
    };
    const QStringList faults = mismatches(cases, 0x20);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::pulse_record_commands()
{
    ps_model_struct ps;
    ps.can_id = 0xAB;
    ns_model_struct ns;
    ns.can_id = 0xAB;
    QStringList faults = mismatches(shared_pulse_cases(ps), 0xAB);
    for (const QString& f : mismatches(shared_pulse_cases(ns), 0xAB))
        faults << "NS " + f;

    const std::vector<encoder_case> ns_only = {
        {"get_pulse_width", [&](char* b, uint32_t* l) { ns.get_pulse_width(b, l); }, "A3 00 00 00 00 00 00 00"},
        {"set_pulse_width 0.25", [&](char* b, uint32_t* l) { ns.set_pulse_width(0.25f, b, l); }, "23 00 00 00 00 00 00 03"},
        {"set_pulse_width 1000.0", [&](char* b, uint32_t* l) { ns.set_pulse_width(1000.0f, b, l); }, "23 00 00 00 00 00 27 10"},
        {"set_pulse_width -0.25", [&](char* b, uint32_t* l) { ns.set_pulse_width(-0.25f, b, l); }, "23 00 00 00 00 00 FF FD"},
        {"set_pulse_width 7000.0 (low 16 bits)", [&](char* b, uint32_t* l) { ns.set_pulse_width(7000.0f, b, l); }, "23 00 00 00 00 00 11 70"},
    };
    faults << mismatches(ns_only, 0xAB);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::ps_and_ns_temperature_rounding()
{
    ps_model_struct ps;
    ps.can_id = 5;
    ns_model_struct ns;
    ns.can_id = 5;
    const std::vector<encoder_case> cases = {
        {"PS 25.3 truncates", [&](char* b, uint32_t* l) { ps.set_temperature(25.3f, b, l); }, "12 00 00 00 00 00 00 FC"},
        {"NS 25.3 rounds", [&](char* b, uint32_t* l) { ns.set_temperature(25.3f, b, l); }, "12 00 00 00 00 00 00 FD"},
        {"PS -5.0", [&](char* b, uint32_t* l) { ps.set_temperature(-5.0f, b, l); }, "12 00 00 00 00 00 FF CE"},
        {"NS -5.0", [&](char* b, uint32_t* l) { ns.set_temperature(-5.0f, b, l); }, "12 00 00 00 00 00 FF CE"},
        {"PS -0.05 truncates to 0", [&](char* b, uint32_t* l) { ps.set_temperature(-0.05f, b, l); }, "12 00 00 00 00 00 00 00"},
        {"NS -0.05 rounds away from zero", [&](char* b, uint32_t* l) { ns.set_temperature(-0.05f, b, l); }, "12 00 00 00 00 00 FF FF"},
        {"PS 7000.0 (low 16 bits)", [&](char* b, uint32_t* l) { ps.set_temperature(7000.0f, b, l); }, "12 00 00 00 00 00 11 70"},
        {"NS 7000.0 (low 16 bits)", [&](char* b, uint32_t* l) { ns.set_temperature(7000.0f, b, l); }, "12 00 00 00 00 00 11 70"},
    };
    const QStringList faults = mismatches(cases, 5);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::dcdc_record_commands()
{
    dcdc_model_struct m;
    m.can_id = 0x7F;
    const std::vector<encoder_case> cases = {
        {"get_output_on", [&](char* b, uint32_t* l) { m.get_output_on(b, l); }, "90 00 00 00 00 00 00 00"},
        {"set_output_on 1 (16 bits)", [&](char* b, uint32_t* l) { m.set_output_on(1, b, l); }, "10 00 00 00 00 00 00 01"},
        {"set_output_on 258 (16 bits)", [&](char* b, uint32_t* l) { m.set_output_on(258, b, l); }, "10 00 00 00 00 00 01 02"},
        {"set_output_on -1", [&](char* b, uint32_t* l) { m.set_output_on(-1, b, l); }, "10 00 00 00 00 00 FF FF"},
        {"get_current", [&](char* b, uint32_t* l) { m.get_current(b, l); }, "91 00 00 00 00 00 00 00"},
        {"set_current 12.34", [&](char* b, uint32_t* l) { m.set_current(12.34f, b, l); }, "11 00 00 00 00 00 04 D2"},
        // The float product would be 100.5 and 267.5; the double product is below the half.
        {"set_current 1.005", [&](char* b, uint32_t* l) { m.set_current(1.005f, b, l); }, "11 00 00 00 00 00 00 64"},
        {"set_current 2.675", [&](char* b, uint32_t* l) { m.set_current(2.675f, b, l); }, "11 00 00 00 00 00 01 0B"},
        {"set_current 0", [&](char* b, uint32_t* l) { m.set_current(0.0f, b, l); }, "11 00 00 00 00 00 00 00"},
        {"set_current -1.0", [&](char* b, uint32_t* l) { m.set_current(-1.0f, b, l); }, "11 00 00 00 00 00 FF 9C"},
        {"set_current 700.0 (low 16 bits)", [&](char* b, uint32_t* l) { m.set_current(700.0f, b, l); }, "11 00 00 00 00 00 11 70"},
        {"get_temperature", [&](char* b, uint32_t* l) { m.get_temperature(b, l); }, "92 00 00 00 00 00 00 00"},
        {"get_input_voltage", [&](char* b, uint32_t* l) { m.get_input_voltage(b, l); }, "94 00 00 00 00 00 00 00"},
        {"get_output_voltage", [&](char* b, uint32_t* l) { m.get_output_voltage(b, l); }, "A6 00 00 00 00 00 00 00"},
        {"get_fault_flags", [&](char* b, uint32_t* l) { m.get_fault_flags(b, l); }, "B0 00 00 00 00 00 00 00"},
        {"clear_errors", [&](char* b, uint32_t* l) { m.clear_errors(b, l); }, "29 00 00 00 00 00 00 00"},
    };
    const QStringList faults = mismatches(cases, 0x7F);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// NaN, infinities and products beyond the 64-bit range carry no value; they
// go out as 0 rather than as a wrapped or full-scale number.
void tst_protocol_encoders::inputs_without_a_value_send_zero()
{
    cw_model_struct cw;
    ns_model_struct ns;
    dcdc_model_struct dcdc;
    const float max_float = std::numeric_limits<float>::max();
    const std::vector<encoder_case> cases = {
        {"CW set_current NaN", [&](char* b, uint32_t* l) { cw.set_current(nan_value, b, l); }, "11 00 00 00 00 00 00 00"},
        {"CW set_current +inf", [&](char* b, uint32_t* l) { cw.set_current(inf_value, b, l); }, "11 00 00 00 00 00 00 00"},
        {"CW set_current_precision -inf", [&](char* b, uint32_t* l) { cw.set_current_precision(-inf_value, b, l); }, "11 00 00 00 00 00 00 00"},
        {"CW set_current_max FLT_MAX", [&](char* b, uint32_t* l) { cw.set_current_max(max_float, b, l); }, "25 00 00 00 00 00 00 00"},
        {"CW set_temperature -1e30", [&](char* b, uint32_t* l) { cw.set_temperature(-1e30f, b, l); }, "12 00 00 00 00 00 00 00"},
        {"NS set_voltage 1e19", [&](char* b, uint32_t* l) { ns.set_voltage(1e19f, b, l); }, "18 00 00 00 00 00 00 00"},
        {"NS set_frequency NaN", [&](char* b, uint32_t* l) { ns.set_frequency(nan_value, b, l); }, "19 00 00 00 00 00 00 00"},
        {"DCDC set_current +inf", [&](char* b, uint32_t* l) { dcdc.set_current(inf_value, b, l); }, "11 00 00 00 00 00 00 00"},
        // Still inside the 64-bit range: only the low bits go out.
        {"NS set_voltage -1e6", [&](char* b, uint32_t* l) { ns.set_voltage(-1e6f, b, l); }, "18 00 00 00 00 00 69 80"},
        {"CW set_current_precision 5e7", [&](char* b, uint32_t* l) { cw.set_current_precision(5e7f, b, l); }, "11 00 00 00 2A 05 F2 00"},
    };
    const QStringList faults = mismatches(cases, 0);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_protocol_encoders::whole_lines()
{
    cw_model_struct cw;
    cw.can_id = 5;
    ns_model_struct ns;
    ns.can_id = 0x1ABC; // bits above the 11-bit identifier are dropped
    ps_model_struct ps;
    ps.can_id = 255;

    QCOMPARE(capture([&](char* b, uint32_t* l) { cw.set_temperature(25.3f, b, l); }).line,
             QByteArray("t005812000000000000FC\r"));
    QCOMPARE(capture([&](char* b, uint32_t* l) { cw.get_temperature(b, l); }).line,
             QByteArray("t00589200000000000000\r"));
    QCOMPARE(capture([&](char* b, uint32_t* l) { cw.set_current_precision(123.45f, b, l); }).line,
             QByteArray("t00581100000000003039\r"));
    QCOMPARE(capture([&](char* b, uint32_t* l) { ns.set_temperature(-5.0f, b, l); }).line,
             QByteArray("tABC8120000000000FFCE\r"));
    QCOMPARE(capture([&](char* b, uint32_t* l) { ps.set_frequency(50000.0f, b, l); }).line,
             QByteArray("t0FF8190000000000C350\r"));
}

void tst_protocol_encoders::can_id_reaches_every_record()
{
    driver_state state;
    state.set_can_id(0x123);
    QCOMPARE(capture([&](char* b, uint32_t* l) { state.cw_model.get_device_type(b, l); }).id, 0x123u);
    QCOMPARE(capture([&](char* b, uint32_t* l) { state.ps_model.get_mode(b, l); }).id, 0x123u);
    QCOMPARE(capture([&](char* b, uint32_t* l) { state.ns_model.get_pulse_width(b, l); }).id, 0x123u);
    QCOMPARE(capture([&](char* b, uint32_t* l) { state.dcdc_model.get_fault_flags(b, l); }).id, 0x123u);
}

QTEST_GUILESS_MAIN(tst_protocol_encoders)
#include "tst_protocol_encoders.moc"
