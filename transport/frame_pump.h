#pragma once

#include "serial_message_struct.h"
#include "tick_source.h"
#include "tx_frame_queue.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>

// The traffic between a transport's thread and the others, kept quiet.
// On a pace tick just after each instant of the channels' grid the tick
// source (the polling) makes the frames that fell due, and they leave in one
// write together with lines other threads put into the ring. Received frames
// go to the GUI thread in batches. A tick that writes nothing stops the
// ticks: the thread sleeps until the source's next step falls due, a line is
// queued, or replies arrive.
//
// A child of its transport, so it lives in the transport's thread; only
// queue() and the flags may be used from other threads.
class frame_pump : public QObject
{
    Q_OBJECT

public:
    // write: hands a block of frame lines to the device (transport thread).
    frame_pump(QObject* owner, std::function<void(const QByteArray&)> write);
    ~frame_pump() override;

    // Any thread: the ticks serve this source from now on (nullptr: none).
    void set_source(tick_source* s);

    // Set by the transport while its device takes lines; lines queued while
    // it is clear are dropped, as a write to a closed port would be.
    std::atomic<bool> open{false};
    // The channels pace at 50 ms in mini USB mode, else at 15 ms.
    std::atomic<bool> slow_pace{false};

    // Transport thread: the device takes lines from now on. Whatever a
    // producer slipped into the ring while the last connection was closing
    // belongs to that connection and is dropped.
    void open_session();
    // Any thread: one frame line for the next tick. One thread's lines leave
    // in the order queued; none is dropped while open.
    void queue(const QByteArray& line);
    // Transport thread: writes every waiting line now; false when none waited.
    bool write_queued();
    // Transport thread: the device is gone. Hands on what was received,
    // drops what waits and stops the ticks.
    void close();
    // Transport thread: frames of one read. While the ticks run a tick hands
    // them on; otherwise they go at once.
    void add_received(const serial_message_struct& sm) { rx_batch.append(sm); }
    void end_of_read();
    // The ticks are running: a transport may leave its reading to them.
    bool ticking() const { return ticks_running; }
    // Transport thread: called at the start of every tick, and when the
    // ticks stop (until the next one starts the transport reads on its own).
    std::function<void()> on_tick;
    std::function<void()> on_rest;

signals:
    void sig_received(serial_message_batch frames);

private slots:
    void sl_tick();
    void sl_wake();
    void sl_source_changed();

private:
    void post_received();
    void discard_queued();
    void plan_tick(std::chrono::milliseconds at_least);
    // Stops the ticks; the timer then wakes the thread for the source's next step.
    void rest_until(tick_source::time_point due);
    void sleep_until(tick_source::time_point due);

    std::function<void(const QByteArray&)> write;
    tx_frame_queue tx;
    QByteArray tx_batch;           // reused for every write
    serial_message_batch rx_batch; // received since the last hand-over
    QElapsedTimer since_rx_post;
    QTimer timer;
    bool ticks_running = false;
    std::atomic<tick_source*> source{nullptr};
    // The ticks have stopped: a producer that finds it so wakes the thread.
    std::atomic<bool> asleep{true};
    // Lines sent the slow way (ring full) and not yet written: later lines follow them.
    std::atomic<int> overflow_pending{0};
    // Counts the connections: a line sent the slow way leaves only on its own.
    std::atomic<unsigned> session{0};
};
