#include "decoder_bench.h"
#include "driver_type.h"
#include "sent_frame.h"
#include "sim_board.h"

#include <QtTest>

namespace {

// One channel talking straight to one simulated board: every frame the
// encoders build goes to the board, every reply goes through the decoder.
// Readings settle at once, so a reply reflects the set-points sent before it.
struct board_link
{
    sim_board board;
    decoder_bench channel;
    int64_t now_ms = 0;
    QStringList faults;

    board_link(int type, int can_id)
        : board(type, can_id), channel(driver_type::none)
    {
        board.set_settle_ms(0);
        channel.state.set_can_id(can_id);
    }

    // Sends one frame; returns whether the board answered.
    bool send(const encoder_call& encode)
    {
        const sent_frame f = capture(encode);
        if (!f.error.isEmpty() || f.id != uint32_t(board.can_id())) {
            faults << QString("bad frame %1 (%2)").arg(QString::fromLatin1(f.line), f.error);
            return false;
        }
        uint8_t reply[8] = {};
        now_ms += 10;
        if (!board.handle(f.bytes.data(), now_ms, reply))
            return false;
        serial_message_struct sm;
        sm.id = uint32_t(board.can_id());
        for (int k = 0; k < 8; ++k)
            sm.data[k] = reply[k];
        decode_driver_message(channel.state, channel.sync, sm);
        return true;
    }

    driver_state& state() { return channel.state; }
    setpoint_sync_slots& sync() { return channel.sync; }

    // Identification as the poll starts every pass.
    void identify()
    {
        send([&](char* b, uint32_t* l) { state().cw_model.get_device_type(b, l); });
        send([&](char* b, uint32_t* l) { state().cw_model.get_can_id(b, l); });
    }
};

#define SEND(link, call) (link).send([&](char* b, uint32_t* l) { call; })

} // namespace

class tst_protocol_round_trip : public QObject
{
    Q_OBJECT

private slots:
    void cw();
    void precision_cw();
    void pulsed_data();
    void pulsed();
    void power_dcdc();
};

void tst_protocol_round_trip::cw()
{
    board_link link(sim_board::type_cw, 21);
    link.identify();
    QCOMPARE(link.state().device_type.load(), driver_type::cw);
    QCOMPARE(link.state().reported_can_id, 21);
    QCOMPARE(link.sync()[sync_slot::current], sync_state::waiting);

    cw_model_struct& m = link.state().cw_model;
    SEND(link, m.set_laser_on(1, b, l));
    SEND(link, m.set_tec_on(1, b, l));
    SEND(link, m.set_current(123.4f, b, l));
    SEND(link, m.set_temperature(22.5f, b, l));
    SEND(link, m.set_thermistor_beta(3977.0f, b, l));
    SEND(link, m.set_thermistor_r25(47000.0f, b, l));
    SEND(link, m.set_monitor_responsivity(0.75f, b, l));
    SEND(link, m.set_max_tec_current(1.5f, b, l));
    // Before any temperature-limit reply the limits travel in hundredths.
    SEND(link, m.set_current_max(150.0f * 10, b, l));
    SEND(link, m.set_current_min(10.0f * 10, b, l));

    SEND(link, m.get_laser_on(b, l));
    SEND(link, m.get_tec_on(b, l));
    SEND(link, m.get_current(b, l));
    SEND(link, m.get_temperature(b, l));
    SEND(link, m.get_thermistor_beta(b, l));
    SEND(link, m.get_thermistor_r25(b, l));
    SEND(link, m.get_monitor_responsivity(b, l));
    SEND(link, m.get_max_tec_current(b, l));
    SEND(link, m.get_current_max(b, l));
    SEND(link, m.get_current_min(b, l));
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));

    QVERIFY(m.laser_on);
    QVERIFY(m.tec_on);
    QCOMPARE(m.current, 123.4f);
    QCOMPARE(m.current_set, 123.4f);
    QCOMPARE(m.temperature, 22.5f);
    QCOMPARE(m.temp_set, 22.5f);
    QCOMPARE(link.sync()[sync_slot::current], sync_state::adopted);
    QCOMPARE(m.thermistor_beta, 3977);
    QCOMPARE(m.thermistor_r25, 47000);
    QCOMPARE(m.monitor_responsivity, 0.75f);
    QCOMPARE(m.max_tec_current, 1.5f);
    QCOMPARE(m.current_max, 150.0f);
    QCOMPARE(m.current_min, 10.0f);

    // Temperature limits, negative included; once reported, the current
    // limits travel in tenths.
    SEND(link, m.set_temp_max(40.0f, b, l));
    SEND(link, m.set_temp_min(-5.0f, b, l));
    SEND(link, m.get_temp_max(b, l));
    SEND(link, m.get_temp_min(b, l));
    QCOMPARE(m.temp_max, 40.0f);
    QCOMPARE(m.temp_min, -5.0f);
    QCOMPARE(m.temp_limits_reported, 1);
    SEND(link, m.set_current_max(180.0f, b, l));
    SEND(link, m.get_current_max(b, l));
    QCOMPARE(m.current_max, 180.0f);

    // The CW temperature is truncated on the way out: 25.3 comes back 25.2.
    SEND(link, m.set_temperature(25.3f, b, l));
    SEND(link, m.get_temperature(b, l));
    QCOMPARE(m.temperature, 25.2f);
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));
}

void tst_protocol_round_trip::precision_cw()
{
    board_link link(sim_board::type_precision_cw, 3);
    link.identify();
    QCOMPARE(link.state().device_type.load(), driver_type::precision_cw);

    cw_model_struct& m = link.state().cw_model;
    SEND(link, m.set_laser_on(1, b, l));
    SEND(link, m.set_tec_on(1, b, l));
    SEND(link, m.set_current_precision(123.45f, b, l));
    SEND(link, m.set_temperature_precision(25.3f, b, l));
    SEND(link, m.set_current_max(150.0f * 10, b, l));
    SEND(link, m.set_temp_max(35.5f * 100, b, l));
    SEND(link, m.set_temp_min(15.0f * 100, b, l));

    SEND(link, m.get_current(b, l));
    SEND(link, m.get_temperature(b, l));
    SEND(link, m.get_temp_max(b, l));
    SEND(link, m.get_temp_min(b, l));
    SEND(link, m.get_current_max(b, l));
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));

    QCOMPARE(m.current, 123.45f);
    QCOMPARE(m.current_set, 123.45f);
    QCOMPARE(m.temperature, 25.3f);
    QCOMPARE(m.temp_set, 25.3f);
    QCOMPARE(m.temp_max, 35.5f);
    QCOMPARE(m.temp_min, 15.0f);
    // Precision CW limits stay in hundredths after temperature limits too.
    QCOMPARE(m.current_max, 150.0f);
}

void tst_protocol_round_trip::pulsed_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("PS") << int(sim_board::type_ps);
    QTest::newRow("NS") << int(sim_board::type_ns);
    QTest::newRow("SOA NS") << int(sim_board::type_soa_ns);
}

void tst_protocol_round_trip::pulsed()
{
    QFETCH(int, type);
    board_link link(type, 250 - type);
    link.identify();
    QCOMPARE(link.state().device_type.load(), type);

    const bool is_ps = type == sim_board::type_ps;
    pulse_model_struct& m = is_ps ? static_cast<pulse_model_struct&>(link.state().ps_model)
                                  : link.state().ns_model;
    // Temperature: PS truncates, NS rounds; 22.5 survives both, 25.3 only NS.
    const float temperature = is_ps ? 22.5f : 25.3f;
    if (is_ps)
        SEND(link, link.state().ps_model.set_temperature(temperature, b, l));
    else
        SEND(link, link.state().ns_model.set_temperature(temperature, b, l));

    SEND(link, m.set_tec_on(1, b, l));
    SEND(link, m.set_voltage(12.3f, b, l));
    SEND(link, m.set_voltage_on(1, b, l));
    SEND(link, m.set_pulsed_laser_on(1, b, l));
    SEND(link, m.set_frequency(12500.0f, b, l));
    SEND(link, m.set_pulse_gated(5, b, l));
    SEND(link, m.set_pulse_cutted(3, b, l));
    SEND(link, m.set_mode(2, b, l));
    SEND(link, m.set_voltage_max(100.0f, b, l));
    SEND(link, m.set_voltage_min(0.5f, b, l));
    SEND(link, m.set_temp_max(40.0f, b, l));
    SEND(link, m.set_temp_min(-5.0f, b, l));
    SEND(link, m.set_thermistor_beta(3977.0f, b, l));
    SEND(link, m.set_thermistor_r25(47000.0f, b, l));
    SEND(link, m.set_monitor_responsivity(0.75f, b, l));
    SEND(link, m.set_max_tec_current(1.5f, b, l));
    if (!is_ps)
        SEND(link, link.state().ns_model.set_pulse_width(2.5f, b, l));

    SEND(link, m.get_tec_on(b, l));
    SEND(link, m.get_pulsed_laser_on(b, l));
    SEND(link, m.get_voltage_on(b, l));
    SEND(link, m.get_voltage(b, l));
    SEND(link, m.get_temperature(b, l));
    SEND(link, m.get_frequency(b, l));
    SEND(link, m.get_pulse_gated(b, l));
    SEND(link, m.get_pulse_cutted(b, l));
    SEND(link, m.get_mode(b, l));
    SEND(link, m.get_voltage_max(b, l));
    SEND(link, m.get_voltage_min(b, l));
    SEND(link, m.get_temp_max(b, l));
    SEND(link, m.get_temp_min(b, l));
    SEND(link, m.get_thermistor_beta(b, l));
    SEND(link, m.get_thermistor_r25(b, l));
    SEND(link, m.get_monitor_responsivity(b, l));
    SEND(link, m.get_max_tec_current(b, l));
    if (!is_ps)
        SEND(link, link.state().ns_model.get_pulse_width(b, l));
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));

    QVERIFY(m.tec_on);
    QVERIFY(m.laser_on);
    QVERIFY(m.voltage_on);
    QCOMPARE(m.voltage, 12.3f);
    QCOMPARE(m.voltage_set, 12.3f);
    QCOMPARE(m.temperature, temperature);
    QCOMPARE(m.temp_set, temperature);
    QCOMPARE(m.frequency, 12500);
    QCOMPARE(m.frequency_set, 12500);
    QCOMPARE(m.pulse_gated, 5);
    QCOMPARE(m.pulse_gated_set, 5);
    QCOMPARE(m.pulse_cutted, 3);
    QCOMPARE(m.pulse_cutted_set, 3);
    QCOMPARE(m.mode_names[m.mode], QString("Ext: Burst"));
    QCOMPARE(m.burst_enabled, 1);
    QCOMPARE(m.voltage_max, 100.0f);
    QCOMPARE(m.voltage_min, 0.5f);
    QCOMPARE(m.temp_max, 40.0f);
    QCOMPARE(m.temp_min, -5.0f);
    QCOMPARE(link.sync()[sync_slot::mode], sync_state::adopted);
    if (is_ps) {
        const ps_model_struct& ps = link.state().ps_model;
        QCOMPARE(ps.thermistor_beta, 3977);
        QCOMPARE(ps.thermistor_r25, 47000);
        QCOMPARE(ps.monitor_responsivity, 0.75f);
        QCOMPARE(ps.max_tec_current, 1.5f);
    } else {
        const ns_model_struct& ns = link.state().ns_model;
        QCOMPARE(ns.thermistor_beta, 3977);
        QCOMPARE(ns.thermistor_r25, 47000);
        QCOMPARE(ns.monitor_responsivity, 0.75f);
        QCOMPARE(ns.max_tec_current, 1.5f);
        QCOMPARE(ns.pulse_width, 2.5f);
        QCOMPARE(ns.pulse_width_set, 2.5f);
    }

    // Internal trigger: code 3 on PS, 0 on NS.
    SEND(link, m.set_mode(is_ps ? 3 : 0, b, l));
    SEND(link, m.get_mode(b, l));
    QCOMPARE(m.mode_names[m.mode], QString("Int: Burst"));
}

void tst_protocol_round_trip::power_dcdc()
{
    board_link link(sim_board::type_power_dcdc, 11);
    link.identify();
    QCOMPARE(link.state().device_type.load(), driver_type::power_dcdc);

    dcdc_model_struct& m = link.state().dcdc_model;
    link.board.set_output_voltage(24.0);
    link.board.set_input_voltage(28.5);
    link.board.set_fault_flags(0x05);
    SEND(link, m.set_output_on(1, b, l));
    SEND(link, m.set_current(5.25f, b, l));
    SEND(link, m.get_output_on(b, l));
    SEND(link, m.get_current(b, l));
    SEND(link, m.get_output_voltage(b, l));
    SEND(link, m.get_input_voltage(b, l));
    SEND(link, m.get_fault_flags(b, l));
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));

    QVERIFY(m.output_on);
    QCOMPARE(m.current, 5.25f);
    QCOMPARE(m.current_set, 5.25f);
    QCOMPARE(m.output_voltage, 24.0f);
    QCOMPARE(m.input_voltage, 28.5f);
    QCOMPARE(m.dcdc_flag_text(m.fault_flags), QString("flag_NO_Load\nflag_Overtemp\n"));

    SEND(link, m.clear_errors(b, l));
    SEND(link, m.get_fault_flags(b, l));
    QCOMPARE(m.fault_flags, uint16_t(0));

    SEND(link, m.set_output_on(0, b, l));
    SEND(link, m.get_output_on(b, l));
    SEND(link, m.get_current(b, l));
    QVERIFY(!m.output_on);
    QCOMPARE(m.current, 0.0f);
}

QTEST_GUILESS_MAIN(tst_protocol_round_trip)
#include "tst_protocol_round_trip.moc"
