// The receive and write paths under bad input: a long stream of valid lines
// mixed with every kind of broken one, and a port that goes away while
// frames are being written to it.

#include "build_can_frame.h"
#include "bus_simulator.h"
#include "pty_port.h"
#include "serial_object.h"
#include "sim_board.h"

#include <QtTest>

#include <cerrno>
#include <functional>
#include <poll.h>
#include <random>
#include <unistd.h>

namespace {

QByteArray hex(uint32_t value, int digits, bool upper)
{
    const QByteArray text = QByteArray::number(value, 16).rightJustified(digits, '0').right(digits);
    return upper ? text.toUpper() : text;
}

struct stream_plan
{
    QByteArray bytes;
    QList<serial_message_struct> expected;
};

// About 64 KiB: valid frame lines (either case, some with an adapter
// timestamp) between lines that must all be dropped.
stream_plan mixed_stream(int min_size)
{
    stream_plan plan;
    std::mt19937 rng(4242u);
    auto byte = [&] { return uint32_t(rng() & 0xFF); };
    auto valid = [&](bool upper, bool stamp) {
        serial_message_struct sm{};
        sm.id = rng() & 0x7FF;
        QByteArray line = "t" + hex(sm.id, 3, upper) + "8";
        for (uint32_t& d : sm.data) {
            d = byte();
            line += hex(d, 2, upper);
        }
        if (stamp)
            line += hex(rng() & 0xFFFF, 4, upper);
        plan.bytes += line + "\r";
        plan.expected.append(sm);
    };
    auto data16 = [&] {
        QByteArray d;
        for (int k = 0; k < 8; ++k)
            d += hex(byte(), 2, false);
        return d;
    };
    // Bytes that can never start or end a line.
    auto noise = [&](int n) {
        QByteArray b;
        while (b.size() < n) {
            const char c = char(byte());
            if (c != 't' && c != '\r')
                b += c;
        }
        return b;
    };
    const QList<std::function<QByteArray()>> broken = {
        [&] { return "t1238" + data16().left(15) + "\r"; },               // one digit short
        [&] { return "t12g8" + data16() + "\r"; },                        // bad identifier digit
        [&] { return "t1237" + data16().left(14) + "\r"; },               // seven data bytes
        [&] { return "t123" "8" + data16().left(14) + "zz\r"; },          // bad data digits
        [&] { return "T123456788" + data16() + "\r"; },                   // extended frame
        [&] { return QByteArray("r1238\r"); },                            // remote frame
        [&] { return QByteArray("t\r"); },
        [&] { return QByteArray("\r\r\r\a\r"); },                         // adapter acknowledgements
        [&] { return noise(1 + int(rng() % 60)) + "\r"; },
        [&] { return noise(200); },                                       // no line end at all
    };
    int n = 0;
    while (plan.bytes.size() < min_size) {
        if (n % 300 == 299)
            plan.bytes += "t" + QByteArray(1500, 'x') + "\r"; // longer than any tail kept
        if (rng() % 3 == 0)
            plan.bytes += broken[int(rng() % uint32_t(broken.size()))]();
        else {
            ++n;
            valid(n % 2 == 0, n % 5 == 0);
        }
    }
    return plan;
}

bool same(const serial_message_struct& a, const serial_message_struct& b)
{
    return a.id == b.id && std::equal(std::begin(a.data), std::end(a.data), std::begin(b.data));
}

QByteArray frame(int can_id, int code, int value)
{
    char buf[32];
    uint32_t len = 0;
    build_can_frame(can_id, int8_t(code), 0, 0, 0, int8_t(value >> 24), int8_t(value >> 16),
                    int8_t(value >> 8), int8_t(value), buf, &len);
    return QByteArray(buf, int(len));
}

} // namespace

// The main window's side of the serial thread's connections.
class window_side : public QObject
{
    Q_OBJECT
signals:
    void sig_connect_serial();
    void sig_serial_conf(serial_conf_struct conf);
    void sig_write(QByteArray data);
    void disconnected();
    void connected();
    void received(serial_message_struct sm);

public slots:
    void sl_serial_connected() { emit connected(); }
    void sl_serial_disconnected() { emit disconnected(); }
    void handle_rx_can_message(serial_message_struct sm) { emit received(sm); }
};

class test_transport_bad_input : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mixed_64k_read_yields_exactly_the_valid_lines();
    void port_vanishing_during_writes_is_one_disconnection();

private:
    void open(const QString& port_name, bool mini_usb);

    QTemporaryDir dir;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<serial_object> serial;
    std::unique_ptr<window_side> window;
    std::unique_ptr<QSignalSpy> connected;
    std::unique_ptr<QSignalSpy> disconnected;
    std::unique_ptr<QSignalSpy> rx;
};

void test_transport_bad_input::init()
{
    QVERIFY(dir.isValid());
    window = std::make_unique<window_side>();
    thread = std::make_unique<QThread>();
    serial = std::make_unique<serial_object>();
    connect(thread.get(), &QThread::started, serial.get(), &serial_object::sl_start_port_process);
    connect(window.get(), &window_side::sig_connect_serial, serial.get(), &serial_object::sl_connect_serial);
    connect(window.get(), &window_side::sig_serial_conf, serial.get(), &serial_object::sl_serial_conf);
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
}

void test_transport_bad_input::cleanup()
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
}

void test_transport_bad_input::open(const QString& port_name, bool mini_usb)
{
    serial_conf_struct conf;
    conf.port_name = port_name;
    conf.baud_rate = 115200;
    serial->mini_usb_mode = mini_usb;
    emit window->sig_serial_conf(conf);
    emit window->sig_connect_serial();
    QTRY_COMPARE_WITH_TIMEOUT(connected->count(), 1, 15000);
}

void test_transport_bad_input::mixed_64k_read_yields_exactly_the_valid_lines()
{
    const stream_plan plan = mixed_stream(64 * 1024);
    QVERIFY(plan.expected.size() > 1000);

    pty_port pty;
    QVERIFY2(pty.open(dir.filePath(QStringLiteral("dev/ttyMIX%1").arg(QCoreApplication::applicationPid()))),
             qPrintable(pty.error()));
    open(pty.link(), true);

    // Written in uneven pieces, so lines are split across reads at every kind of place.
    std::mt19937 rng(7u);
    int at = 0;
    while (at < plan.bytes.size()) {
        const int piece = std::min(1 + int(rng() % 700), plan.bytes.size() - at);
        const ssize_t n = ::write(pty.master_fd(), plan.bytes.constData() + at, size_t(piece));
        if (n > 0) {
            at += int(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            QFAIL("write to the pseudo-terminal failed");
        } else {
            pollfd p{pty.master_fd(), POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        QCoreApplication::processEvents();
    }

    QTRY_COMPARE_WITH_TIMEOUT(rx->count(), plan.expected.size(), 20000);
    QTest::qWait(200);
    QCOMPARE(rx->count(), plan.expected.size());
    for (int i = 0; i < rx->count(); ++i) {
        const auto got = rx->at(i).at(0).value<serial_message_struct>();
        QVERIFY2(same(got, plan.expected.at(i)), qPrintable(QStringLiteral("record %1 differs").arg(i)));
    }
    QCOMPARE(disconnected->count(), 0);
}

void test_transport_bad_input::port_vanishing_during_writes_is_one_disconnection()
{
    bus_simulator sim;
    sim.config.link_path = dir.filePath(QStringLiteral("dev/ttyGONE%1").arg(QCoreApplication::applicationPid()));
    sim.config.settle_ms = 0;
    sim.config.record_lines = false;
    for (int id = 1; id <= 5; ++id)
        sim.add_board(id % 2 ? sim_board::type_cw : sim_board::type_ps, id);
    QVERIFY2(sim.start(), qPrintable(sim.last_error()));
    open(sim.link_path(), false);
    QTRY_VERIFY(sim.adapter_open());

    // Frames keep being queued to the serial thread before, while and after
    // the port goes; the ones after must be ignored, not written or reported.
    QElapsedTimer clock;
    clock.start();
    bool unplugged = false;
    int sent = 0;
    while (clock.elapsed() < 1500) {
        for (int k = 0; k < 200; ++k, ++sent)
            emit window->sig_write(frame(1 + sent % 5, 0x81, sent));
        if (!unplugged && sim.frames_forwarded() > 500) {
            sim.unplug(-1);
            unplugged = true;
        }
        QCoreApplication::processEvents();
    }
    QVERIFY2(unplugged, "the simulator never received the writes");
    QTRY_COMPARE_WITH_TIMEOUT(disconnected->count(), 1, 10000);
    QTest::qWait(500);
    QCOMPARE(disconnected->count(), 1);

    // The serial thread is still in working order: the port comes back and opens.
    QVERIFY(sim.replug());
    emit window->sig_connect_serial();
    QTRY_COMPARE_WITH_TIMEOUT(connected->count(), 2, 15000);
    sim.stop();
}

QTEST_GUILESS_MAIN(test_transport_bad_input)
#include "test_transport_bad_input.moc"
