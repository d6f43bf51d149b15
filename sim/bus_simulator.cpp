#include "bus_simulator.h"

#include "sim_engine.h"

#include <QMetaObject>

bus_simulator::bus_simulator(QObject* parent)
    : QObject(parent)
{
    thread.setObjectName("corvane-sim");
}

bus_simulator::~bus_simulator()
{
    stop();
}

void bus_simulator::add_board(int type_code, int can_id)
{
    sim_board_setup setup;
    setup.type_code = type_code;
    setup.can_id = can_id;
    config.boards.append(setup);
}

// Runs f in the simulator thread and waits for its result.
template <typename F>
auto bus_simulator::in_engine(F&& f) const -> decltype(f())
{
    using result_t = decltype(f());
    if constexpr (std::is_void_v<result_t>) {
        if (engine)
            QMetaObject::invokeMethod(engine.get(), std::forward<F>(f), Qt::BlockingQueuedConnection);
    } else {
        result_t result{};
        if (engine)
            QMetaObject::invokeMethod(engine.get(), std::forward<F>(f), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

bool bus_simulator::start()
{
    stop();
    start_error.clear();
    engine = std::make_unique<sim_engine>(config);
    connect(engine.get(), &sim_engine::line_received, this, &bus_simulator::line_received);
    connect(engine.get(), &sim_engine::plug_changed, this, &bus_simulator::plug_changed);
    engine->moveToThread(&thread);
    thread.start();
    sim_engine* e = engine.get();
    if (!in_engine([e] { return e->plug(); })) {
        start_error = in_engine([e] { return e->last_error(); });
        stop();
        return false;
    }
    return true;
}

void bus_simulator::stop()
{
    if (!engine)
        return;
    sim_engine* e = engine.get();
    in_engine([e] { e->shutdown(); });
    thread.quit();
    thread.wait();
    engine.reset();
}

QString bus_simulator::link_path() const
{
    sim_engine* e = engine.get();
    return in_engine([e] { return e->link_path(); });
}

QString bus_simulator::slave_name() const
{
    sim_engine* e = engine.get();
    return in_engine([e] { return e->slave_name(); });
}

QString bus_simulator::last_error() const
{
    return start_error;
}

QList<QByteArray> bus_simulator::received_lines() const
{
    sim_engine* e = engine.get();
    return in_engine([e] { return e->received_lines(); });
}

void bus_simulator::clear_received_lines()
{
    sim_engine* e = engine.get();
    in_engine([e] { e->clear_received_lines(); });
}

quint64 bus_simulator::lines_received() const
{
    return engine ? engine->lines_received.load(std::memory_order_relaxed) : 0;
}

quint64 bus_simulator::frames_forwarded() const
{
    return engine ? engine->frames_forwarded.load(std::memory_order_relaxed) : 0;
}

quint64 bus_simulator::replies_sent() const
{
    return engine ? engine->replies_sent.load(std::memory_order_relaxed) : 0;
}

bool bus_simulator::adapter_open() const
{
    return engine && engine->adapter_open.load(std::memory_order_relaxed);
}

bool bus_simulator::plugged() const
{
    return engine && engine->plugged.load(std::memory_order_relaxed);
}

bool bus_simulator::set_board_silent(int can_id, bool silent)
{
    sim_engine* e = engine.get();
    return in_engine([=] { return e->set_board_silent(can_id, silent); });
}

int bus_simulator::send_garbage(int random_bytes)
{
    sim_engine* e = engine.get();
    return in_engine([=] { return e->send_garbage(random_bytes); });
}

int bus_simulator::send_reply_burst(int can_id, int count)
{
    sim_engine* e = engine.get();
    return in_engine([=] { return e->send_reply_burst(can_id, count); });
}

void bus_simulator::unplug(int replug_after_ms)
{
    sim_engine* e = engine.get();
    in_engine([=] { e->unplug(replug_after_ms); });
}

bool bus_simulator::replug()
{
    sim_engine* e = engine.get();
    return in_engine([=] { return e->plug(); });
}

bool bus_simulator::set_board_register(int can_id, int set_code, int32_t raw)
{
    sim_engine* e = engine.get();
    return in_engine([=] {
        sim_board* b = e->board(can_id);
        if (b)
            b->set_register(set_code, raw);
        return b != nullptr;
    });
}

bool bus_simulator::set_dcdc_values(int can_id, double output_voltage, double input_voltage,
                                    int fault_flags)
{
    sim_engine* e = engine.get();
    return in_engine([=] {
        sim_board* b = e->board(can_id);
        if (!b)
            return false;
        b->set_output_voltage(output_voltage);
        b->set_input_voltage(input_voltage);
        b->set_fault_flags(fault_flags);
        return true;
    });
}

bool bus_simulator::board_register(int can_id, int set_code, int32_t& value) const
{
    sim_engine* e = engine.get();
    const auto found = in_engine([=] {
        const sim_board* b = e->board(can_id);
        return b ? std::make_pair(true, b->register_value(set_code)) : std::make_pair(false, 0);
    });
    value = found.second;
    return found.first;
}

bool bus_simulator::board_readings(int can_id, double& current, double& temperature,
                                   double& voltage) const
{
    struct readings
    {
        bool found = false;
        double current = 0, temperature = 0, voltage = 0;
    };
    sim_engine* e = engine.get();
    const readings r = in_engine([=] {
        readings out;
        if (const sim_board* b = e->board(can_id))
            out = {true, b->current_reading(), b->temperature_reading(), b->voltage_reading()};
        return out;
    });
    current = r.current;
    temperature = r.temperature;
    voltage = r.voltage;
    return r.found;
}
