// Transport layer: frame lines out, received lines in, and the serial worker
// against the simulated adapter over a real pseudo-terminal.

#include "frame_pump.h"
#include "pace_clock.h"
#include "rx_line_cutter.h"
#include "tx_frame_queue.h"

#include <array>
#include <memory>
#include <thread>
#include <vector>
#include "serial_fixture.h"
#include "sim_board.h"

const QByteArray one = "t12380102030405060708\r";
const QList<QByteArray> start_up = {"S6\r", "S6\r", "S6\r", "O\r", "O\r", "O\r"};
// Replies to "get device type" (0xD0): CAN ID in byte 1, the type in byte 7.
const QByteArray ps_on_9 = "t0098D009000000000007\r";
const QByteArray cw_on_1 = "t0018D001000000000008\r";

class tst_transport : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { serial_log::install(); }
    void init() { serial_log::clear(); }
    void received_lines();
    void adapter_wire();
    void losing_the_port();
    void frame_ring();
};

void tst_transport::received_lines()
{
    struct row { QString label; QList<QByteArray> pieces, lines; QByteArray rest; };
    const QByteArray tail = "t" + QByteArray(rx_tail_limit - 1, '0'); // the longest tail kept
    QList<row> rows = {
        {"junk before t", {"\r\a\a" + one}, {one}, ""},
        {"no t at all is kept", {"\a\r\a"}, {}, "\a\r\a"},
        {"lower-case hex", {"tabc8deadbeef0a0b0c0d\r"}, {"tABC8DEADBEEF0A0B0C0D\r"}, ""},
        {"every digit, a leading zero", {"t0f180123456789abcdef\r"}, {"t0F180123456789ABCDEF\r"}, ""},
        {"timestamp after the data", {"t12380102030405060708BEEF\r"}, {one}, ""},
        {"two lines and a partial third", {one + "z\r" + one + "t1238010203"}, {one, one}, "t1238010203"},
        {"length 4", {"t123401020304\r"}, {}, ""},
        {"fifteen digits", {"t1238010203040506070\r"}, {}, ""},
        {"non-hex data", {"t1238010203040506070G\r"}, {}, ""},
        {"non-hex id", {"t1G380102030405060708\r"}, {}, ""},
        {"blank in the line", {"t 12380102030405060708\r"}, {}, ""},
        {"sign in a field", {"t+2380102030405060708\r"}, {}, ""},
        {"extended frame", {"T0000012380102030405060708\r"}, {}, "T0000012380102030405060708\r"},
        {"extended, then standard", {"T0000012380102030405060708\r" + one}, {one}, ""},
        {"remote, then standard", {"r1238\r" + one}, {one}, ""},
        {"a cut line swallows the next", {"t12" + one}, {}, ""},
        {"bare t and CR", {"t\r"}, {}, ""},
        {"short lines carry no earlier data", {one + "t4564AABB\r", "t789\rt7FF89103000000003039\r"},
         {one, "t7FF89103000000003039\r"}, ""},
        {"tail at the limit stays", {tail}, {}, tail},
        {"one byte more is dropped", {tail + "0"}, {}, ""},
        {"junk beyond the limit is dropped", {QByteArray(rx_tail_limit + 1, '\a')}, {}, ""},
        {"a line after a dropped tail", {tail + "0", one}, {one}, ""},
    };
    for (int at = 1; at < one.size(); ++at) {
        rows.append({QString("first %1 bytes").arg(at), {one.left(at)}, {}, one.left(at)});
        rows.append({QString("split after %1 bytes").arg(at), {one.left(at), one.mid(at)}, {one}, ""});
    }
    row burst{"100000 lines in one read", {""}, {}, "t12380102"};
    for (int k = 0; k < 100000; ++k) {
        burst.lines << request(k & 0x7FF, 0x91, k);
        burst.pieces[0] += burst.lines.last();
    }
    burst.pieces[0] += burst.rest;
    rows << burst;
    for (const row& r : rows) {
        QByteArray rest;
        QList<QByteArray> got;
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray& piece : r.pieces) // one read each
            cut_rx_lines(rest += piece, [&](const serial_message_struct& sm) { got << frame_line(sm.id, sm.data); });
        // Linear in the read: shortening the buffer line by line takes seconds here.
        QVERIFY2(clock.elapsed() < 1500, qPrintable(r.label));
        QVERIFY2(got == r.lines, qPrintable(r.label + QString(": %1 lines").arg(got.size())));
        QVERIFY2(rest == r.rest, qPrintable(r.label + ": rest " + rest.left(40)));
    }
}

// The adapter is started on every connection (and never in mini USB mode,
// straight to one board), closed on disconnect, and a closed port takes nothing.
void tst_transport::adapter_wire()
{
    for (const bool mini_usb : {false, true}) {
        const QList<QByteArray> adapter = mini_usb ? QList<QByteArray>{} : start_up;
        const QByteArray ask = request(9, 0xD0);
        auto sim = start_sim(dir.path(), {{sim_board::type_ps, 9}}, mini_usb);
        const QString link = sim->link_path();
        window_side w;
        QStringList events;
        w.write(ask); // closed: nothing goes out, nothing is reported
        w.close();
        for (int round = 1; round <= 2; ++round) {
            sim->clear_received_lines();
            w.open(link, mini_usb);
            QTRY_COMPARE(w.events.size(), 2 * round - 1);
            w.write(ask);
            QTRY_COMPARE(w.records.size(), round);
            QCOMPARE(w.lines().last(), ps_on_9);
            // Lines still waiting for their tick leave before the close command.
            const QByteArray off = request(9, 0x22, 0);
            w.write(off);
            w.write(off);
            w.close();
            events << "connected" << "disconnected";
            QTRY_COMPARE(w.events, events);
            QTRY_COMPARE(sim->received_lines(), adapter + QList<QByteArray>({ask, off, off, "C\r"}));
        }
        // A second connect finds the port open: it fails and leaves the port closed.
        sim->clear_received_lines();
        w.open(link, mini_usb);
        w.open(link, mini_usb);
        w.write(ask);
        w.close();
        w.open(dir.filePath("dev/ttyMissing"), mini_usb);
        events << "connected" << "disconnected" << "disconnected";
        QTRY_COMPARE(w.events, events);
        QTRY_COMPARE(sim->received_lines(), adapter);
        for (const char* text : {"serial port is opened SUCCESSFULLY", "serial port DISONNECTED by user",
                                 "serial port open FAILED"})
            QVERIFY2(serial_log::lines.contains(text), text);

        // At the end of the program what was queued leaves, without "C", also
        // lines still waiting for their tick behind an answered request.
        w.open(link, mini_usb);
        QTRY_COMPARE(w.events.size(), events.size() + 1);
        const QByteArray off = request(9, 0x22, 0);
        w.write(ask);
        QTRY_COMPARE(w.records.size(), 3);
        for (int k = 0; k < 3; ++k)
            w.write(off);
        w.shutdown();
        QTRY_COMPARE(sim->received_lines(), adapter + adapter + QList<QByteArray>({ask, off, off, off}));
        QVERIFY(!w.serial.port.isOpen());
    }
}

// However the device goes, the window hears of it once, hears nothing after,
// and the next connect after it returns works.
void tst_transport::losing_the_port()
{
    const struct
    {
        const char* label;
        int lost_after; // bytes the serial thread wrote: start-up lines 3 3 3 2 2 2, frames 22;
                        // 0: as a disconnect request is handled
        QStringList events;
    } rows[] = {
        {"lost after the first S6", 3, {"disconnected"}},
        {"lost after the first O", 11, {"disconnected"}},
        {"lost before the last O", 13, {"disconnected"}}, // its write finds the device gone
        {"lost when idle", 15, {"connected", "disconnected"}},
        {"lost amid frames", 15 + 22 * 100, {"connected", "disconnected"}},
        {"lost as the disconnect begins", 0, {"connected", "disconnected"}},
    };
    for (const auto& r : rows) {
        serial_log::clear();
        auto sim = start_sim(dir.path(), {{sim_board::type_cw, 1}});
        const QString link = sim->link_path();
        window_side w;
        std::atomic<int> written{0};
        connect(&w.serial.port, &QSerialPort::bytesWritten, &w.serial, [&](qint64 n) {
            const int before = written.fetch_add(int(n));
            if (before < r.lost_after && before + n >= r.lost_after)
                sim->unplug(-1); // in the serial thread, before it goes on
        });
        QElapsedTimer clock;
        clock.start();
        w.open(link, false);
        w.sync();
        // Waits on a closed port would hold the serial thread a second each.
        QVERIFY2(clock.elapsed() < 900, r.label);
        for (int k = 0; r.lost_after > 15 && k < 500; ++k) // the loss comes amid these
            w.write(request(1, 0x91, k));
        if (r.lost_after == 0) {
            w.queue([&] { sim->unplug(-1); });
            w.close();
        }
        QTRY_COMPARE(w.events, r.events);
        w.sync();
        QTest::qWait(100); // a second report would have come by now
        QVERIFY2(w.events == r.events, qPrintable(QString(r.label) + ": " + w.events.join(' ')));
        QVERIFY2(serial_log::lines.contains("serial port is opened SUCCESSFULLY") == (r.events.size() == 2), r.label);

        // Back under the same name: the port opens again and the adapter restarts.
        QVERIFY(sim->replug());
        sim->clear_received_lines();
        w.records.clear();
        w.open(link, false);
        QTRY_COMPARE(w.events.size(), r.events.size() + 1);
        w.write(request(1, 0xD0));
        QTRY_COMPARE(w.lines(), QList<QByteArray>{cw_on_1});
        QCOMPARE(sim->received_lines(), start_up + QList<QByteArray>{request(1, 0xD0)});
        QCOMPARE(w.events, r.events + QStringList{"connected"});
    }
}


// The ring between the channel threads and the serial thread: every line
// once, each producer's lines in its order, a full ring refuses; and the
// pace grid it is written on.
void tst_transport::frame_ring()
{
    using namespace std::chrono;
    const pace_clock::clock::time_point t0(milliseconds(15 * 1000));
    const struct { microseconds at; microseconds offset; microseconds slot; } grid[] = {
        {microseconds(0), microseconds(0), microseconds(0)},
        {microseconds(1), microseconds(0), microseconds(15000)},
        {microseconds(14999), microseconds(0), microseconds(15000)},
        {microseconds(0), microseconds(3000), microseconds(3000)},
        {microseconds(3001), microseconds(3000), microseconds(18000)},
    };
    for (const auto& g : grid)
        QCOMPARE(pace_clock::next_slot(t0 + g.at, milliseconds(15), g.offset) - t0, pace_clock::clock::duration(g.slot));

    auto ring = std::make_unique<tx_frame_queue>();
    QByteArray out;
    for (size_t i = 0; i < tx_frame_queue::capacity; ++i)
        QVERIFY(ring->push("t", 1));
    QVERIFY(!ring->push("t", 1));
    QCOMPARE(ring->drain(out), int(tx_frame_queue::capacity));
    QVERIFY(ring->empty() && !ring->push(QByteArray(33, 'x').constData(), 33));

    constexpr int producers = 4, per_producer = 20000;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&ring, p] {
            for (int k = 0; k < per_producer; ++k) {
                const QByteArray line = QByteArray::number(p) + ':' + QByteArray::number(k) + '\r';
                while (!ring->push(line.constData(), line.size()))
                    std::this_thread::yield();
            }
        });
    std::array<int, producers> next{};
    int taken = 0;
    while (taken < producers * per_producer) {
        out.clear();
        ring->drain(out);
        for (const QByteArray& line : out.split('\r')) {
            if (line.isEmpty())
                continue;
            const int p = line.left(1).toInt();
            QCOMPARE(line.mid(2).toInt(), next[size_t(p)]++);
            ++taken;
        }
    }
    for (auto& t : threads)
        t.join();
    QVERIFY(ring->empty());

    // A poll that a channel slipped into the ring while its connection was
    // closing (it saw the pump open, the close came before its push) and one
    // posted the slow way then: neither leaves on the next connection.
    QObject owner;
    QByteArray written;
    frame_pump pump(&owner, [&written](const QByteArray& b) { written += b; });
    pump.open_session();
    for (size_t k = 0; k <= tx_frame_queue::capacity; ++k)
        pump.queue(k < tx_frame_queue::capacity ? "stale\r" : "posted\r"); // the last one with the ring full
    pump.open.store(false);
    pump.open_session();
    pump.queue("fresh\r"); // behind the posted line, so the slow way too
    pump.write_queued();
    QTest::qWait(20);
    QCOMPARE(written, QByteArray("fresh\r"));
}

QTEST_MAIN(tst_transport)
#include "tst_transport.moc"
