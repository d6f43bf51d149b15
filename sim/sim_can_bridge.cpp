#include "sim_can_bridge.h"

#include "build_can_frame.h"
#include "can_frame_codec.h"
#include "can_port_name.h"
#include "rx_line_cutter.h"

#include <QCanBus>
#include <QDebug>

namespace {

constexpr int rejoin_ms = 200;

} // namespace

sim_can_bridge::sim_can_bridge(const QString& link_path, const QString& bus, QObject* parent)
    : QObject(parent), link(link_path), bus_name(bus)
{
    rejoin_timer.setParent(this); // moves with this object
    rejoin_timer.setSingleShot(true);
    connect(&rejoin_timer, &QTimer::timeout, this, &sim_can_bridge::join);
}

sim_can_bridge::~sim_can_bridge()
{
    stop();
}

bool sim_can_bridge::start()
{
    if (adapter)
        return true; // started already
    can_port_name name;
    if (!can_port_name::parse(bus_name, name)) {
        qWarning().noquote() << "corvane-sim: not a CAN bus (PLUGIN:INTERFACE):" << bus_name;
        return false;
    }
    adapter = std::make_unique<QSerialPort>(link);
    if (!adapter->open(QIODevice::ReadWrite)) {
        qWarning().noquote() << "corvane-sim: cannot open" << link << adapter->errorString();
        adapter.reset();
        return false;
    }
    connect(adapter.get(), &QSerialPort::readyRead, this, &sim_can_bridge::on_adapter_readable);
    adapter->write("O\r"); // the simulated adapter passes frames on only when open
    wanted = true;
    join();
    return device != nullptr;
}

void sim_can_bridge::stop()
{
    wanted = false;
    rejoin_timer.stop();
    leave();
    adapter.reset();
}

void sim_can_bridge::join()
{
    leave();
    can_port_name name;
    can_port_name::parse(bus_name, name);
    QString error;
    device.reset(QCanBus::instance()->createDevice(name.plugin, name.interface_name, &error));
    if (!device) {
        qWarning().noquote() << "corvane-sim:" << error;
        return;
    }
    // A foreign node may send flexible-data-rate frames too (send_frame).
    device->setConfigurationParameter(QCanBusDevice::CanFdKey, true);
    connect(device.get(), &QCanBusDevice::stateChanged, this, &sim_can_bridge::on_state);
    connect(device.get(), &QCanBusDevice::framesReceived, this, &sim_can_bridge::on_frames);
    if (!device->connectDevice() && wanted)
        rejoin_timer.start(rejoin_ms);
}

void sim_can_bridge::leave()
{
    const bool was_on = on_bus.exchange(false);
    if (device) {
        device->disconnect(this);
        if (device->state() != QCanBusDevice::UnconnectedState)
            device->disconnectDevice();
        device.release()->deleteLater();
    }
    if (was_on)
        emit bus_changed(false);
}

void sim_can_bridge::on_state(QCanBusDevice::CanBusDeviceState state)
{
    if (state == QCanBusDevice::ConnectedState) {
        on_bus = true;
        emit bus_changed(true);
    } else if (state == QCanBusDevice::UnconnectedState && wanted) {
        // The node that hosted the virtual bus left: join again (and host it now).
        leave();
        rejoin_timer.start(rejoin_ms);
    }
}

void sim_can_bridge::on_frames()
{
    while (device && device->framesAvailable() > 0) {
        const QCanBusFrame frame = device->readFrame();
        serial_message_struct msg;
        if (frame_to_record(frame, msg) != can_frame_verdict::taken || !adapter)
            continue;
        char line[can_frame_line_length];
        uint32_t len = 0;
        build_can_frame(int32_t(msg.id), int8_t(msg.data[0]), int8_t(msg.data[1]), int8_t(msg.data[2]),
                        int8_t(msg.data[3]), int8_t(msg.data[4]), int8_t(msg.data[5]), int8_t(msg.data[6]),
                        int8_t(msg.data[7]), line, &len);
        adapter->write(line, qint64(len));
        ++frames_to_boards;
    }
}

void sim_can_bridge::on_adapter_readable()
{
    rx.append(adapter->readAll());
    cut_rx_lines(rx, [this](const serial_message_struct& msg) {
        if (send_frame(record_to_frame(msg)))
            ++frames_from_boards;
    });
}

bool sim_can_bridge::send_frame(const QCanBusFrame& frame)
{
    return on_bus.load() && device && device->writeFrame(frame);
}
