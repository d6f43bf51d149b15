#pragma once

#include "driver_state.h"

#include <QByteArray>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <chrono>

// Polling thread of one channel: asks its board for identity and readings,
// one query frame per pace interval, on a grid that all channels share. It never reads replies; the decoder
// stores them into the driver_state this worker carries.
class laser_worker : public QThread, public driver_state
{
    Q_OBJECT

public:
    // start_delay_ms: sleep at every thread start before the first pass.
    explicit laser_worker(QObject* parent = nullptr, int start_delay_ms = 2000);
    ~laser_worker() override; // stops the thread and waits for it

    std::atomic<bool> running{false};
    std::atomic<bool> param_reading{false};
    std::atomic<bool> poll_enabled{false};
    std::atomic<bool> mini_usb_mode{false};

    // Sets running; (re)starts the thread unless its loop is still going.
    // Always ends with a live loop, also when the thread has just seen
    // running clear and is on its way out.
    void start_polling();
    // Clears running; the pass in progress completes, then the thread ends.
    void stop_polling();
    // Orderly stop for program exit: clears running, cuts the current sleep
    // short, sends no further frame and returns once the thread has ended.
    void stop_and_wait();

    int start_delay() const { return start_delay_ms; }

signals:
    void thread_serial_write(QByteArray data);

protected:
    void run() override;

private:
    // Sleeps ms unless stop_and_wait cuts it short; false when it did.
    bool sleep_ms(int ms);
    // Sleeps at least ms (less slack) and up to the next instant of the pace
    // grid that every channel shares, so that the frames of all channels
    // fall due together and leave in one write.
    bool sleep_on_grid(int ms, int pace_ms, std::chrono::microseconds slack);
    // Emits one frame built by encode(buf, &len), then sleeps one pace.
    template <typename Encode>
    bool send_query(int pace_ms, Encode&& encode);
    bool send_identification(int pace_ms);
    bool send_type_sequence(int pace_ms);
    // Top of a pass: false when the loop is to end.
    bool keep_looping();

    // Exit handshake between run() and start_polling().
    enum exit_phase : int { looping = 0, deciding = 1, leaving = 2 };
    std::atomic<int> exit_state{looping};
    std::atomic<bool> abort_requested{false};
    QSemaphore wake; // released to cut a sleep short
    const int start_delay_ms;
};
