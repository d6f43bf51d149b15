#pragma once

#include <QByteArray>
#include <array>
#include <atomic>
#include <cstddef>

// Frame lines from the channel threads and the GUI thread to the serial
// thread, without a lock and without a heap allocation per frame: a bounded
// ring of fixed ring in which every producer claims a slot by its sequence
// number and the one consumer takes them in that order.
class tx_frame_queue
{
public:
    static constexpr std::size_t capacity = 1024; // a power of two
    static constexpr int slot_bytes = 32;         // a frame line has 22

    tx_frame_queue();

    // Any thread. False when the ring is full or the line does not fit a slot.
    bool push(const char* data, int len);
    // Serial thread only: appends every published line to out, in order; the count.
    int drain(QByteArray& out);
    // Serial thread only: nothing published waits.
    bool empty() const;

private:
    struct slot
    {
        std::atomic<std::size_t> sequence{0};
        int len = 0;
        char data[slot_bytes];
    };
    std::array<slot, capacity> ring;
    alignas(64) std::atomic<std::size_t> head{0}; // next position a producer claims
    alignas(64) std::size_t tail = 0;             // next position the consumer takes
};
