#pragma once

#include "serial_conf_struct.h"
#include "serial_message_struct.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <atomic>

// Owns the serial port to the CAN adapter (or, in mini USB mode, straight to
// one board). It lives in the serial thread; everything else reaches it by
// queued signals, so every port call runs in that thread.
class serial_object : public QObject
{
    Q_OBJECT

public:
    explicit serial_object(QObject* parent = nullptr);
    ~serial_object() override;

    QSerialPort port;
    QByteArray rx_buffer;
    // Written by the GUI thread before it asks for a connection.
    std::atomic<bool> mini_usb_mode{false};

signals:
    void sig_connected();
    void sig_disconnected();
    void sig_error(QString err);
    void sig_serial_rx_can_message(serial_message_struct sm);
    void sig_write_to_port(QByteArray data);

public slots:
    void sl_disconnect_serial();
    void sl_connect_serial();
    void sl_serial_conf(serial_conf_struct conf);
    void sl_start_port_process();
    void sl_write_to_port(QByteArray data);
    // For the end of the program: writes what is already queued for the port
    // (events posted before this one have run by now), waits briefly until
    // it has left, then closes the port without the adapter close command.
    // Invoke it with Qt::BlockingQueuedConnection, then quit() and wait() the
    // thread: quit() alone may leave events posted just before it unhandled.
    void sl_shutdown();

private slots:
    void sl_handle_error(QSerialPort::SerialPortError error);
    void sl_read_from_port();

private:
    void drop_port();
    // Waits until what is queued has left; false when the port is closed
    // (a device error closed it meanwhile).
    bool wait_written(int timeout_ms);

    bool write_route_made = false;
};
