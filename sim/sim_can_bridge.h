#pragma once

#include <QByteArray>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>

// Puts the boards of a simulated adapter (bus_simulator, on its
// pseudo-terminal) on a CAN bus of Qt SerialBus, the virtual one for tests
// and the demo: frames from the bus go to the adapter as frame lines, the
// boards' replies come back as frames. The boards, their routing and their
// recorded lines stay the simulator's. Lives in one thread; call its slots
// there (queued from elsewhere).
class sim_can_bridge : public QObject
{
    Q_OBJECT

public:
    // link_path: the simulator's port; bus: PLUGIN:INTERFACE.
    sim_can_bridge(const QString& link_path, const QString& bus, QObject* parent = nullptr);
    ~sim_can_bridge() override;

    // Read from any thread.
    std::atomic<bool> on_bus{false};
    std::atomic<quint64> frames_to_boards{0};
    std::atomic<quint64> frames_from_boards{0};

public slots:
    // Opens the adapter and joins the bus (hosting it when the virtual bus has
    // no server yet); joins again whenever the bus goes away, until stop().
    // False, with a message on standard error, when the adapter or the
    // plugin cannot be opened.
    bool start();
    void stop();
    // Puts any frame on the bus, as a foreign node would.
    bool send_frame(const QCanBusFrame& frame);

signals:
    void bus_changed(bool on_bus);

private:
    void join();
    void leave();
    void on_state(QCanBusDevice::CanBusDeviceState state);
    void on_frames();
    void on_adapter_readable();

    QString link;
    QString bus_name;
    bool wanted = false;
    std::unique_ptr<QSerialPort> adapter;
    std::unique_ptr<QCanBusDevice> device;
    QTimer rejoin_timer;
    QByteArray rx;
};
