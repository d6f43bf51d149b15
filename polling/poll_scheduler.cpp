#include "poll_scheduler.h"

#include <algorithm>
#include <pthread.h>

namespace {

thread_local bool scheduler_thread = false;

// Channels starting within this many instants of each other start together.
constexpr int start_merge_slots = 2;

} // namespace

poll_scheduler::poll_scheduler(mode m)
    : run_mode(m)
{
    if (run_mode == mode::threaded)
        worker = std::thread([this] { run_thread(); });
}

poll_scheduler::~poll_scheduler()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (worker.joinable())
        worker.join();
}

std::shared_ptr<poll_scheduler> poll_scheduler::shared()
{
    static std::mutex guard;
    static std::weak_ptr<poll_scheduler> current;
    std::lock_guard<std::mutex> lock(guard);
    std::shared_ptr<poll_scheduler> s = current.lock();
    if (!s) {
        s = std::make_shared<poll_scheduler>();
        current = s;
    }
    return s;
}

poll_scheduler::time_point poll_scheduler::now() const
{
    if (run_mode == mode::manual) {
        std::lock_guard<std::mutex> lock(mutex);
        return manual_now;
    }
    return clock::now();
}

bool poll_scheduler::in_scheduler_thread()
{
    return scheduler_thread;
}

bool poll_scheduler::join(poll_client* client, std::chrono::milliseconds delay, std::chrono::milliseconds pace)
{
    const time_point t = run_mode == mode::manual ? now() : clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    if (std::any_of(entries.begin(), entries.end(), [client](const entry& e) { return e.client == client; }))
        return false;
    time_point due = pace_clock::next_slot(t + delay, pace);
    // Others that start within a few instants of this one: all start at the
    // latest of these instants (none earlier than its own delay allows).
    const auto window = pace * start_merge_slots;
    const auto near = [&](const entry& e) { return e.starting && e.pace == pace && e.due > due - window && e.due < due + window; };
    for (const entry& e : entries) {
        if (near(e))
            due = std::max(due, e.due);
    }
    for (entry& e : entries) {
        if (near(e))
            e.due = due;
    }
    client->restart();
    entries.push_back({client, due, pace, true});
    const std::function<void()> wake = host_wake;
    lock.unlock();
    changed.notify_all();
    if (wake)
        wake();
    return true;
}

void poll_scheduler::leave(poll_client* client)
{
    std::unique_lock<std::mutex> lock(mutex);
    entries.erase(std::remove_if(entries.begin(), entries.end(), [client](const entry& e) { return e.client == client; }),
                  entries.end());
    if (!scheduler_thread)
        delivered.wait(lock, [this, client] { return delivering != client; });
}

bool poll_scheduler::contains(poll_client* client) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(entries.begin(), entries.end(), [client](const entry& e) { return e.client == client; });
}

void poll_scheduler::locked(const std::function<void()>& f)
{
    std::lock_guard<std::mutex> lock(mutex);
    f();
}

bool poll_scheduler::earliest(time_point& t) const
{
    if (entries.empty())
        return false;
    t = std::min_element(entries.begin(), entries.end(), [](const entry& a, const entry& b) { return a.due < b.due; })->due;
    return true;
}

void poll_scheduler::serve(std::unique_lock<std::mutex>& lock, time_point t)
{
    // One round over the entries due now. A client may leave (or another
    // join) while its frame is delivered, so the entry is found again by
    // its client afterwards.
    // The list's storage is kept between rounds, so a tick allocates nothing;
    // per thread, and taken while in use, so no two rounds share it.
    thread_local std::vector<poll_client*> spare;
    std::vector<poll_client*> due;
    due.swap(spare);
    due.clear();
    for (const entry& e : entries) {
        if (e.due <= t)
            due.push_back(e.client);
    }
    for (poll_client* client : due) {
        auto it = std::find_if(entries.begin(), entries.end(), [client](const entry& e) { return e.client == client; });
        if (it == entries.end() || it->due > t)
            continue;
        // Too late for the tick that follows the instant: serve it as the
        // first instant of its grid that can still make a tick. Every
        // channel due then lands on the same instant.
        time_point instant = it->due;
        if (t - instant > late_limit)
            instant = pace_clock::next_slot(t - late_limit, it->pace);
        const poll_client::step s = client->poll_step();
        if (s.leave) {
            entries.erase(it);
            continue;
        }
        it->due = instant + s.next;
        it->pace = s.pace;
        it->starting = false;
        if (s.frame.isEmpty())
            continue;
        delivering = client;
        lock.unlock();
        client->deliver(s.frame);
        lock.lock();
        delivering = nullptr;
        delivered.notify_all();
    }
    spare.swap(due);
}

void poll_scheduler::run_thread()
{
    scheduler_thread = true;
    pthread_setname_np(pthread_self(), "poll_scheduler"); // as top and the benchmark show it
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        time_point next;
        if (host_wake || !earliest(next)) {
            changed.wait(lock);
            continue;
        }
        const time_point t = clock::now();
        if (t < next) {
            changed.wait_until(lock, next);
            continue;
        }
        serve(lock, t);
    }
}

void poll_scheduler::attach_host(std::function<void()> wake)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        host_wake = std::move(wake);
    }
    changed.notify_all(); // the own thread idles, or takes over again
}

poll_scheduler::time_point poll_scheduler::serve_due(time_point instant)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool was = scheduler_thread;
    scheduler_thread = true; // what is delivered now is a poll
    time_point next;
    while (earliest(next) && next <= instant)
        serve(lock, instant);
    scheduler_thread = was;
    return earliest(next) ? next : time_point::max();
}

poll_scheduler::time_point poll_scheduler::next_due() const
{
    std::lock_guard<std::mutex> lock(mutex);
    time_point next;
    return earliest(next) ? next : time_point::max();
}

void poll_scheduler::advance_to(time_point t, const std::function<std::chrono::microseconds(time_point)>& late)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        time_point next;
        if (!earliest(next) || next > t)
            break;
        const time_point woke = late ? next + late(next) : next;
        manual_now = std::max(manual_now, woke);
        serve(lock, manual_now);
    }
    manual_now = std::max(manual_now, t);
}
