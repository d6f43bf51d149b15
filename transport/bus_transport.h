#pragma once

#include "serial_conf_struct.h"
#include "serial_message_struct.h"
#include "tick_source.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <QString>

// What the window and the channels see of a way to the bus: an SLCAN adapter
// on a serial port, or a CAN interface of the system. Each implementation
// lives in a thread of its own; requests reach it queued, except
// queue_frame and write_soon, which any thread may call.
class bus_transport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Any thread: one frame line ("t", 3 hex id digits, "8", 16 hex data
    // digits, CR) for the next pace tick; dropped while not connected.
    virtual void queue_frame(const QByteArray& line) = 0;
    // Any thread: this transport's ticks serve the polling from now on
    // (nullptr: no longer).
    virtual void set_tick_source(tick_source* source) = 0;
    // Any thread: one frame line written as soon as the worker gets to it, in
    // a write of its own, behind what was posted to the worker before.
    void write_soon(const QByteArray& line)
    {
        QMetaObject::invokeMethod(this, [this, line] { sl_write_to_port(line); }, Qt::QueuedConnection);
    }

signals:
    void sig_connected();
    void sig_disconnected();
    void sig_error(QString err);
    void sig_serial_rx_can_batch(serial_message_batch frames);

public slots:
    virtual void sl_start_port_process() = 0;
    // The port or interface of the next connection.
    virtual void sl_serial_conf(serial_conf_struct conf) = 0;
    // Answered by sig_connected or sig_disconnected.
    virtual void sl_connect_serial() = 0;
    // Writes what was queued first; does nothing while not connected.
    virtual void sl_disconnect_serial() = 0;
    virtual void sl_write_to_port(QByteArray data) = 0;
    // For the end of the program, invoked blocking: writes what is queued and closes.
    virtual void sl_shutdown() = 0;
};
