#pragma once

// The simulated boards on a private virtual CAN bus: the simulator's adapter
// bridged onto the bus by its own thread, which hosts the bus as the
// simulator process does when it opens first.

#include "sim_can_bridge.h"
#include "sim_fixture.h"

#include <QTcpServer>

namespace can_e2e {

// An unused local port: parallel runs never share the machine's one virtual bus.
inline QString private_bus()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(probe.serverPort());
}

class can_sim
{
public:
    can_sim(const QString& dir, const QList<QPair<int, int>>& boards)
        : sim(e2e::start_bus(dir, boards)), bus(private_bus()), bridge(sim->link_path(), bus)
    {
        bridge.moveToThread(&thread);
        thread.start();
    }
    ~can_sim()
    {
        call([this] { bridge.stop(); });
        thread.quit();
        thread.wait();
    }
    template <class F>
    void call(F f) { QMetaObject::invokeMethod(&bridge, f, Qt::BlockingQueuedConnection); }
    // Joins the bus and waits until it is on it.
    bool start()
    {
        call([this] { bridge.start(); });
        return QTest::qWaitFor([this] { return bridge.on_bus.load(); }, 5000);
    }

    std::unique_ptr<bus_simulator> sim;
    const QString bus;
    QThread thread;
    sim_can_bridge bridge;
};

} // namespace can_e2e
