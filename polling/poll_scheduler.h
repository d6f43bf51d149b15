#pragma once

#include "poll_client.h"
#include "pace_clock.h"
#include "tick_source.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Drives the polling of every channel from one thread, on the pace grid:
// each channel's steps fall due at grid instants, all channels due at the
// same instant are served by one wake-up, and the thread sleeps through the
// rests that the channels share. A wake that comes a little late still
// serves its instant; one too late for the transport's tick after it moves
// every channel due then to the same later instant, so that they stay in
// step with each other.
//
// Who serves: the program's scheduler is hosted by the transport that is
// connected (its ticks make the frames they write, one wake-up for both);
// without a host it runs a thread of its own on the steady clock. A test
// drives a manual one through advance_to() and sees exactly which instant
// each frame was sent at.
class poll_scheduler : public tick_source
{
public:
    using clock = pace_clock::clock;
    using time_point = clock::time_point;
    enum class mode { threaded, manual };

    explicit poll_scheduler(mode m = mode::threaded);
    ~poll_scheduler() override;
    poll_scheduler(const poll_scheduler&) = delete;
    poll_scheduler& operator=(const poll_scheduler&) = delete;

    // The scheduler every channel of the program shares; made when the first
    // channel asks and ended with the last one.
    static std::shared_ptr<poll_scheduler> shared();

    // Adds the client unless it is in the schedule; its first step falls due
    // at the first grid instant (of its pace) at least delay from now, shared
    // with the other channels that are starting within a few instants.
    // False when it was in the schedule already.
    bool join(poll_client* client, std::chrono::milliseconds delay, std::chrono::milliseconds pace);
    // Takes the client out; once this returns no step of it runs and no frame
    // of it is being delivered (unless called from inside its own delivery).
    void leave(poll_client* client);
    bool contains(poll_client* client) const;

    // Runs f under the scheduler's lock: a client's state changes atomically
    // with respect to its steps.
    void locked(const std::function<void()>& f);

    time_point now() const;
    // Manual mode: moves the clock to t, serving every step due until then at
    // its instant plus late(instant) (how late that wake-up came).
    void advance_to(time_point t, const std::function<std::chrono::microseconds(time_point)>& late = {});

    // Hosting: while a host is attached the scheduler's own thread idles.
    void attach_host(std::function<void()> wake) override;
    time_point serve_due(time_point instant) override;
    time_point next_due() const override;

    // Whether the calling thread is serving the schedule now (frames it
    // delivers are polls).
    static bool in_scheduler_thread();

    // A wake-up later than this after its instant misses the transport's tick.
    static constexpr std::chrono::microseconds late_limit{2000};

private:
    struct entry
    {
        poll_client* client;
        time_point due;
        std::chrono::milliseconds pace;
        bool starting; // its first step has not come yet
    };
    void run_thread();
    // Serves every entry due at or before t; the lock is held on entry and exit.
    void serve(std::unique_lock<std::mutex>& lock, time_point t);
    bool earliest(time_point& t) const;

    const mode run_mode;
    mutable std::mutex mutex;
    std::condition_variable changed;   // the schedule changed, or stop
    std::condition_variable delivered; // a delivery ended
    std::vector<entry> entries;
    poll_client* delivering = nullptr;
    bool stopping = false;
    std::function<void()> host_wake; // set while a host serves
    time_point manual_now{};
    std::thread worker;
};
