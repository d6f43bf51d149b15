#pragma once

// The serial worker in a thread of its own, wired as the main window wires
// it (requests reach it queued, its reports come back queued to the test's
// thread), the simulated bus on a pseudo-terminal, and the debug log.

#include "build_can_frame.h"
#include "bus_simulator.h"
#include "serial_object.h"

#include <QtTest>

// Debug texts of every thread, collected in the test's thread. Install from
// initTestCase: the test library sets its own handler before that.
namespace serial_log {
inline QStringList lines;
inline QtMessageHandler previous = nullptr;
// Drops what was logged so far, by threads that have ended too.
inline void clear() { QCoreApplication::sendPostedEvents(); lines.clear(); }
inline void install()
{
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        QMetaObject::invokeMethod(qApp, [text] { lines.append(text); }, Qt::QueuedConnection);
        previous(type, context, text);
    });
}
} // namespace serial_log

// A frame line as the program writes it (upper-case hex, carriage return).
inline QByteArray frame_line(uint32_t id, const uint32_t* d)
{
    char buf[22];
    uint32_t len = 0;
    build_can_frame(int32_t(id), int8_t(d[0]), int8_t(d[1]), int8_t(d[2]), int8_t(d[3]), int8_t(d[4]),
                    int8_t(d[5]), int8_t(d[6]), int8_t(d[7]), buf, &len);
    return QByteArray(buf, int(len));
}
// A request to a board: code in byte 0, value big-endian in bytes 4..7.
inline QByteArray request(int can_id, int code, int value = 0)
{
    const uint32_t v = uint32_t(value), d[8] = {uint32_t(code), 0, 0, 0, v >> 24, v >> 16, v >> 8, v};
    return frame_line(uint32_t(can_id), d);
}

// A simulated bus (the adapter, or one board on its own cable when direct)
// with the boards {type code, CAN ID}, readings settled at once.
inline std::unique_ptr<bus_simulator> start_sim(const QString& dir, const QList<QPair<int, int>>& boards,
                                                bool direct = false)
{
    static int count = 0;
    auto sim = std::make_unique<bus_simulator>();
    // A distinct name per simulator: the serial port library locks by name.
    sim->config.link_path = dir + QString("/dev/ttyT%1_%2").arg(QCoreApplication::applicationPid()).arg(++count);
    sim->config.direct_mode = direct;
    sim->config.settle_ms = 0;
    sim->config.timestamps = !direct; // the adapter appends one to each line
    for (const auto& b : boards)
        sim->add_board(b.first, b.second);
    if (!sim->start())
        qWarning() << "simulator:" << sim->last_error();
    return sim;
}

// Stands in for the main window.
class window_side : public QObject
{
public:
    QStringList events; // "connected" / "disconnected", in arrival order
    QList<serial_message_struct> records;
    QThread thread;
    serial_object serial;

    window_side()
    {
        connect(&thread, &QThread::started, &serial, &serial_object::sl_start_port_process);
        connect(&serial, &serial_object::sig_connected, this, [this] { events << "connected"; });
        connect(&serial, &serial_object::sig_disconnected, this, [this] { events << "disconnected"; });
        connect(&serial, &serial_object::sig_serial_rx_can_batch, this,
                [this](const serial_message_batch& frames) { records << frames.toList(); });
        serial.moveToThread(&thread);
        serial.port.moveToThread(&thread);
        thread.start();
    }
    ~window_side() override { shutdown(); thread.quit(); thread.wait(); }
    template <typename F>
    void queue(F&& f) { QMetaObject::invokeMethod(&serial, std::forward<F>(f), Qt::QueuedConnection); }
    void open(const QString& port_name, bool mini_usb)
    {
        serial_conf_struct conf;
        conf.port_name = port_name;
        conf.baud_rate = mini_usb ? 57600 : 115200;
        serial.mini_usb_mode = mini_usb;
        queue([this, conf] { serial.sl_serial_conf(conf); serial.sl_connect_serial(); });
    }
    void close() { queue([this] { serial.sl_disconnect_serial(); }); }
    // As the channels send: through the ring, from this thread.
    void write(const QByteArray& data) { serial.queue_frame(data); }
    void shutdown() { QMetaObject::invokeMethod(&serial, &serial_object::sl_shutdown, Qt::BlockingQueuedConnection); }
    // Returns once the serial thread has handled all queued before, its reports delivered here.
    void sync()
    {
        QMetaObject::invokeMethod(&serial, [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::processEvents();
    }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> out;
        for (const serial_message_struct& sm : records)
            out << frame_line(sm.id, sm.data);
        return out;
    }
};
