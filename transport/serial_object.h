#pragma once

#include "bus_transport.h"
#include "frame_pump.h"

#include <QByteArray>
#include <QPointer>
#include <QSocketNotifier>
#include <QSerialPort>
#include <QString>
#include <atomic>

// Owns the serial port to the CAN adapter (or, in mini USB mode, straight to
// one board). It lives in the serial thread; everything else reaches it by
// queued signals, so every port call runs in that thread.
//
// Frames to the bus wait in a ring (queue_frame) and leave together on a
// pace tick, one write for all channels whose frames fell due; received
// frames go to the GUI thread in batches. While nothing is sent or received
// the ticks stop and the thread sleeps until the next frame is queued.
class serial_object : public bus_transport
{
    Q_OBJECT

public:
    explicit serial_object(QObject* parent = nullptr);
    ~serial_object() override;

    QSerialPort port;
    QByteArray rx_buffer;
    // Written by the GUI thread before it asks for a connection.
    std::atomic<bool> mini_usb_mode{false};

    // Any thread: queues one frame line for the next pace tick. Lines queued
    // by one thread leave in the order queued; none is dropped while the
    // port is open, and a line queued while it is closed is dropped, as a
    // write to a closed port would be.
    void queue_frame(const QByteArray& line) override;
    void set_tick_source(tick_source* source) override { pump.set_source(source); }

signals:
    void sig_write_to_port(QByteArray data);

public slots:
    void sl_disconnect_serial() override;
    void sl_connect_serial() override;
    void sl_serial_conf(serial_conf_struct conf) override;
    void sl_start_port_process() override;
    void sl_write_to_port(QByteArray data) override;
    // For the end of the program: writes what is already queued for the port
    // (events posted before this one have run by now), waits briefly until
    // it has left, then closes the port without the adapter close command.
    // Invoke it with Qt::BlockingQueuedConnection, then quit() and wait() the
    // thread: quit() alone may leave events posted just before it unhandled.
    void sl_shutdown() override;

private slots:
    void sl_handle_error(QSerialPort::SerialPortError error);
    void sl_read_from_port();

private:
    void drop_port();
    // The device is gone: closed and reported once.
    void device_lost();
    void read_at_tick();
    // Cuts what was read into frame records for the pump.
    void take_lines();
    // Waits until what is queued has left; false when the port is closed
    // (a device error closed it meanwhile).
    bool wait_written(int timeout_ms);

    // The port's read notifier: off while the ticks run and read the port.
    void find_read_notifier();
    QPointer<QSocketNotifier> read_notifier;

    bool write_route_made = false;
    frame_pump pump;
};
