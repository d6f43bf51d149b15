#pragma once

#include "driver_state.h"
#include "poll_scheduler.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>

// The polling of one channel: asks its board for identity and readings, one
// query frame per pace interval, on the grid that all channels share. It
// never reads replies; the decoder stores them into the driver_state this
// worker carries. The frames are sent by the scheduler, which drives every
// channel's passes as state machines from the connected transport's thread
// (no thread per channel).
class laser_worker : public QObject, public driver_state, private poll_client
{
    Q_OBJECT

public:
    // start_delay_ms: the wait at every start before the first pass.
    explicit laser_worker(QObject* parent = nullptr, int start_delay_ms = 2000);
    // On a scheduler of its own (a test's manual one).
    laser_worker(std::shared_ptr<poll_scheduler> scheduler, QObject* parent, int start_delay_ms);
    ~laser_worker() override; // leaves the schedule

    std::atomic<bool> running{false};
    std::atomic<bool> param_reading{false};
    std::atomic<bool> poll_enabled{false};
    std::atomic<bool> mini_usb_mode{false};

    // Sets running; joins the schedule (after the start delay) unless the
    // passes are still going, in which case they simply go on.
    void start_polling();
    // Clears running; the pass in progress completes, then the polling ends.
    void stop_polling();
    // Orderly stop: clears running and leaves the schedule at once; no frame
    // is sent once it returns.
    void stop_and_wait();
    // The passes are going (or the start delay runs).
    bool is_polling() const;

    int start_delay() const { return start_delay_ms; }

    // True in the thread that sends every channel's polls: a frame emitted
    // there is a poll, anything else an operator's command.
    static bool polls_from_here();

signals:
    void thread_serial_write(QByteArray data);

private:
    enum class pass_phase { top, can_id, sequence_start, sequence };
    enum class poll_sequence { none, cw_params, cw_monitor, ps_params, ps_monitor, ns_params, ns_monitor, dcdc_monitor };

    step poll_step() override;
    void deliver(const QByteArray& frame) override;
    void restart() override;

    std::chrono::milliseconds pace() const;
    step begin_sequence();
    step sequence_step();
    poll_sequence choose_sequence() const;
    static int sequence_length(poll_sequence s);
    QByteArray sequence_frame(poll_sequence s, int index) const;
    QByteArray identification_frame(bool type_query) const;

    const std::shared_ptr<poll_scheduler> scheduler;
    const int start_delay_ms;
    // The pass in progress; touched only under the scheduler's lock.
    pass_phase phase = pass_phase::top;
    poll_sequence sequence = poll_sequence::none;
    int sequence_index = 0;
    std::chrono::milliseconds pass_pace{15};
};
