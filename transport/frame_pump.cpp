#include "frame_pump.h"

#include "pace_clock.h"

#include <QMetaObject>
#include <algorithm>
#include <utility>

namespace {

// The channels pace on this grid (laser_worker); a tick comes this long after
// the grid instant, when every frame that fell due is queued.
constexpr std::chrono::milliseconds normal_tick{15};
constexpr std::chrono::milliseconds mini_usb_tick{50};
constexpr std::chrono::microseconds tick_offset{3000};
// Received frames are handed on at most this often while the ticks run.
constexpr int rx_post_ms = 250;

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

frame_pump::~frame_pump()
{
    set_source(nullptr);
}

void frame_pump::set_source(tick_source* s)
{
    tick_source* const old = source.exchange(s);
    if (old == s)
        return;
    if (old)
        old->attach_host({});
    if (s) {
        s->attach_host([this] { QMetaObject::invokeMethod(this, &frame_pump::sl_source_changed, Qt::QueuedConnection); });
        QMetaObject::invokeMethod(this, &frame_pump::sl_source_changed, Qt::QueuedConnection);
    }
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
    asleep.store(true);
    // The source goes on being served, its frames dropped, until it rests:
    // a channel that stops polling leaves at the end of its pass.
    tick_source* const s = source.load();
    rest_until(s ? s->next_due() : tick_source::time_point::max());
}

void frame_pump::end_of_read()
{
    if (!ticks_running)
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
    // Lines another thread queues from now on are taken by this tick's write
    // or found by the check before the ticks stop.
    asleep.store(false);
    if (on_tick)
        on_tick();
    // The instant this tick belongs to: the source's frames of that instant
    // are made now and leave in this tick's write.
    tick_source::time_point due = tick_source::time_point::max();
    if (tick_source* const s = source.load())
        due = s->serve_due(pace_clock::clock::now() - tick_offset);
    if (!open.load()) {
        // Lost between the queueing and this tick: nothing leaves without a device.
        discard_queued();
        asleep.store(true);
        rest_until(due);
        return;
    }
    if (write_queued()) {
        // The replies are read at the next tick, with the next instant's frames.
        if (!since_rx_post.isValid() || since_rx_post.elapsed() >= rx_post_ms)
            post_received();
        plan_tick(std::chrono::milliseconds(1));
        return;
    }
    // Nothing to write: the ticks stop until the source's next step. What
    // came goes on now; replies still on their way wake the thread as they
    // arrive (the transport reads at once while the ticks are stopped).
    post_received();
    asleep.store(true);
    // A line queued before the store found the ticks running and woke nobody.
    if (!tx.empty()) {
        asleep.store(false);
        plan_tick(std::chrono::milliseconds(1));
        return;
    }
    rest_until(due);
}

void frame_pump::sl_wake()
{
    // The first line of a grid instant woke the thread; the others of that
    // instant are on their way, and the tick just after it takes them all.
    if (!ticks_running)
        plan_tick(std::chrono::milliseconds(0));
}

void frame_pump::sl_source_changed()
{
    // A step now falls due earlier than the timer was set for. Running ticks
    // meet it on their own: every due step lies on their grid.
    if (ticks_running)
        return;
    tick_source* const s = source.load();
    if (!s)
        return;
    const auto due = s->next_due();
    if (due == tick_source::time_point::max())
        return;
    const auto now = pace_clock::clock::now();
    const auto at = due + tick_offset;
    if (timer.isActive() && now + std::chrono::milliseconds(timer.remainingTime()) <= at)
        return;
    sleep_until(due);
}

void frame_pump::plan_tick(std::chrono::milliseconds at_least)
{
    using namespace std::chrono;
    // A run's replies go on when it ends: within its first 250 ms, one
    // hand-over per pass (what came before the run went on when it came).
    if (!ticks_running)
        since_rx_post.start();
    ticks_running = true;
    const auto period = slow_pace.load(std::memory_order_relaxed) ? mini_usb_tick : normal_tick;
    const auto now = pace_clock::clock::now();
    const auto next = pace_clock::next_slot(now + at_least, period, tick_offset);
    timer.start(int(ceil<milliseconds>(next - now).count()));
}

void frame_pump::rest_until(tick_source::time_point due)
{
    const bool was_running = ticks_running;
    ticks_running = false;
    if (was_running && on_rest)
        on_rest();
    sleep_until(due);
}

void frame_pump::sleep_until(tick_source::time_point due)
{
    using namespace std::chrono;
    if (due == tick_source::time_point::max()) {
        timer.stop();
        return;
    }
    const auto now = pace_clock::clock::now();
    const auto wait = ceil<milliseconds>(due + tick_offset - now).count();
    timer.start(int(std::max<decltype(wait)>(0, wait)));
}
