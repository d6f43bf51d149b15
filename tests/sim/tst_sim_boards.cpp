// The simulated boards at the byte level. The codec round trip through them
// (encoders -> board -> decoder) lives in tst_protocol_round_trip; here only
// what the boards themselves model: which codes they answer, the reply
// layout, emission and output gating, the derived readings, settling, and
// the board setups of the command line.

#include "sim_board.h"
#include "sim_config.h"

#include <QtTest>

namespace {

// Sends one request; returns whether the board answered, and its value.
bool ask(sim_board& board, std::initializer_list<int> bytes, int64_t t = 0, int32_t* value = nullptr)
{
    uint8_t request[8] = {};
    std::copy(bytes.begin(), bytes.end(), request);
    uint8_t reply[8] = {};
    if (!board.handle(request, t, reply))
        return false;
    if (value)
        *value = int32_t(uint32_t(reply[4]) << 24 | reply[5] << 16 | reply[6] << 8 | reply[7]);
    // Byte 0 repeats the code, byte 1 carries the board's CAN ID, 2 and 3 are 0.
    return reply[0] == request[0] && reply[1] == board.can_id() && reply[2] == 0 && reply[3] == 0;
}

int32_t value_of(sim_board& board, int code)
{
    int32_t v = -999999;
    ask(board, {code}, 0, &v);
    return v;
}

// A set command: code, then the value big-endian in bytes 4..7.
void set(sim_board& board, int code, int32_t v)
{
    QVERIFY(!ask(board, {code, 0, 0, 0, v >> 24 & 0xFF, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}));
}

} // namespace

class tst_sim_boards : public QObject
{
    Q_OBJECT

private slots:
    void every_family_answers_its_get_requests_only_data();
    void every_family_answers_its_get_requests_only();
    void emission_gates_the_readings();
    void readings_settle_over_time();
    void can_id_change_and_board_setups();
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
    QCOMPARE(value_of(board, 0xD0), type);
    QCOMPARE(value_of(board, 0xD1), 42);
    for (int code = 0xFF; code >= 0; --code) // set codes (< 0x80) are never answered
        QVERIFY2(ask(board, {code}) == codes.contains(code), qPrintable(QString::number(code, 16)));
}

void tst_sim_boards::emission_gates_the_readings()
{
    sim_board cw(sim_board::type_cw, 5);
    cw.set_settle_ms(0);
    set(cw, 0x11, 1234); // 123.4 mA
    QCOMPARE(value_of(cw, 0x91), 0); // emission off: no current, no power
    QCOMPARE(value_of(cw, 0x94), 0);
    set(cw, 0x10, 1);
    QCOMPARE(value_of(cw, 0x91), 1234);
    QCOMPARE(value_of(cw, 0x94), 947); // 0.8 mW/mA above 5 mA
    set(cw, 0x10, 0);
    QCOMPARE(value_of(cw, 0x91), 0);

    for (int type : {sim_board::type_ps, sim_board::type_ns, sim_board::type_soa_ns}) {
        sim_board pulsed(type, 7);
        pulsed.set_settle_ms(0);
        set(pulsed, 0x18, 125);
        QCOMPARE(value_of(pulsed, 0x98), 0); // voltage reads 0 until the pulsed output is on
        set(pulsed, 0x22, 1);
        QCOMPARE(value_of(pulsed, 0x98), 125);
        set(pulsed, 0x22, 0);
        set(pulsed, 0x20, 1); // the voltage output alone drives it too
        QCOMPARE(value_of(pulsed, 0x98), 125);
        set(pulsed, 0x20, 0);
        QCOMPARE(value_of(pulsed, 0x98), 0);
        QCOMPARE(pulsed.voltage_reading(), 0.0);
        // Mode codes of PS and NS differ; both come back as sent.
        set(pulsed, 0x24, 2);
        QCOMPARE(value_of(pulsed, 0xA4), 2);
    }

    sim_board dcdc(sim_board::type_power_dcdc, 11);
    dcdc.set_settle_ms(0);
    dcdc.set_fault_flags(0x12);
    set(dcdc, 0x11, 525);
    QCOMPARE(value_of(dcdc, 0x91), 0);
    set(dcdc, 0x10, 1);
    QCOMPARE(value_of(dcdc, 0x91), 525);
    QCOMPARE(value_of(dcdc, 0x92), 355); // 25 + 2 degrees per ampere
    QCOMPARE(value_of(dcdc, 0xB0), 0x12);
    set(dcdc, 0x29, 0);
    QCOMPARE(value_of(dcdc, 0xB0), 0);
}

void tst_sim_boards::readings_settle_over_time()
{
    sim_board board(sim_board::type_cw, 1);
    board.set_settle_ms(1000);
    const auto send = [&](std::initializer_list<int> bytes, int64_t t) { ask(board, bytes, t); };
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

void tst_sim_boards::can_id_change_and_board_setups()
{
    sim_board board(sim_board::type_ns, 3);
    set(board, 0x51, 44);
    QCOMPARE(board.can_id(), 44);
    QCOMPARE(value_of(board, 0xD1), 44);

    struct setup_case
    {
        const char* text;
        bool ok;
        int type;
        int can_id;
    };
    const setup_case cases[] = {
        {"cw:1", true, 8, 1},           {"Precision-CW:0x10", true, 10, 16}, {"pcw:2", true, 10, 2},
        {"ps:3", true, 7, 3},           {"ns:255", true, 6, 255},            {"soa-ns:4", true, 13, 4},
        {"dcdc:5:out=12.5,in=30,faults=0x81", true, 11, 5},
        {"cw", false, 0, 0},            {"laser:1", false, 0, 0},            {"cw:256", false, 0, 0},
        {"dcdc:5:volts=3", false, 0, 0}, {"cw:x", false, 0, 0},
    };
    for (const setup_case& c : cases) {
        sim_board_setup setup;
        QString error;
        QCOMPARE(sim_config::parse_board(c.text, setup, error), c.ok);
        if (!c.ok) {
            QVERIFY(!error.isEmpty());
            continue;
        }
        QCOMPARE(setup.type_code, c.type);
        QCOMPARE(setup.can_id, c.can_id);
        QCOMPARE(sim_board::type_code_from_name(sim_board::type_name(setup.type_code)), setup.type_code);
    }
    sim_board_setup setup;
    QString error;
    QVERIFY(sim_config::parse_board("dcdc:5:out=12.5,in=30,faults=0x81", setup, error));
    QCOMPARE(setup.output_voltage, 12.5);
    QCOMPARE(setup.input_voltage, 30.0);
    QCOMPARE(setup.fault_flags, 0x81);
}

QTEST_APPLESS_MAIN(tst_sim_boards)
#include "tst_sim_boards.moc"
