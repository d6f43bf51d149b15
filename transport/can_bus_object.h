#pragma once

#include "bus_transport.h"
#include "can_port_name.h"
#include "frame_pump.h"

#include <QCanBusDevice>
#include <QTimer>
#include <atomic>
#include <memory>

// The boards through a CAN interface of the system (SocketCAN, PEAK, the
// virtual bus, ...) by Qt SerialBus, instead of an SLCAN adapter on a serial
// port. The port name is PLUGIN:INTERFACE. Frames go out as the serial worker
// sends them: channel polls wait in a ring for the shared pace tick, operator
// commands leave at once; received frames reach the window in batches. There
// are no adapter commands on an interface.
class can_bus_object : public bus_transport
{
    Q_OBJECT

public:
    // What the boards are run at; set where the plugin sets bit rates.
    static constexpr int bit_rate = 500000;

    explicit can_bus_object(QObject* parent = nullptr);
    ~can_bus_object() override;

    void queue_frame(const QByteArray& line) override;
    void set_tick_source(tick_source* source) override { pump.set_source(source); }

    // Received frames refused since the start (extended identifier, remote,
    // error, not eight data bytes, flexible data rate): never decoded.
    std::atomic<quint64> ignored_frames{0};

public slots:
    void sl_start_port_process() override;
    void sl_serial_conf(serial_conf_struct conf) override;
    void sl_connect_serial() override;
    void sl_disconnect_serial() override;
    void sl_write_to_port(QByteArray data) override;
    void sl_shutdown() override;

private:
    void on_state_changed(QCanBusDevice::CanBusDeviceState state);
    void on_error(QCanBusDevice::CanBusError error);
    void on_frames_received();
    // Reports a failed attempt or a lost interface: closed, then disconnected.
    void fail(const QString& why);
    // Closes and drops the device without a report.
    void close_device();
    // Gives the device a moment to hand written frames to the system.
    void let_frames_leave();
    void write_lines(const QByteArray& data);
    // Makes the device for the port; false (and reported) when refused.
    bool create_device(const can_port_name& name);

    QString port_name;
    std::unique_ptr<QCanBusDevice> device;
    bool connecting = false;
    QTimer connect_timer;
    quint64 ignored_at_open = 0;
    QString last_failure; // reported already; cleared by a connection
    // A device that failed to connect, kept for the next attempt at its port.
    std::unique_ptr<QCanBusDevice> spare;
    QString spare_name;
    // The port whose plugin refused it at creation, and its words.
    QString refused_name;
    QString refused_why;
    bool shutting_down = false;
    bool write_failing = false; // the last write was refused, and said so

    frame_pump pump; // its open flag: the interface takes frames
};
