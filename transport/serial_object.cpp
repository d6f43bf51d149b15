#include "serial_object.h"

#include "rx_line_cutter.h"

#include <QDebug>
#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

const QByteArray adapter_bitrate("S6\r");
const QByteArray adapter_open("O\r");
const QByteArray adapter_close("C\r");
constexpr int start_up_wait_ms = 1000;
// Longest wait for buffered bytes before the port is closed.
constexpr int shutdown_wait_ms = 200;

} // namespace

serial_object::serial_object(QObject* parent)
    : bus_transport(parent), pump(this, [this](const QByteArray& lines) { sl_write_to_port(lines); })
{
    qRegisterMetaType<serial_message_struct>("serial_message_struct");
    qRegisterMetaType<serial_message_batch>("serial_message_batch");
    connect(&pump, &frame_pump::sig_received, this, &serial_object::sig_serial_rx_can_batch);
    // While the ticks run the port is read at each tick, in the tick's own
    // wake-up: replies that arrive one by one (as a USB adapter hands them
    // on) then cost no wake-up each. Between runs of ticks its notifier reads.
    pump.on_tick = [this] { read_at_tick(); };
    pump.on_rest = [this] {
        if (read_notifier)
            read_notifier->setEnabled(true);
    };
    qRegisterMetaType<serial_conf_struct>("serial_conf_struct");
    qRegisterMetaType<QSerialPort::SerialPortError>("QSerialPort::SerialPortError");
}

serial_object::~serial_object()
{
    qDebug() << "serial thread finishing";
    emit sig_disconnected();
}

void serial_object::sl_start_port_process()
{
    qDebug() << "start serial thread";
    connect(&port, &QSerialPort::errorOccurred, this, &serial_object::sl_handle_error);
    connect(&port, &QSerialPort::readyRead, this, &serial_object::sl_read_from_port);
}

void serial_object::sl_serial_conf(serial_conf_struct conf)
{
    // Parity is carried but left at the port's default, no parity.
    port.setBaudRate(conf.baud_rate, QSerialPort::AllDirections);
    port.setDataBits(conf.data_bits);
    port.setFlowControl(conf.flow_control);
    port.setPortName(conf.port_name);
    port.setStopBits(conf.stop_bits);
}

void serial_object::sl_connect_serial()
{
    if (port.isOpen())
        port.flush();
    if (!port.open(QIODevice::ReadWrite)) {
        qDebug() << "serial port open FAILED";
        emit sig_error(port.portName() + QStringLiteral(": ") + port.errorString());
        drop_port();
        emit sig_disconnected();
        return;
    }
    port.flush();
    port.clear(QSerialPort::AllDirections);
    rx_buffer.clear();
    find_read_notifier();
    pump.slow_pace.store(mini_usb_mode.load());
    pump.open_session();

    if (!write_route_made) {
        connect(this, &serial_object::sig_write_to_port, this, &serial_object::sl_write_to_port);
        write_route_made = true;
    }

    if (!mini_usb_mode.load(std::memory_order_relaxed)) {
        // The adapter's answers are not awaited; each command goes out three
        // times in case one is lost. A device lost on the way has been closed
        // and reported by the error handler: the start-up ends there.
        for (int k = 0; k < 3; ++k) {
            emit sig_write_to_port(adapter_bitrate);
            if (!wait_written(start_up_wait_ms))
                return;
        }
        if (!wait_written(start_up_wait_ms))
            return;
        emit sig_write_to_port(adapter_open);
        if (!wait_written(start_up_wait_ms))
            return;
        emit sig_write_to_port(adapter_open);
        if (!wait_written(start_up_wait_ms))
            return;
        emit sig_write_to_port(adapter_open);
    }
    // The last write may have met a lost device as well.
    if (!port.isOpen())
        return;

    qDebug() << "serial port is opened SUCCESSFULLY";
    emit sig_connected();
}

void serial_object::sl_disconnect_serial()
{
    if (!port.isOpen())
        return;
    // What the channels queued before (the outputs-off frames) goes first.
    pump.write_queued();
    emit sig_write_to_port(adapter_close);
    // close() would drop what is still buffered, the close command with it.
    port.flush();
    // Lost meanwhile: the error handler has closed and reported it already.
    if (!wait_written(shutdown_wait_ms))
        return;
    drop_port();
    qDebug() << "serial port DISONNECTED by user";
    emit sig_disconnected();
}

void serial_object::sl_write_to_port(QByteArray data)
{
    if (!port.isOpen() || !port.isWritable())
        return;
    // Straight to the device when nothing waits in the port's buffer: one
    // system call, no turn of the event loop for its write notifier. What
    // the device cannot take now leaves through the buffer.
    qint64 done = 0;
    if (port.bytesToWrite() == 0) {
        const ssize_t n = ::write(port.handle(), data.constData(), size_t(data.size()));
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            device_lost();
            return;
        }
        done = std::max<qint64>(0, n);
        if (done > 0)
            emit port.bytesWritten(done); // as the port itself reports what it wrote
    }
    if (done < data.size())
        port.write(data.constData() + done, data.size() - done);
}

void serial_object::sl_shutdown()
{
    if (!port.isOpen()) {
        pump.close(); // its timer belongs to this thread, which ends next
        return;
    }
    pump.write_queued();
    port.flush();
    if (wait_written(shutdown_wait_ms))
        drop_port();
}

void serial_object::sl_handle_error(QSerialPort::SerialPortError error)
{
    // A pseudo-terminal whose other side went away reports ReadError on every
    // read attempt and ResourceError only at the next write; both mean the
    // device is gone, and closing stops the read notifications.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    device_lost();
}

void serial_object::device_lost()
{
    if (!port.isOpen())
        return;
    qDebug() << "some ERROR with serial port";
    drop_port();
    qDebug() << "serial port DISONNECTED by user";
    emit sig_disconnected();
}

bool serial_object::wait_written(int timeout_ms)
{
    // With nothing pending, waitForBytesWritten would sit out its whole
    // timeout waiting for input instead of returning. A port closed on a
    // device error still counts its stranded bytes: no wait for those either.
    if (port.isOpen() && port.bytesToWrite() > 0)
        port.waitForBytesWritten(timeout_ms);
    return port.isOpen();
}

void serial_object::drop_port()
{
    port.close();
    rx_buffer.clear();
    pump.close();
}

void serial_object::queue_frame(const QByteArray& line)
{
    pump.queue(line);
}

void serial_object::sl_read_from_port()
{
    if (!port.isOpen() || !port.isReadable())
        return;
    rx_buffer.append(port.readAll());
    take_lines();
}

void serial_object::read_at_tick()
{
    if (!port.isOpen())
        return;
    // What the notifier read before the ticks began (reading it switches the
    // notifier on again, so it goes first).
    if (port.bytesAvailable() > 0)
        rx_buffer.append(port.readAll());
    if (read_notifier)
        read_notifier->setEnabled(false);
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(port.handle(), chunk, sizeof chunk);
        if (n > 0) {
            rx_buffer.append(chunk, int(n));
            if (size_t(n) < sizeof chunk)
                break; // all there was
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing more now: 0 in the raw mode the port is set to, or EAGAIN.
        // A hang-up shows at the next write or to the notifier once the ticks stop.
        if (n == 0 || errno == EAGAIN)
            break;
        take_lines(); // an error such as EIO: the device is gone
        device_lost();
        return;
    }
    take_lines();
}

void serial_object::take_lines()
{
    if (rx_buffer.isEmpty())
        return;
    cut_rx_lines(rx_buffer, [this](const serial_message_struct& sm) { pump.add_received(sm); });
    pump.end_of_read();
}

void serial_object::find_read_notifier()
{
    // The port's own notifier for its descriptor: a child of the port on Unix.
    read_notifier.clear();
    const QList<QSocketNotifier*> notifiers = port.findChildren<QSocketNotifier*>();
    for (QSocketNotifier* n : notifiers) {
        if (n->type() == QSocketNotifier::Read && n->socket() == port.handle() && n->isEnabled())
            read_notifier = n;
    }
}
