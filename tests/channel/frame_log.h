#pragma once

#include "laser_worker.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// Records the frames a worker emits, with the time of emission, straight in
// the emitting thread and without a lock: one writer fills slots in order and
// publishes the count; readers see only published slots.
class frame_log
{
public:
    struct entry
    {
        qint64 at_ms = 0;
        QByteArray line;
    };

    explicit frame_log(laser_worker& worker)
    {
        clock.start();
        connection = QObject::connect(&worker, &laser_worker::thread_serial_write,
                                      [this](const QByteArray& line) { record(line); });
    }
    ~frame_log() { QObject::disconnect(connection); }

    int size() const { return count.load(std::memory_order_acquire); }
    const entry& at(int i) const { return entries[static_cast<size_t>(i)]; }
    qint64 now_ms() const { return clock.elapsed(); }

    // Data byte k (0..7) of frame i, from the hex digits of its line.
    int byte(int i, int k) const { return at(i).line.mid(5 + 2 * k, 2).toInt(nullptr, 16); }
    int code(int i) const { return byte(i, 0); }
    int can_id(int i) const { return at(i).line.mid(1, 3).toInt(nullptr, 16); }

    std::vector<int> codes(int from, int to) const
    {
        std::vector<int> out;
        for (int i = from; i < to && i < size(); ++i)
            out.push_back(code(i));
        return out;
    }

private:
    void record(const QByteArray& line)
    {
        const int n = count.load(std::memory_order_relaxed);
        if (n >= static_cast<int>(entries.size()))
            return;
        entries[static_cast<size_t>(n)] = {clock.elapsed(), line};
        count.store(n + 1, std::memory_order_release);
    }

    QElapsedTimer clock;
    std::array<entry, 512> entries;
    std::atomic<int> count{0};
    QMetaObject::Connection connection;
};
