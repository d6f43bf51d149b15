#include "build_can_frame.h"
#include "bus_simulator.h"
#include "serial_object.h"
#include "sim_board.h"

#include <QtTest>
#include <sys/resource.h>

namespace {

// Debug texts of every thread, collected in the test's thread.
QStringList debug_log;
QtMessageHandler previous_handler = nullptr;

void capture_messages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    QMetaObject::invokeMethod(qApp, [text] { debug_log.append(text); }, Qt::QueuedConnection);
    previous_handler(type, context, text);
}

QByteArray request(int can_id, int code, int value = 0)
{
    char buf[22];
    uint32_t len = 0;
    build_can_frame(can_id, int8_t(code), 0, 0, 0, int8_t(value >> 24), int8_t(value >> 16),
                    int8_t(value >> 8), int8_t(value), buf, &len);
    return QByteArray(buf, int(len));
}

double cpu_seconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

const QList<QByteArray> adapter_start_up = {"S6\r", "S6\r", "S6\r", "O\r", "O\r", "O\r"};

} // namespace

// Stands in for the main window: the same signals and slots, wired the same
// way, so everything the serial thread reports arrives queued in this thread.
class window_side : public QObject
{
    Q_OBJECT
signals:
    void sig_connect_serial();
    void sig_disconnect_serial();
    void sig_serial_conf(serial_conf_struct conf);
    void sig_write(QByteArray data);

    void connected();
    void disconnected();
    void received(serial_message_struct sm);

public slots:
    void sl_serial_connected() { emit connected(); }
    void sl_serial_disconnected() { emit disconnected(); }
    void handle_rx_can_message(serial_message_struct sm) { emit received(sm); }
};

class tst_serial_object : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connect_starts_the_adapter_every_time();
    void mini_usb_mode_sends_no_adapter_command();
    void open_failures_report_disconnected();
    void unplug_is_one_disconnect_without_spinning();
    void replies_and_bursts_arrive_as_records();
    void shutdown_writes_what_was_queued();

private:
    void start_sim(bool direct);
    void connect_port(bool mini_usb);
    QList<serial_message_struct> records() const;

    QTemporaryDir dir;
    int sim_count = 0;
    std::unique_ptr<bus_simulator> sim;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<serial_object> serial;
    std::unique_ptr<window_side> window;
    std::unique_ptr<QSignalSpy> connected;
    std::unique_ptr<QSignalSpy> disconnected;
    std::unique_ptr<QSignalSpy> rx;
};

void tst_serial_object::initTestCase()
{
    QVERIFY(dir.isValid());
    previous_handler = qInstallMessageHandler(capture_messages);
}

void tst_serial_object::init()
{
    debug_log.clear();
    window = std::make_unique<window_side>();
    thread = std::make_unique<QThread>();
    serial = std::make_unique<serial_object>();
    connect(thread.get(), &QThread::started, serial.get(), &serial_object::sl_start_port_process);
    connect(window.get(), &window_side::sig_connect_serial, serial.get(), &serial_object::sl_connect_serial);
    connect(window.get(), &window_side::sig_serial_conf, serial.get(), &serial_object::sl_serial_conf);
    connect(window.get(), &window_side::sig_disconnect_serial, serial.get(), &serial_object::sl_disconnect_serial);
    connect(window.get(), &window_side::sig_write, serial.get(), &serial_object::sl_write_to_port);
    connect(serial.get(), &serial_object::sig_connected, window.get(), &window_side::sl_serial_connected);
    connect(serial.get(), &serial_object::sig_disconnected, window.get(), &window_side::sl_serial_disconnected);
    connect(serial.get(), &serial_object::sig_serial_rx_can_message, window.get(),
            &window_side::handle_rx_can_message);
    connected = std::make_unique<QSignalSpy>(window.get(), &window_side::connected);
    disconnected = std::make_unique<QSignalSpy>(window.get(), &window_side::disconnected);
    rx = std::make_unique<QSignalSpy>(window.get(), &window_side::received);
    serial->moveToThread(thread.get());
    serial->port.moveToThread(thread.get());
    thread->start();
    QTRY_VERIFY(debug_log.contains("start serial thread"));
}

void tst_serial_object::cleanup()
{
    QMetaObject::invokeMethod(serial.get(), &serial_object::sl_shutdown, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    rx.reset();
    connected.reset();
    disconnected.reset();
    serial.reset();
    thread.reset();
    window.reset();
    sim.reset();
}

void tst_serial_object::start_sim(bool direct)
{
    sim = std::make_unique<bus_simulator>();
    // A distinct name per simulator: the serial port library locks by name.
    sim->config.link_path = dir.filePath(QString("dev/ttyT%1_%2").arg(QCoreApplication::applicationPid()).arg(++sim_count));
    sim->config.direct_mode = direct;
    sim->config.settle_ms = 0;
    sim->config.timestamps = !direct;
    if (direct) {
        sim->add_board(sim_board::type_ps, 9);
    } else {
        sim->add_board(sim_board::type_cw, 1);
        sim->add_board(sim_board::type_precision_cw, 2);
        sim->add_board(sim_board::type_ps, 3);
        sim->add_board(sim_board::type_ns, 4);
        sim->add_board(sim_board::type_soa_ns, 5);
        sim->add_board(sim_board::type_power_dcdc, 200);
    }
    QVERIFY2(sim->start(), qPrintable(sim->last_error()));
}

void tst_serial_object::connect_port(bool mini_usb)
{
    serial_conf_struct conf;
    conf.port_name = sim->link_path();
    conf.baud_rate = mini_usb ? 57600 : 115200;
    serial->mini_usb_mode = mini_usb;
    const int before = connected->count();
    emit window->sig_serial_conf(conf);
    emit window->sig_connect_serial();
    QTRY_COMPARE_WITH_TIMEOUT(connected->count(), before + 1, 15000);
}

QList<serial_message_struct> tst_serial_object::records() const
{
    QList<serial_message_struct> out;
    for (const QList<QVariant>& args : *rx)
        out.append(args.at(0).value<serial_message_struct>());
    return out;
}

void tst_serial_object::connect_starts_the_adapter_every_time()
{
    start_sim(false);
    // Nothing reaches a port that is not open.
    emit window->sig_write(request(1, 0xD0));
    // Disconnect while closed: nothing written, nothing emitted.
    emit window->sig_disconnect_serial();

    for (int round = 0; round < 2; ++round) {
        sim->clear_received_lines();
        connect_port(false);
        QTRY_VERIFY(debug_log.contains("serial port is opened SUCCESSFULLY"));
        QTRY_COMPARE(sim->received_lines(), adapter_start_up);
        QVERIFY(sim->adapter_open());
        QCOMPARE(disconnected->count(), round);

        emit window->sig_disconnect_serial();
        QTRY_COMPARE(disconnected->count(), round + 1);
        QTRY_COMPARE(sim->received_lines(), adapter_start_up + QList<QByteArray>{"C\r"});
        QTRY_VERIFY(debug_log.contains("serial port DISONNECTED by user"));
        QVERIFY(!sim->adapter_open());
    }
    // After a disconnect, writes are dropped again.
    sim->clear_received_lines();
    emit window->sig_write(request(1, 0xD0));
    emit window->sig_disconnect_serial();
    connect_port(true); // a round trip through the serial thread
    QTest::qWait(100);
    QCOMPARE(sim->received_lines(), QList<QByteArray>{});
    QCOMPARE(disconnected->count(), 2);
    QCOMPARE(rx->count(), 0);
}

void tst_serial_object::mini_usb_mode_sends_no_adapter_command()
{
    start_sim(true);
    connect_port(true);
    emit window->sig_write(request(9, 0xD0));
    QTRY_COMPARE(rx->count(), 1);
    // The board's reply is the first and only thing that crossed: no adapter command.
    QCOMPARE(sim->received_lines(), QList<QByteArray>{request(9, 0xD0)});
    const serial_message_struct sm = records().at(0);
    QCOMPARE(sm.id, 9u);
    QCOMPARE(sm.data[0], 0xD0u);
    QCOMPARE(sm.data[1], 9u);
    QCOMPARE(sm.data[7], uint32_t(sim_board::type_ps));
    // "C\r" goes out on disconnect in mini USB mode as well.
    emit window->sig_disconnect_serial();
    QTRY_COMPARE(disconnected->count(), 1);
    QTRY_COMPARE(sim->received_lines().last(), QByteArray("C\r"));
}

void tst_serial_object::open_failures_report_disconnected()
{
    start_sim(false);
    connect_port(false);
    // A second connect while open fails and leaves the port closed.
    emit window->sig_connect_serial();
    QTRY_COMPARE(disconnected->count(), 1);
    QTRY_VERIFY(debug_log.contains("serial port open FAILED"));
    QCOMPARE(connected->count(), 1);
    sim->clear_received_lines();
    emit window->sig_write(request(1, 0xD0));
    emit window->sig_disconnect_serial(); // closed already: no "C\r", no signal
    QTest::qWait(200);
    QCOMPARE(sim->received_lines(), QList<QByteArray>{});
    QCOMPARE(disconnected->count(), 1);

    // A port that does not exist.
    debug_log.clear();
    serial_conf_struct conf;
    conf.port_name = dir.filePath("dev/ttyMissing");
    conf.baud_rate = 115200;
    emit window->sig_serial_conf(conf);
    emit window->sig_connect_serial();
    QTRY_COMPARE(disconnected->count(), 2);
    QTRY_VERIFY(debug_log.contains("serial port open FAILED"));
    QCOMPARE(connected->count(), 1);
}

void tst_serial_object::unplug_is_one_disconnect_without_spinning()
{
    start_sim(false);
    connect_port(false);
    QTRY_COMPARE(sim->received_lines().size(), adapter_start_up.size());

    const double cpu_before = cpu_seconds();
    QElapsedTimer wall;
    wall.start();
    sim->unplug(-1);
    QTRY_COMPARE(disconnected->count(), 1);
    QTest::qWait(500);
    const double cpu_used = cpu_seconds() - cpu_before;
    QCOMPARE(disconnected->count(), 1);
    QTRY_VERIFY(debug_log.contains("some ERROR with serial port"));
    QVERIFY(debug_log.contains("serial port DISONNECTED by user"));
    // A spinning error loop would burn a core for the whole wait.
    QVERIFY2(cpu_used < 0.5 * wall.elapsed() / 1000.0,
             qPrintable(QString("cpu %1 s in %2 ms").arg(cpu_used).arg(wall.elapsed())));

    // Back under the same name: the port opens again and the adapter restarts.
    QVERIFY(sim->replug());
    sim->clear_received_lines();
    connect_port(false);
    QTRY_COMPARE(sim->received_lines(), adapter_start_up);
    emit window->sig_write(request(1, 0xD1));
    QTRY_COMPARE(rx->count(), 1);
    QCOMPARE(records().at(0).data[7], 1u);
}

// Every board type answers through the adapter; a burst far beyond the old
// 1000-byte bound arrives whole, and garbage does not spoil the next frame.
void tst_serial_object::replies_and_bursts_arrive_as_records()
{
    start_sim(false);
    connect_port(false);
    const QList<QPair<int, int>> boards = {{1, sim_board::type_cw},   {2, sim_board::type_precision_cw},
                                           {3, sim_board::type_ps},   {4, sim_board::type_ns},
                                           {5, sim_board::type_soa_ns}, {200, sim_board::type_power_dcdc}};
    for (const auto& b : boards)
        emit window->sig_write(request(b.first, 0xD0));
    QTRY_COMPARE(rx->count(), boards.size());
    for (int k = 0; k < boards.size(); ++k) {
        const serial_message_struct sm = records().at(k);
        const uint32_t id = uint32_t(boards[k].first);
        const uint32_t expected[8] = {0xD0, id, 0, 0, 0, 0, 0, uint32_t(boards[k].second)};
        QCOMPARE(sm.id, id);
        QVERIFY(std::equal(expected, expected + 8, sm.data));
    }
    rx->clear();
    QCOMPARE(sim->send_reply_burst(3, 600), 600);
    QTRY_COMPARE(rx->count(), 600);
    for (const serial_message_struct& sm : records())
        QVERIFY(sm.id == 3u && sm.data[1] == 3u && (sm.data[0] & 0x80));
    rx->clear();
    QVERIFY(sim->send_garbage(3000) > 3000);
    emit window->sig_write(request(5, 0xD0));
    QTRY_COMPARE(rx->count(), 1);
    QCOMPARE(records().at(0).data[7], uint32_t(sim_board::type_soa_ns));
}

void tst_serial_object::shutdown_writes_what_was_queued()
{
    start_sim(true);
    connect_port(true);
    // Queued just before the shutdown request, as an outputs-off frame at exit would be.
    const QByteArray off = request(9, 0x22, 0);
    for (int k = 0; k < 3; ++k)
        emit window->sig_write(off);
    QMetaObject::invokeMethod(serial.get(), &serial_object::sl_shutdown, Qt::BlockingQueuedConnection);
    QTRY_COMPARE(sim->received_lines(), (QList<QByteArray>{off, off, off}));
    QVERIFY(!serial->port.isOpen());
}

QTEST_MAIN(tst_serial_object)
#include "tst_serial_object.moc"
