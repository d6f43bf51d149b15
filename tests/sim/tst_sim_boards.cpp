// The simulated boards against the program's own encoders and decoder: every
// set command goes through the real encoder, every reading comes back through
// the real decoder, so a scaling or layout mismatch on either side shows up.

#include "driver_decoder.h"
#include "driver_state.h"
#include "rx_line_cutter.h"
#include "sim_board.h"
#include "sim_config.h"

#include <QtTest>
#include <functional>

namespace {

using encoder = std::function<void(char*, uint32_t*)>;

struct bench
{
    sim_board board;
    driver_state state;
    setpoint_sync_slots sync{};
    int64_t now_ms = 0;
    serial_message_struct last_reply;

    bench(int type, int can_id) : board(type, can_id)
    {
        board.set_settle_ms(0);
        state.set_can_id(can_id);
    }

    // Encodes a frame, hands it to the board and decodes the reply if any.
    bool send(const encoder& encode)
    {
        char line[22];
        uint32_t len = 0;
        encode(line, &len);
        serial_message_struct request;
        if (len != 22 || !scan_rx_line(line, 21, request) || line[21] != '\r')
            return false;
        uint8_t data[8];
        for (int k = 0; k < 8; ++k)
            data[k] = uint8_t(request.data[k]);
        uint8_t reply[8];
        if (!board.handle(data, now_ms, reply))
            return false;
        last_reply.id = uint32_t(board.can_id());
        for (int k = 0; k < 8; ++k)
            last_reply.data[k] = reply[k];
        decode_driver_message(state, sync, last_reply);
        return true;
    }
};

bool answers(sim_board& board, int code)
{
    const uint8_t request[8] = {uint8_t(code), 0, 0, 0, 0, 0, 0, 0};
    uint8_t reply[8] = {};
    if (!board.handle(request, 0, reply))
        return false;
    // Byte 0 repeats the code, byte 1 carries the board's CAN ID, 2 and 3 are 0.
    return reply[0] == code && reply[1] == board.can_id() && reply[2] == 0 && reply[3] == 0;
}

} // namespace

class tst_sim_boards : public QObject
{
    Q_OBJECT

private slots:
    void every_family_answers_its_get_requests_only_data();
    void every_family_answers_its_get_requests_only();
    void cw_round_trip();
    void precision_cw_round_trip();
    void pulsed_round_trip_data();
    void pulsed_round_trip();
    void dcdc_round_trip();
    void readings_settle_over_time();
    void can_id_change_and_board_specs();
};

void tst_sim_boards::every_family_answers_its_get_requests_only_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("codes");
    const QList<int> cw = {0x90, 0x91, 0x92, 0x94, 0x95, 0x96, 0x97, 0xA1, 0xA5, 0xA6, 0xB3, 0xB6, 0xB7, 0xD0, 0xD1};
    const QList<int> ps = {0x92, 0x95, 0x96, 0x97, 0x98, 0x99, 0xA0, 0xA1, 0xA2, 0xA4, 0xA5, 0xA6,
                           0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xD0, 0xD1};
    QTest::newRow("cw") << sim_board::type_cw << cw;
    QTest::newRow("precision cw") << sim_board::type_precision_cw << cw;
    QTest::newRow("ps") << sim_board::type_ps << ps;
    QTest::newRow("ns") << sim_board::type_ns << ps + QList<int>{0xA3};
    QTest::newRow("soa ns") << sim_board::type_soa_ns << ps + QList<int>{0xA3};
    QTest::newRow("dcdc") << sim_board::type_power_dcdc << QList<int>{0x90, 0x91, 0x92, 0x94, 0xA6, 0xB0, 0xD0, 0xD1};
}

void tst_sim_boards::every_family_answers_its_get_requests_only()
{
    QFETCH(int, type);
    QFETCH(QList<int>, codes);
    sim_board board(type, 42);
    for (int code = 0x80; code <= 0xFF; ++code)
        QVERIFY2(answers(board, code) == codes.contains(code), qPrintable(QString::number(code, 16)));
    // Set codes are never answered.
    for (int code = 0x00; code < 0x80; ++code) {
        const uint8_t request[8] = {uint8_t(code), 0, 0, 0, 0, 0, 0, 0};
        uint8_t reply[8];
        QVERIFY(!board.handle(request, 0, reply));
    }
}

void tst_sim_boards::cw_round_trip()
{
    bench b(sim_board::type_cw, 5);
    cw_model_struct& m = b.state.cw_model;
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_device_type(l, n); }));
    QCOMPARE(b.state.device_type.load(), 8);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_can_id(l, n); }));
    QCOMPARE(b.state.reported_can_id, 5);

    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current(123.4f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temperature(25.3f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_tec_on(1, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_thermistor_beta(3977, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_thermistor_r25(47000, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_monitor_responsivity(0.35f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_max_tec_current(1.2f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temp_min(-10.0f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temp_max(40.0f, l, n); }));

    // Emission off: no current, no power.
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 0.0f);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_laser_on(1, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_laser_on(l, n); }));
    QVERIFY(m.laser_on);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 123.4f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_power(l, n); }));
    QCOMPARE(m.power, 94.7f); // 0.8 mW/mA above 5 mA
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temperature(l, n); }));
    QCOMPARE(m.temperature, 25.2f); // the encoder truncates 252.99...
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_tec_on(l, n); }));
    QVERIFY(m.tec_on);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_thermistor_beta(l, n); }));
    QCOMPARE(m.thermistor_beta, 3977);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_thermistor_r25(l, n); }));
    QCOMPARE(m.thermistor_r25, 47000);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_monitor_responsivity(l, n); }));
    QCOMPARE(m.monitor_responsivity, 0.34f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_max_tec_current(l, n); }));
    QCOMPARE(m.max_tec_current, 1.2f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temp_min(l, n); }));
    QCOMPARE(m.temp_min, -10.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temp_max(l, n); }));
    QCOMPARE(m.temp_max, 40.0f);
    // With the temperature limits reported, current limits travel in tenths.
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current_max(180.0f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current_min(2.5f, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current_max(l, n); }));
    QCOMPARE(m.current_max, 180.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current_min(l, n); }));
    QCOMPARE(m.current_min, 2.5f);

    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_laser_on(0, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 0.0f);
}

void tst_sim_boards::precision_cw_round_trip()
{
    bench b(sim_board::type_precision_cw, 6);
    cw_model_struct& m = b.state.cw_model;
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_device_type(l, n); }));
    QCOMPARE(b.state.device_type.load(), 10);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current_precision(123.45f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temperature_precision(25.3f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_tec_on(1, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_laser_on(1, l, n); }));
    // The parameters window hands limits over scaled: x100 for temperatures, x10 for currents.
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temp_max(35.5f * 100, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temp_min(12.0f * 100, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current_max(250.0f * 10, l, n); }));

    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 123.45f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temperature(l, n); }));
    QCOMPARE(m.temperature, 25.3f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temp_max(l, n); }));
    QCOMPARE(m.temp_max, 35.5f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temp_min(l, n); }));
    QCOMPARE(m.temp_min, 12.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current_max(l, n); }));
    QCOMPARE(m.current_max, 250.0f);
}

void tst_sim_boards::pulsed_round_trip_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("ps") << sim_board::type_ps;
    QTest::newRow("ns") << sim_board::type_ns;
    QTest::newRow("soa ns") << sim_board::type_soa_ns;
}

void tst_sim_boards::pulsed_round_trip()
{
    QFETCH(int, type);
    bench b(type, 7);
    const bool ps = type == sim_board::type_ps;
    pulse_model_struct& m = ps ? static_cast<pulse_model_struct&>(b.state.ps_model)
                               : static_cast<pulse_model_struct&>(b.state.ns_model);
    const auto set_temperature = [&](float v) {
        return b.send([&](char* l, uint32_t* n) {
            if (ps)
                b.state.ps_model.set_temperature(v, l, n);
            else
                b.state.ns_model.set_temperature(v, l, n);
        });
    };
    QVERIFY(b.send([&](char* l, uint32_t* n) { b.state.cw_model.get_device_type(l, n); }));
    QCOMPARE(b.state.device_type.load(), type);

    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_voltage(12.5f, l, n); }));
    QVERIFY(!set_temperature(-5.0f));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_tec_on(1, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_frequency(50000, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_voltage_max(250.0f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_voltage_min(1.5f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_temp_max(45.0f, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_thermistor_r25(100000, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_max_tec_current(2.5f, l, n); }));

    // Voltage reads 0 until the pulsed output is on.
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage(l, n); }));
    QCOMPARE(m.voltage, 0.0f);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_voltage_on(1, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_pulsed_laser_on(1, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_pulsed_laser_on(l, n); }));
    QVERIFY(m.laser_on);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage_on(l, n); }));
    QVERIFY(m.voltage_on);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage(l, n); }));
    QCOMPARE(m.voltage, 12.5f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temperature(l, n); }));
    QCOMPARE(m.temperature, -5.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_frequency(l, n); }));
    QCOMPARE(m.frequency, 50000);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage_max(l, n); }));
    QCOMPARE(m.voltage_max, 250.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage_min(l, n); }));
    QCOMPARE(m.voltage_min, 1.5f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temp_max(l, n); }));
    QCOMPARE(m.temp_max, 45.0f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_thermistor_r25(l, n); }));
    QCOMPARE(ps ? b.state.ps_model.thermistor_r25 : b.state.ns_model.thermistor_r25, 100000 & 0xFFFF);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_max_tec_current(l, n); }));
    QCOMPARE(ps ? b.state.ps_model.max_tec_current : b.state.ns_model.max_tec_current, 2.5f);

    // Mode codes come back as the panel's mode index.
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_mode(2, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_mode(l, n); }));
    QCOMPARE(m.mode, 2); // "Ext: Normal"
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_pulse_gated(5, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_pulse_cutted(7, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_pulse_gated(l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_pulse_cutted(l, n); }));
    QCOMPARE(m.pulse_gated, 5);
    QCOMPARE(m.pulse_cutted, 7);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_mode(int8_t(ps ? 3 : 0), l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_mode(l, n); }));
    QCOMPARE(m.mode, 1); // "Int: Burst"

    if (!ps) {
        ns_model_struct& ns = b.state.ns_model;
        QVERIFY(!b.send([&](char* l, uint32_t* n) { ns.set_pulse_width(12.3f, l, n); }));
        QVERIFY(b.send([&](char* l, uint32_t* n) { ns.get_pulse_width(l, n); }));
        QCOMPARE(ns.pulse_width, 12.3f);
    }
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_pulsed_laser_on(0, l, n); }));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_voltage_on(0, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_voltage(l, n); }));
    QCOMPARE(b.board.voltage_reading(), 0.0);
}

void tst_sim_boards::dcdc_round_trip()
{
    bench b(sim_board::type_power_dcdc, 11);
    dcdc_model_struct& m = b.state.dcdc_model;
    QVERIFY(b.send([&](char* l, uint32_t* n) { b.state.cw_model.get_device_type(l, n); }));
    QCOMPARE(b.state.device_type.load(), 11);
    b.board.set_output_voltage(36.2);
    b.board.set_input_voltage(47.9);
    b.board.set_fault_flags(0x12);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_current(5.25f, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 0.0f);
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.set_output_on(1, l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_output_on(l, n); }));
    QVERIFY(m.output_on);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_current(l, n); }));
    QCOMPARE(m.current, 5.25f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_temperature(l, n); }));
    QCOMPARE(m.temperature, 35.5f); // 25 + 2 per ampere
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_output_voltage(l, n); }));
    QCOMPARE(m.output_voltage, 36.2f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_input_voltage(l, n); }));
    QCOMPARE(m.input_voltage, 47.9f);
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_fault_flags(l, n); }));
    QCOMPARE(m.fault_flags, uint16_t(0x12));
    QVERIFY(!b.send([&](char* l, uint32_t* n) { m.clear_errors(l, n); }));
    QVERIFY(b.send([&](char* l, uint32_t* n) { m.get_fault_flags(l, n); }));
    QCOMPARE(m.fault_flags, uint16_t(0));
}

void tst_sim_boards::readings_settle_over_time()
{
    sim_board board(sim_board::type_cw, 1);
    board.set_settle_ms(1000);
    const auto send = [&](std::initializer_list<int> bytes, int64_t t) {
        uint8_t request[8] = {};
        std::copy(bytes.begin(), bytes.end(), request);
        uint8_t reply[8];
        board.handle(request, t, reply);
    };
    send({0x11, 0, 0, 0, 0, 0, 0x03, 0xE8}, 0); // 100.0 mA
    send({0x12, 0, 0, 0, 0, 0, 0x00, 0x96}, 0); // 15.0 degrees
    send({0x21, 0, 0, 0, 0, 0, 0, 1}, 0);
    send({0x10, 0, 0, 0, 0, 0, 0, 1}, 0);
    send({0x91}, 100);
    QVERIFY(board.current_reading() > 10.0 && board.current_reading() < 90.0);
    QVERIFY(board.temperature_reading() < 25.0 && board.temperature_reading() > 15.0);
    send({0x91}, 5000);
    QCOMPARE(board.current_reading(), 100.0);
    QCOMPARE(board.temperature_reading(), 15.0);
    send({0x10, 0, 0, 0, 0, 0, 0, 0}, 5000);
    send({0x91}, 5100);
    QVERIFY(board.current_reading() > 0.0 && board.current_reading() < 90.0);
    send({0x91}, 10000);
    QCOMPARE(board.current_reading(), 0.0);
}

void tst_sim_boards::can_id_change_and_board_specs()
{
    sim_board board(sim_board::type_ns, 3);
    const uint8_t set_id[8] = {0x51, 0, 0, 0, 0, 0, 0, 44};
    uint8_t reply[8];
    QVERIFY(!board.handle(set_id, 0, reply));
    QCOMPARE(board.can_id(), 44);
    QVERIFY(answers(board, 0xD1));

    struct spec_case
    {
        const char* text;
        bool ok;
        int type;
        int can_id;
    };
    const spec_case cases[] = {
        {"cw:1", true, 8, 1},           {"Precision-CW:0x10", true, 10, 16}, {"pcw:2", true, 10, 2},
        {"ps:3", true, 7, 3},           {"ns:255", true, 6, 255},            {"soa-ns:4", true, 13, 4},
        {"dcdc:5:out=12.5,in=30,faults=0x81", true, 11, 5},
        {"cw", false, 0, 0},            {"laser:1", false, 0, 0},            {"cw:256", false, 0, 0},
        {"dcdc:5:volts=3", false, 0, 0}, {"cw:x", false, 0, 0},
    };
    for (const spec_case& c : cases) {
        sim_board_spec spec;
        QString error;
        QCOMPARE(sim_config::parse_board(c.text, spec, error), c.ok);
        if (!c.ok) {
            QVERIFY(!error.isEmpty());
            continue;
        }
        QCOMPARE(spec.type_code, c.type);
        QCOMPARE(spec.can_id, c.can_id);
        QCOMPARE(sim_board::type_code_from_name(sim_board::type_name(spec.type_code)), spec.type_code);
    }
    sim_board_spec spec;
    QString error;
    QVERIFY(sim_config::parse_board("dcdc:5:out=12.5,in=30,faults=0x81", spec, error));
    QCOMPARE(spec.output_voltage, 12.5);
    QCOMPARE(spec.input_voltage, 30.0);
    QCOMPARE(spec.fault_flags, 0x81);
}

QTEST_APPLESS_MAIN(tst_sim_boards)
#include "tst_sim_boards.moc"
