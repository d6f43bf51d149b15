#include "serial_object.h"

#include "pace_clock.h"
#include "rx_line_cutter.h"

#include <QDebug>
#include <QMetaObject>
#include <algorithm>

namespace {

const QByteArray adapter_bitrate("S6\r");
const QByteArray adapter_open("O\r");
const QByteArray adapter_close("C\r");
constexpr int start_up_wait_ms = 1000;
// Longest wait for buffered bytes before the port is closed.
constexpr int shutdown_wait_ms = 200;

// The channels pace on this grid (laser_worker); a tick comes this long after
// the grid instant, when every frame that fell due is queued.
constexpr std::chrono::milliseconds normal_tick{15};
constexpr std::chrono::milliseconds mini_usb_tick{50};
constexpr std::chrono::microseconds tick_offset{3000};
// Received frames are handed on at most this often while the pump runs.
constexpr int rx_post_ms = 30;
// Ticks without traffic before the pump sleeps.
constexpr int quiet_ticks_before_sleep = 4;

} // namespace

serial_object::serial_object(QObject* parent)
    : bus_transport(parent)
{
    qRegisterMetaType<serial_message_struct>("serial_message_struct");
    qRegisterMetaType<serial_message_batch>("serial_message_batch");
    pump_timer.setParent(this); // moves to the serial thread with this object
    pump_timer.setSingleShot(true);
    pump_timer.setTimerType(Qt::PreciseTimer);
    connect(&pump_timer, &QTimer::timeout, this, &serial_object::sl_pump);
    tx_batch.reserve(int(tx_frame_queue::capacity) * tx_frame_queue::slot_bytes);
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
        drop_port();
        emit sig_disconnected();
        return;
    }
    port.flush();
    port.clear(QSerialPort::AllDirections);
    rx_buffer.clear();
    port_open.store(true);

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
    write_queued();
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
    if (port.isOpen() && port.isWritable())
        port.write(data);
}

void serial_object::sl_shutdown()
{
    // The timer belongs to this thread, which ends next.
    pump_timer.stop();
    pump_asleep.store(true);
    if (!port.isOpen())
        return;
    write_queued();
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
    port_open.store(false);
    port.close();
    rx_buffer.clear();
    post_received(); // complete frames read before the loss still count
    discard_queued();
    pump_timer.stop();
    quiet_ticks = 0;
    pump_asleep.store(true);
}

void serial_object::queue_frame(const QByteArray& line)
{
    if (!port_open.load())
        return; // as a write to a closed port: nothing goes out
    if (overflow_pending.load() == 0 && tx.push(line.constData(), line.size())) {
        if (pump_asleep.exchange(false))
            QMetaObject::invokeMethod(this, &serial_object::sl_wake_pump, Qt::QueuedConnection);
        return;
    }
    // The ring is full (the serial thread is held up) or the line is too
    // long for a slot: the queued route, behind what the ring holds.
    overflow_pending.fetch_add(1);
    QMetaObject::invokeMethod(this, [this, line] {
        write_queued();
        sl_write_to_port(line);
        overflow_pending.fetch_sub(1);
    }, Qt::QueuedConnection);
}

void serial_object::write_soon(const QByteArray& line)
{
    QMetaObject::invokeMethod(this, [this, line] { sl_write_to_port(line); }, Qt::QueuedConnection);
}

bool serial_object::write_queued()
{
    tx_batch.clear();
    if (tx.drain(tx_batch) == 0)
        return false;
    sl_write_to_port(tx_batch);
    return true;
}

void serial_object::discard_queued()
{
    tx_batch.clear();
    tx.drain(tx_batch);
    tx_batch.clear();
}

void serial_object::post_received()
{
    if (rx_batch.isEmpty())
        return;
    emit sig_serial_rx_can_batch(rx_batch);
    rx_batch.clear();
    since_rx_post.start();
}

void serial_object::sl_pump()
{
    if (!port.isOpen()) {
        // Lost between the queueing and this tick: nothing leaves without a port.
        pump_asleep.store(true);
        discard_queued();
        return;
    }
    const bool wrote = write_queued();
    const bool received = !rx_batch.isEmpty();
    if (received && (!since_rx_post.isValid() || since_rx_post.elapsed() >= rx_post_ms))
        post_received();
    quiet_ticks = wrote || received ? 0 : quiet_ticks + 1;
    if (quiet_ticks >= quiet_ticks_before_sleep) {
        pump_asleep.store(true);
        // A line queued before the store found the pump awake and posted nothing.
        if (tx.empty()) {
            quiet_ticks = 0;
            return;
        }
        pump_asleep.store(false);
    }
    plan_tick(std::chrono::milliseconds(1));
}

void serial_object::sl_wake_pump()
{
    // The first line of a grid instant woke the thread; the others of that
    // instant are on their way, and the tick just after it takes them all.
    if (!pump_timer.isActive())
        plan_tick(std::chrono::milliseconds(0));
}

void serial_object::plan_tick(std::chrono::milliseconds at_least)
{
    using namespace std::chrono;
    const auto period = mini_usb_mode.load(std::memory_order_relaxed) ? mini_usb_tick : normal_tick;
    const auto now = pace_clock::clock::now();
    const auto next = pace_clock::next_slot(now + at_least, period, tick_offset);
    pump_timer.start(int(ceil<milliseconds>(next - now).count()));
}

void serial_object::sl_read_from_port()
{
    if (!port.isOpen() || !port.isReadable())
        return;
    rx_buffer.append(port.readAll());
    if (rx_buffer.isEmpty())
        return;
    cut_rx_lines(rx_buffer, [this](const serial_message_struct& sm) { rx_batch.append(sm); });
    // While the pump runs its tick hands the frames on; otherwise each read does.
    if (!pump_timer.isActive())
        post_received();
}
