#include "frame_pump.h"

#include "pace_clock.h"

#include <QMetaObject>
#include <utility>

namespace {

// The channels pace on this grid (laser_worker); a tick comes this long after
// the grid instant, when every frame that fell due is queued.
constexpr std::chrono::milliseconds normal_tick{15};
constexpr std::chrono::milliseconds mini_usb_tick{50};
constexpr std::chrono::microseconds tick_offset{3000};
// Received frames are handed on at most this often while the ticks run.
constexpr int rx_post_ms = 30;
// Ticks without traffic before the ticks stop.
constexpr int quiet_ticks_before_sleep = 4;

} // namespace

frame_pump::frame_pump(QObject* owner, std::function<void(const QByteArray&)> write)
    : QObject(owner), write(std::move(write))
{
    timer.setParent(this); // moves to the transport's thread with this object
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &frame_pump::sl_tick);
    tx_batch.reserve(int(tx_frame_queue::capacity) * tx_frame_queue::slot_bytes);
}

void frame_pump::queue(const QByteArray& line)
{
    if (!open.load())
        return; // as a write to a closed port: nothing goes out
    if (overflow_pending.load() == 0 && tx.push(line.constData(), line.size())) {
        if (asleep.exchange(false))
            QMetaObject::invokeMethod(this, &frame_pump::sl_wake, Qt::QueuedConnection);
        return;
    }
    // The ring is full (the transport thread is held up) or the line is too
    // long for a slot: the queued route, behind what the ring holds.
    overflow_pending.fetch_add(1);
    const unsigned queued_in = session.load();
    QMetaObject::invokeMethod(this, [this, line, queued_in] {
        if (open.load() && session.load() == queued_in) {
            write_queued();
            write(line);
        }
        overflow_pending.fetch_sub(1);
    }, Qt::QueuedConnection);
}

void frame_pump::open_session()
{
    discard_queued();
    session.fetch_add(1);
    open.store(true);
}

bool frame_pump::write_queued()
{
    tx_batch.clear();
    if (tx.drain(tx_batch) == 0)
        return false;
    write(tx_batch);
    return true;
}

void frame_pump::close()
{
    open.store(false);
    post_received(); // complete frames read before the loss still count
    discard_queued();
    timer.stop();
    quiet_ticks = 0;
    asleep.store(true);
}

void frame_pump::end_of_read()
{
    if (!timer.isActive())
        post_received();
}

void frame_pump::discard_queued()
{
    tx_batch.clear();
    tx.drain(tx_batch);
    tx_batch.clear();
}

void frame_pump::post_received()
{
    if (rx_batch.isEmpty())
        return;
    emit sig_received(rx_batch);
    rx_batch.clear();
    since_rx_post.start();
}

void frame_pump::sl_tick()
{
    if (on_tick)
        on_tick();
    if (!open.load()) {
        // Lost between the queueing and this tick: nothing leaves without a device.
        asleep.store(true);
        discard_queued();
        return;
    }
    const bool wrote = write_queued();
    const bool received = !rx_batch.isEmpty();
    if (received && (!since_rx_post.isValid() || since_rx_post.elapsed() >= rx_post_ms))
        post_received();
    quiet_ticks = wrote || received ? 0 : quiet_ticks + 1;
    if (quiet_ticks >= quiet_ticks_before_sleep) {
        asleep.store(true);
        // A line queued before the store found the ticks running and woke nobody.
        if (tx.empty()) {
            quiet_ticks = 0;
            return;
        }
        asleep.store(false);
    }
    plan_tick(std::chrono::milliseconds(1));
}

void frame_pump::sl_wake()
{
    // The first line of a grid instant woke the thread; the others of that
    // instant are on their way, and the tick just after it takes them all.
    if (!timer.isActive())
        plan_tick(std::chrono::milliseconds(0));
}

void frame_pump::plan_tick(std::chrono::milliseconds at_least)
{
    using namespace std::chrono;
    const auto period = slow_pace.load(std::memory_order_relaxed) ? mini_usb_tick : normal_tick;
    const auto now = pace_clock::clock::now();
    const auto next = pace_clock::next_slot(now + at_least, period, tick_offset);
    timer.start(int(ceil<milliseconds>(next - now).count()));
}
