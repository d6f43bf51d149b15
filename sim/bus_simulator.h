#pragma once

#include "sim_config.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QThread>
#include <memory>

class sim_engine;

// A simulated SLCAN adapter with driver boards behind it, on a real
// pseudo-terminal, running in a thread of its own so that it answers while
// the caller's thread is busy or blocked. Configure, start(), talk to
// link_path() like a serial port, inspect, inject faults, stop().
class bus_simulator : public QObject
{
    Q_OBJECT

public:
    explicit bus_simulator(QObject* parent = nullptr);
    ~bus_simulator() override;

    // Configuration; takes effect at the next start().
    sim_config config;
    void add_board(int type_code, int can_id);

    // Starts the thread and publishes the port; false (with last_error())
    // when the pseudo-terminal cannot be made.
    bool start();
    void stop();
    bool is_running() const { return engine != nullptr; }

    QString link_path() const;
    QString slave_name() const;
    QString last_error() const;

    // Every line received, each with its carriage return, in order.
    QList<QByteArray> received_lines() const;
    void clear_received_lines();

    // Read directly; they are updated by the simulator thread.
    quint64 lines_received() const;
    quint64 frames_forwarded() const;
    quint64 replies_sent() const;
    bool adapter_open() const;
    bool plugged() const;

    // Fault injection.
    bool set_board_silent(int can_id, bool silent);
    int send_garbage(int random_bytes);
    int send_reply_burst(int can_id, int count);
    void unplug(int replug_after_ms);
    bool replug();

    // Board values that only the outside world sets (Power DCDC).
    bool set_dcdc_values(int can_id, double output_voltage, double input_voltage, int fault_flags);
    // Sets a register as a set command would (a board switched on by someone else).
    bool set_board_register(int can_id, int set_code, int32_t raw);
    // Register of a board as last set by a set command (raw, as sent), and
    // its readings; false when no board has the CAN ID.
    bool board_register(int can_id, int set_code, int32_t& value) const;
    bool board_readings(int can_id, double& current, double& temperature, double& voltage) const;

signals:
    void line_received(QByteArray line);
    void plug_changed(bool plugged);

private:
    template <typename F>
    auto in_engine(F&& f) const -> decltype(f());

    QThread thread;
    std::unique_ptr<sim_engine> engine;
    QString start_error;
};
