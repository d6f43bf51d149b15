#include "driver_type.h"
#include "protocol_fixture.h"
#include "sim_board.h"

#include <QtTest>

namespace {

// One channel talking straight to one simulated board: every frame the
// encoders build goes to the board, every reply goes through the decoder.
// Readings settle at once, so a reply reflects the set-points sent before it.
struct board_link
{
    sim_board board;
    decoder_bench channel{driver_type::none};
    driver_state& state = channel.state;
    int64_t now_ms = 0;
    QStringList faults;

    board_link(int type, int can_id) : board(type, can_id)
    {
        board.set_settle_ms(0);
        state.set_can_id(can_id);
        send({ENC(state.cw_model.get_device_type(b, l)), ENC(state.cw_model.get_can_id(b, l))});
    }

    void send(const std::vector<encoder_call>& calls)
    {
        for (const encoder_call& encode : calls) {
            const sent_frame f = capture(encode);
            uint8_t reply[8] = {};
            now_ms += 10;
            if (!f.error.isEmpty() || f.id != uint32_t(board.can_id()))
                faults << QString("bad frame %1 (%2)").arg(QString::fromLatin1(f.line), f.error);
            if (!f.error.isEmpty() || !board.handle(f.bytes.data(), now_ms, reply))
                continue; // set commands have no reply
            serial_message_struct sm{uint32_t(board.can_id()), {}};
            std::copy(reply, reply + 8, sm.data);
            decode_driver_message(state, channel.sync, sm);
        }
    }
};

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
    QCOMPARE(link.state.device_type.load(), driver_type::cw);
    QCOMPARE(link.state.reported_can_id, 21);
    QCOMPARE(link.channel.sync[sync_slot::current], sync_state::waiting);

    cw_model_struct& m = link.state.cw_model;
    // Before any temperature-limit reply the current limits travel in hundredths.
    link.send({ENC(m.set_laser_on(1, b, l)), ENC(m.set_tec_on(1, b, l)), ENC(m.set_current(123.4f, b, l)),
               ENC(m.set_temperature(22.5f, b, l)), ENC(m.set_thermistor_beta(3977.0f, b, l)),
               ENC(m.set_thermistor_r25(47000.0f, b, l)), ENC(m.set_monitor_responsivity(0.75f, b, l)),
               ENC(m.set_max_tec_current(1.5f, b, l)), ENC(m.set_current_max(150.0f * 10, b, l)),
               ENC(m.get_laser_on(b, l)), ENC(m.get_tec_on(b, l)), ENC(m.get_current(b, l)),
               ENC(m.get_temperature(b, l)), ENC(m.get_thermistor_beta(b, l)), ENC(m.get_thermistor_r25(b, l)),
               ENC(m.get_monitor_responsivity(b, l)), ENC(m.get_max_tec_current(b, l)),
               ENC(m.get_current_max(b, l))});
    QVERIFY(m.laser_on && m.tec_on);
    QCOMPARE(m.current_set, 123.4f);
    QCOMPARE(m.temp_set, 22.5f);
    QCOMPARE(link.channel.sync[sync_slot::current], sync_state::adopted);
    QCOMPARE(m.thermistor_beta, 3977);
    QCOMPARE(m.thermistor_r25, 47000);
    QCOMPARE(m.monitor_responsivity, 0.75f);
    QCOMPARE(m.max_tec_current, 1.5f);
    QCOMPARE(m.current_max, 150.0f);

    // Temperature limits, negative included; once reported, current limits travel in tenths.
    link.send({ENC(m.set_temp_max(40.0f, b, l)), ENC(m.set_temp_min(-5.0f, b, l)), ENC(m.get_temp_max(b, l)),
               ENC(m.get_temp_min(b, l)), ENC(m.set_current_max(180.0f, b, l)), ENC(m.get_current_max(b, l))});
    QCOMPARE(m.temp_max, 40.0f);
    QCOMPARE(m.temp_min, -5.0f);
    QCOMPARE(m.current_max, 180.0f);

    // The CW temperature is truncated on the way out: 25.3 comes back 25.2.
    link.send({ENC(m.set_temperature(25.3f, b, l)), ENC(m.get_temperature(b, l))});
    QCOMPARE(m.temperature, 25.2f);
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));
}

void tst_protocol_round_trip::precision_cw()
{
    board_link link(sim_board::type_precision_cw, 3);
    QCOMPARE(link.state.device_type.load(), driver_type::precision_cw);
    cw_model_struct& m = link.state.cw_model;
    link.send({ENC(m.set_laser_on(1, b, l)), ENC(m.set_tec_on(1, b, l)), ENC(m.set_current_precision(123.45f, b, l)), ENC(m.set_temperature_precision(25.3f, b, l)),
               ENC(m.set_current_max(150.0f * 10, b, l)), ENC(m.set_temp_max(35.5f * 100, b, l)),
               ENC(m.set_temp_min(15.0f * 100, b, l)), ENC(m.get_current(b, l)), ENC(m.get_temperature(b, l)),
               ENC(m.get_temp_max(b, l)), ENC(m.get_temp_min(b, l)), ENC(m.get_current_max(b, l))});
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));
    QCOMPARE(m.current_set, 123.45f);
    QCOMPARE(m.temp_set, 25.3f);
    QCOMPARE(m.temp_max, 35.5f);
    QCOMPARE(m.temp_min, 15.0f);
    QCOMPARE(m.current_max, 150.0f); // hundredths even after temperature limits
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
    QCOMPARE(link.state.device_type.load(), type);
    const bool is_ps = type == sim_board::type_ps;
    pulse_model_struct& m = link.channel.pulse(); // thermistor/TEC fields: see the encoder and reply tables
    ns_model_struct& ns = link.state.ns_model;
    // PS truncates the temperature, NS rounds: 22.5 survives both, 25.3 only NS.
    const float temperature = is_ps ? 22.5f : 25.3f;
    link.send({is_ps ? encoder_call(ENC(link.state.ps_model.set_temperature(temperature, b, l)))
                     : encoder_call(ENC(ns.set_temperature(temperature, b, l))),
               ENC(m.set_tec_on(1, b, l)), ENC(m.set_voltage(12.3f, b, l)), ENC(m.set_voltage_on(1, b, l)),
               ENC(m.set_pulsed_laser_on(1, b, l)), ENC(m.set_frequency(12500.0f, b, l)),
               ENC(m.set_pulse_gated(5, b, l)), ENC(m.set_pulse_cutted(3, b, l)), ENC(m.set_mode(2, b, l)),
               ENC(m.set_voltage_max(100.0f, b, l)), ENC(m.set_voltage_min(0.5f, b, l)),
               ENC(m.set_temp_max(40.0f, b, l)), ENC(m.set_temp_min(-5.0f, b, l)),
               ENC(m.get_tec_on(b, l)), ENC(m.get_pulsed_laser_on(b, l)), ENC(m.get_voltage_on(b, l)),
               ENC(m.get_voltage(b, l)), ENC(m.get_temperature(b, l)), ENC(m.get_frequency(b, l)),
               ENC(m.get_pulse_gated(b, l)), ENC(m.get_pulse_cutted(b, l)), ENC(m.get_mode(b, l)),
               ENC(m.get_voltage_max(b, l)), ENC(m.get_voltage_min(b, l)), ENC(m.get_temp_max(b, l)),
               ENC(m.get_temp_min(b, l))});
    if (!is_ps)
        link.send({ENC(ns.set_pulse_width(2.5f, b, l)), ENC(ns.get_pulse_width(b, l))});
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));

    QVERIFY(m.tec_on && m.laser_on && m.voltage_on);
    QCOMPARE(m.voltage, 12.3f);
    QCOMPARE(m.voltage_set, 12.3f);
    QCOMPARE(m.temp_set, temperature);
    QCOMPARE(m.frequency_set, 12500);
    QCOMPARE(m.pulse_gated_set, 5);
    QCOMPARE(m.pulse_cutted_set, 3);
    QCOMPARE(m.mode_names[m.mode], QString("Ext: Burst"));
    QCOMPARE(m.burst_enabled, 1);
    QCOMPARE(link.channel.sync[sync_slot::mode], sync_state::adopted);
    QCOMPARE(m.voltage_max, 100.0f);
    QCOMPARE(m.voltage_min, 0.5f);
    QCOMPARE(m.temp_max, 40.0f);
    QCOMPARE(m.temp_min, -5.0f);
    if (!is_ps)
        QCOMPARE(ns.pulse_width_set, 2.5f);

    // Internal trigger: code 3 on PS, 0 on NS.
    link.send({ENC(m.set_mode(is_ps ? 3 : 0, b, l)), ENC(m.get_mode(b, l))});
    QCOMPARE(m.mode_names[m.mode], QString("Int: Burst"));
}

void tst_protocol_round_trip::power_dcdc()
{
    board_link link(sim_board::type_power_dcdc, 11);
    QCOMPARE(link.state.device_type.load(), driver_type::power_dcdc);
    dcdc_model_struct& m = link.state.dcdc_model;
    link.board.set_output_voltage(24.0);
    link.board.set_input_voltage(28.5);
    link.board.set_fault_flags(0x05);
    link.send({ENC(m.set_output_on(1, b, l)), ENC(m.set_current(5.25f, b, l)), ENC(m.get_output_on(b, l)),
               ENC(m.get_current(b, l)), ENC(m.get_output_voltage(b, l)), ENC(m.get_input_voltage(b, l)),
               ENC(m.get_fault_flags(b, l))});
    QVERIFY2(link.faults.isEmpty(), qPrintable(link.faults.join('\n')));
    QVERIFY(m.output_on);
    QCOMPARE(m.current, 5.25f);
    QCOMPARE(m.current_set, 5.25f);
    QCOMPARE(m.output_voltage, 24.0f);
    QCOMPARE(m.input_voltage, 28.5f);
    QCOMPARE(m.fault_flags, uint16_t(0x05));

    link.send({ENC(m.clear_errors(b, l)), ENC(m.get_fault_flags(b, l)), ENC(m.set_output_on(0, b, l)),
               ENC(m.get_output_on(b, l)), ENC(m.get_current(b, l))});
    QCOMPARE(m.fault_flags, uint16_t(0));
    QVERIFY(!m.output_on);
    QCOMPARE(m.current, 0.0f);
}

QTEST_GUILESS_MAIN(tst_protocol_round_trip)
#include "tst_protocol_round_trip.moc"
