// The boards through a CAN interface instead of the serial adapter: frame
// and name conversions, then a whole session over a private virtual bus.
#include "can_fixture.h"
#include "can_frame_codec.h"
#include "can_port_name.h"
#include "command_line.h"
#include "driver_type.h"
#include "laser_object.h"
#include "laser_params.h"
#include "poll_sequences.h"
#include "serial_fixture.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QProcess>
#include <QTcpSocket>
#include <QUrl>

namespace {

using namespace poll_sequences;

QCanBusFrame frame(uint32_t id, const QByteArray& data, bool extended = false, bool fd = false,
                   QCanBusFrame::FrameType type = QCanBusFrame::DataFrame)
{
    QCanBusFrame f(id, data);
    f.setExtendedFrameFormat(extended);
    f.setFlexibleDataRateFormat(fd);
    f.setFrameType(type);
    return f;
}

} // namespace

class tst_can : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { serial_log::install(); }
    void conversions();
    void session_over_virtual_bus();
};

void tst_can::conversions()
{
    const QByteArray eight("\xD0\x09\x00\x00\x00\x00\xFF\x08", 8);
    const struct
    {
        const char* label;
        QCanBusFrame in;
        can_frame_verdict verdict;
    } frames[] = {
        {"standard, 8 bytes", frame(0x123, eight), can_frame_verdict::taken},
        {"extended identifier", frame(0x123, eight, true), can_frame_verdict::extended_id},
        {"remote", frame(0x123, QByteArray(), false, false, QCanBusFrame::RemoteRequestFrame), can_frame_verdict::remote},
        {"error frame", frame(0, QByteArray(8, 0), false, false, QCanBusFrame::ErrorFrame), can_frame_verdict::error_frame},
        {"7 bytes", frame(0x123, eight.left(7)), can_frame_verdict::wrong_length},
        {"no bytes", frame(0x123, QByteArray()), can_frame_verdict::wrong_length},
        {"flexible data rate, 8 bytes", frame(0x123, eight, false, true), can_frame_verdict::flexible_data_rate},
        {"flexible data rate, 12 bytes", frame(0x123, eight + "1234", false, true), can_frame_verdict::flexible_data_rate},
        {"9 bytes classic", frame(0x123, eight + "9"), can_frame_verdict::invalid},
    };
    for (const auto& r : frames) {
        serial_message_struct msg;
        msg.id = 0xFFF;
        QVERIFY2(frame_to_record(r.in, msg) == r.verdict, r.label);
        const bool taken = r.verdict == can_frame_verdict::taken;
        QVERIFY2(msg.id == (taken ? 0x123u : 0xFFFu) && msg.data[6] == (taken ? 0xFFu : 0u), r.label);
    }

    // Transmit lines: only frame lines become frames, and back to the same line.
    const uint32_t d[8] = {0x16, 0, 0, 0, 0, 0, 0x27, 0x10};
    const QByteArray line = frame_line(0x7EF, d);
    const struct
    {
        QByteArray text;
        bool ok;
    } lines[] = {{line, true}, {line.left(21), true}, {line.toLower().replace("t7ef", "t7EF"), true},
                 {"S6\r", false}, {"O\r", false}, {line.left(20) + "\r", false}, {line.left(21) + "00\r", false},
                 {"T" + line.mid(1), false}, {line.left(5) + "G" + line.mid(6), false}};
    for (const auto& r : lines) {
        QCanBusFrame f;
        QVERIFY2(line_to_frame(r.text.constData(), r.text.size(), f) == r.ok, r.text);
        serial_message_struct back;
        QVERIFY2(!r.ok || (frame_to_record(f, back) == can_frame_verdict::taken && frame_line(back.id, back.data) == line),
                 r.text);
    }

    // Port names: PLUGIN:INTERFACE is a CAN interface, kept as given on the command line.
    const struct
    {
        QString text;
        QString plugin, iface; // empty: a serial port
    } names[] = {
        {"socketcan:can0", "socketcan", "can0"},
        {"virtualcan:tcp://127.0.0.1:35470/can0", "virtualcan", "tcp://127.0.0.1:35470/can0"},
        {"/dev/ttyUSB0", "", ""}, {"ttyACM0", "", ""}, {"dev/tty:1", "", ""},
        {"Virtual:can0", "", ""}, {":can0", "", ""}, {"peakcan:", "", ""},
    };
    for (const auto& r : names) {
        can_port_name n;
        const bool can = can_port_name::parse(r.text, n);
        QVERIFY2(can == !r.plugin.isEmpty() && (!can || (n.plugin == r.plugin && n.interface_name == r.iface)),
                 qPrintable(r.text));
        command_line options;
        QCOMPARE(options.parse({"corvane-studio", "--port", r.text}), command_line::run);
        QVERIFY2((options.ports.value(0) == r.text) == (can || r.text.startsWith('/') || !r.text.contains('/')),
                 qPrintable(r.text));
    }
}

void tst_can::session_over_virtual_bus()
{
    e2e::working_dir wd;
    const int types[] = {driver_type::cw, driver_type::precision_cw, driver_type::ps,
                         driver_type::ns, driver_type::soa_ns, driver_type::power_dcdc};
    can_e2e::can_sim bus(wd.path(), {{types[0], 1}, {types[1], 2}, {types[2], 3}, {types[3], 4}, {types[4], 5}, {types[5], 6}});
    // The simulator process opens first and hosts the bus; the boards join through the bridge.
    QProcess host;
    host.start(CORVANE_SIM_PATH, {"--bus", bus.bus, "--board", "cw:99"});
    QVERIFY(host.waitForReadyRead(5000) && host.readAll().startsWith("corvane-sim: serving CAN bus"));
    QVERIFY(bus.start());
    laser_params params;
    auto w = std::make_unique<MainWindow>(nullptr, QStringList{"socketcan:nosuch0", bus.bus});
    w->params_window = &params;
    Ui::MainWindow* ui = w->form();
    QComboBox* ports = ui->serial_combo_box;
    QCOMPARE(ports->itemText(ports->count() - 1), "\"Virtual CAN\" " + bus.bus.mid(11));
    // An interface the system does not have: refused, and said so.
    ports->setCurrentIndex(ports->count() - 2);
    ui->connect_button_2->click();
    QTRY_VERIFY(serial_log::lines.contains("CAN interface ERROR: CAN interface nosuch0 not found"));
    QVERIFY(!w->connected);
    ports->setCurrentIndex(ports->count() - 1);
    // Slot 7 names a board that is not there: only frames refused below could make it known.
    e2e::configure_channels(*w, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 9}});
    // A click while the refused attempt is still unanswered is ignored: click until one goes.
    QTRY_VERIFY_WITH_TIMEOUT(w->connected || (ui->connect_button_2->click(), false), 5000);
    for (int i = 0; i < 6; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(w->channel(i)->laser_name_label->text(), driver_type::name(types[i]) + " Driver", 10000);

    // Polls as over the serial adapter: each board's passes are its type's sequence, or
    // identification alone; wait for two full passes of each, then check every pass.
    const QVector<int> expected[] = {cw_poll, cw_poll, ps_poll, ns_poll, ns_poll, dcdc_poll};
    const auto passes = [&](int i) {
        auto polled = e2e::codes_to(bus.sim->received_lines(), i + 1);
        polled.erase(std::remove_if(polled.begin(), polled.end(), [](int c) { return c < 0x80 && c != 0x21; }), polled.end());
        return e2e::complete_passes(polled);
    };
    for (int i = 0; i < 6; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(passes(i).count(expected[i]) >= 2, 5000);
    for (int i = 0; i < 6; ++i) {
        for (const auto& pass : passes(i))
            QVERIFY2(pass == expected[i] || pass == identification, qPrintable(QString::number(i + 1)));
    }
    const QList<QByteArray> lines = bus.sim->received_lines();
    QCOMPARE(lines.count("O\r"), 1); // the bridge's own; no adapter command comes from the program
    QVERIFY(!lines.contains("S6\r") && !lines.contains("C\r"));
    double current = 0, temperature = 0, voltage = 0;
    QVERIFY(bus.sim->board_readings(1, current, temperature, voltage));
    QCOMPARE(w->channel(0)->temp_label->text().section(' ', 0, 0), QString::number(temperature, 'f', 1));

    // Frames no board sends, each a CW type report for CAN ID 9: counted, never decoded.
    const QByteArray cw_report("\xD0\x09\x00\x00\x00\x00\x00\x08", 8);
    const QCanBusFrame refused[] = {
        frame(9, cw_report, true), frame(9, QByteArray(), false, false, QCanBusFrame::RemoteRequestFrame),
        frame(9, cw_report.left(7) + '\0'), frame(9, cw_report.left(7)), frame(9, cw_report, false, true)};
    const quint64 before = w->refused_can_frames();
    bus.call([&] {
        for (const QCanBusFrame& f : refused)
            QVERIFY(bus.bridge.send_frame(f));
    });
    QTRY_COMPARE(w->refused_can_frames(), before + 4); // one of them is well formed, for the wrong board
    QTest::qWait(300);
    QCOMPARE(w->channel(6)->laser_name_label->text(), QString("No device"));
    bus.call([&] { bus.bridge.send_frame(frame(9, cw_report)); });
    QTRY_COMPARE(w->channel(6)->laser_name_label->text(), QString("CW Type Driver"));

    // Another client of the bus sends lines that are no frames: the simulator
    // hosting the bus drops and counts them; nobody on the bus sees them.
    QTcpSocket rogue;
    rogue.connectToHost(QHostAddress::LocalHost, quint16(QUrl(bus.bus.mid(11)).port()));
    QVERIFY(rogue.waitForConnected(3000));
    rogue.write("connect:can0\ncan0:291\ncan0:291#\ncan0:abc##00\ncan0:291##0\n");
    QByteArray said;
    QTRY_VERIFY((said += host.readAllStandardError()).contains("malformed frame from a bus client ignored (4 so far)"));
    QCOMPARE(host.state(), QProcess::Running); // and the bus serves on below

    // A set-point from the parameters window reaches the board three times.
    w->channel(0)->config_button->click();
    bus.sim->clear_received_lines();
    params.findChild<QDoubleSpinBox*>("res_set_spin")->setValue(10000);
    params.findChild<QPushButton*>("res_set_but")->click();
    QTRY_COMPARE(e2e::codes_to(bus.sim->received_lines(), 1).count(0x16), 3);
    int32_t value = 0;
    QVERIFY(bus.sim->board_register(1, 0x16, value) && value == 10000);
    params.close();
    // Disconnect and connect again by hand.
    ui->connect_button_2->click();
    QTRY_VERIFY(!w->connected);
    ui->connect_button_2->click();
    QTRY_VERIFY(w->connected);

    // The bus's host leaves: disconnected. The bridge rejoins (hosting the bus now;
    // in one process the virtual bus works only from the thread that hosts it, so
    // the program comes second), and auto connection brings the program back.
    host.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!w->connected, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(bus.bridge.on_bus.load(), 5000);
    ui->connection_mode->click();
    QTRY_VERIFY_WITH_TIMEOUT(w->connected, 5000);
    bus.sim->clear_received_lines();
    QTRY_VERIFY_WITH_TIMEOUT(e2e::codes_to(bus.sim->received_lines(), 1).contains(0x91), 5000);
    w->close();
}

QTEST_MAIN(tst_can)
#include "tst_can.moc"
