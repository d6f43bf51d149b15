#include "can_bus_object.h"

#include "can_frame_codec.h"
#include "can_port_name.h"

#include <QCanBus>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QMetaObject>
#include <cstring>

namespace {

// The virtual bus may take a moment to find or start its server.
constexpr int connect_timeout_ms = 3000;
// Time the device gets to pass written frames on before it is closed.
constexpr int leave_ms = 30;

// SocketCAN interfaces are brought up (bit rate included) by the system; say
// so plainly instead of failing at the first write. Empty when usable.
QString socketcan_problem(const QString& iface)
{
    QFile flags(QStringLiteral("/sys/class/net/%1/flags").arg(iface));
    if (!flags.open(QIODevice::ReadOnly))
        return QStringLiteral("CAN interface %1 not found").arg(iface);
    const uint value = QString::fromLatin1(flags.readAll().trimmed()).toUInt(nullptr, 16);
    if (value & 1u) // IFF_UP
        return QString();
    return QStringLiteral("CAN interface %1 is down; bring it up with: sudo ip link set %1 up type can bitrate %2")
        .arg(iface)
        .arg(can_bus_object::bit_rate);
}

} // namespace

can_bus_object::can_bus_object(QObject* parent)
    : bus_transport(parent), pump(this, [this](const QByteArray& lines) { write_lines(lines); })
{
    qRegisterMetaType<serial_message_struct>("serial_message_struct");
    qRegisterMetaType<serial_message_batch>("serial_message_batch");
    qRegisterMetaType<serial_conf_struct>("serial_conf_struct");
    // The timer moves to the worker's thread with this object.
    connect_timer.setParent(this);
    connect_timer.setSingleShot(true);
    connect(&connect_timer, &QTimer::timeout, this, [this] { fail(QStringLiteral("CAN interface did not connect")); });
    connect(&pump, &frame_pump::sig_received, this, &can_bus_object::sig_serial_rx_can_batch);
}

can_bus_object::~can_bus_object()
{
    close_device();
}

void can_bus_object::sl_start_port_process()
{
    qDebug() << "start CAN thread";
}

void can_bus_object::sl_serial_conf(serial_conf_struct conf)
{
    port_name = conf.port_name;
}

void can_bus_object::sl_connect_serial()
{
    if (device)
        return; // connected or on the way
    can_port_name name;
    if (!can_port_name::parse(port_name, name)) {
        fail(QStringLiteral("not a CAN interface: ") + port_name);
        return;
    }
    if (name.plugin == QLatin1String("socketcan")) {
        const QString problem = socketcan_problem(name.interface_name);
        if (!problem.isEmpty()) {
            fail(problem);
            return;
        }
    }
    // Auto connection retries every few hundred milliseconds, and some
    // plugins leak with every device made (PassThru about 33 kB): a refusal
    // at creation is remembered, a device that failed to connect is tried again.
    if (port_name == refused_name) {
        fail(refused_why);
        return;
    }
    if (spare && spare_name == port_name)
        device = std::move(spare);
    else if (!create_device(name))
        return;
    connect(device.get(), &QCanBusDevice::stateChanged, this, &can_bus_object::on_state_changed);
    connect(device.get(), &QCanBusDevice::errorOccurred, this, &can_bus_object::on_error);
    connect(device.get(), &QCanBusDevice::framesReceived, this, &can_bus_object::on_frames_received);
    connecting = true;
    connect_timer.start(connect_timeout_ms);
    const bool started = device->connectDevice();
    if (!device)
        return; // refused during the call, and reported
    if (!started) {
        fail(device->errorString());
        return;
    }
    if (device->state() == QCanBusDevice::ConnectedState)
        on_state_changed(QCanBusDevice::ConnectedState);
}

bool can_bus_object::create_device(const can_port_name& name)
{
    spare.reset();
    QString error;
    device.reset(QCanBus::instance()->createDevice(name.plugin, name.interface_name, &error));
    if (!device) {
        fail(error);
        return false;
    }
    // A plugin may hand out a device that already carries its refusal (the
    // virtual bus for an interface it does not have) and would still connect
    // it somewhere else.
    if (device->error() != QCanBusDevice::NoError) {
        refused_name = port_name;
        refused_why = device->errorString();
        fail(refused_why);
        return false;
    }
    // SocketCAN takes the bit rate from the system, the virtual bus has none.
    if (name.plugin != QLatin1String("socketcan") && name.plugin != QLatin1String("virtualcan"))
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, bit_rate);
    if (name.plugin == QLatin1String("socketcan")) // bus off and the like arrive as error frames
        device->setConfigurationParameter(QCanBusDevice::ErrorFilterKey,
                                          QVariant::fromValue(QCanBusFrame::FrameErrors(QCanBusFrame::AnyError)));
    return true;
}

void can_bus_object::on_state_changed(QCanBusDevice::CanBusDeviceState state)
{
    if (state == QCanBusDevice::ConnectedState && connecting) {
        connecting = false;
        connect_timer.stop();
        ignored_at_open = ignored_frames.load();
        pump.open_session();
        last_failure.clear();
        write_failing = false;
        qDebug() << "CAN interface is opened SUCCESSFULLY";
        emit sig_connected();
    } else if (state == QCanBusDevice::UnconnectedState && (connecting || pump.open.load())) {
        // The virtual bus's server went away, or the interface did: no error is reported for it.
        fail(QStringLiteral("CAN interface closed"));
    }
}

void can_bus_object::on_error(QCanBusDevice::CanBusError error)
{
    if (!device)
        return;
    if (error == QCanBusDevice::WriteError)
        return; // write_lines says it
    const QString text = device->errorString();
    if (error == QCanBusDevice::ConnectionError || error == QCanBusDevice::ReadError
        || device->state() == QCanBusDevice::UnconnectedState) {
        fail(text);
        return;
    }
    emit sig_error(text);
}

void can_bus_object::on_frames_received()
{
    bool bus_off = false;
    while (device && device->framesAvailable() > 0) {
        const QCanBusFrame frame = device->readFrame();
        serial_message_struct msg;
        const can_frame_verdict verdict = frame_to_record(frame, msg);
        if (verdict == can_frame_verdict::taken) {
            pump.add_received(msg);
            continue;
        }
        ignored_frames.fetch_add(1, std::memory_order_relaxed);
        if (verdict == can_frame_verdict::error_frame && (frame.error() & QCanBusFrame::BusOffError))
            bus_off = true;
    }
    if (bus_off) {
        fail(QStringLiteral("CAN bus off"));
        return;
    }
    pump.end_of_read();
}

void can_bus_object::fail(const QString& why)
{
    // Auto connection retries a refused interface every few hundred
    // milliseconds: say why once, and again only when the reason changes.
    if (why != last_failure) {
        qDebug().noquote() << "CAN interface ERROR:" << why;
        emit sig_error(why);
        last_failure = why;
    }
    close_device();
    emit sig_disconnected();
}

void can_bus_object::close_device()
{
    const bool was_open = pump.open.load();
    connecting = false;
    connect_timer.stop();
    pump.close(); // what arrived before the loss still counts
    if (was_open && ignored_frames.load() != ignored_at_open)
        qDebug() << "CAN frames ignored:" << ignored_frames.load() - ignored_at_open;
    if (!device)
        return;
    // It may be this device's own signal that brought us here.
    device->disconnect(this);
    if (device->state() != QCanBusDevice::UnconnectedState)
        device->disconnectDevice();
    if (!was_open && !shutting_down) {
        // Never connected: the next attempt at the same port tries it again.
        if (spare)
            spare.release()->deleteLater();
        spare = std::move(device);
        spare_name = port_name;
        return;
    }
    device.release()->deleteLater();
}

void can_bus_object::let_frames_leave()
{
    QEventLoop loop;
    QTimer::singleShot(leave_ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void can_bus_object::sl_disconnect_serial()
{
    if (!device)
        return;
    // What the channels queued before (the outputs-off frames) goes first.
    if (pump.open.load() && pump.write_queued())
        let_frames_leave();
    if (!device)
        return; // lost meanwhile, and reported
    close_device();
    qDebug() << "CAN interface DISCONNECTED by user";
    emit sig_disconnected();
}

void can_bus_object::sl_shutdown()
{
    shutting_down = true;
    spare.reset();
    if (pump.open.load() && pump.write_queued())
        let_frames_leave();
    close_device();
}

void can_bus_object::sl_write_to_port(QByteArray data)
{
    if (pump.open.load())
        write_lines(data);
}

void can_bus_object::write_lines(const QByteArray& data)
{
    const char* p = data.constData();
    const char* const end = p + data.size();
    while (p < end && device) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        const char* const line_end = cr ? cr + 1 : end;
        QCanBusFrame frame;
        if (line_to_frame(p, int(line_end - p), frame)) {
            // A refused write is said once, until one goes through again.
            const bool written = device->writeFrame(frame);
            if (!written && !write_failing)
                qDebug().noquote() << "CAN write FAILED:" << device->errorString();
            write_failing = !written;
        }
        p = line_end;
    }
}

void can_bus_object::queue_frame(const QByteArray& line)
{
    pump.queue(line);
}
