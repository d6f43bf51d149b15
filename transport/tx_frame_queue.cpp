#include "tx_frame_queue.h"

#include <cstring>

tx_frame_queue::tx_frame_queue()
{
    for (std::size_t i = 0; i < capacity; ++i)
        ring[i].sequence.store(i, std::memory_order_relaxed);
}

bool tx_frame_queue::push(const char* data, int len)
{
    if (len < 0 || len > slot_bytes)
        return false;
    std::size_t pos = head.load(std::memory_order_relaxed);
    slot* s = nullptr;
    for (;;) {
        s = &ring[pos & (capacity - 1)];
        const std::size_t seq = s->sequence.load(std::memory_order_acquire);
        const auto lag = static_cast<std::ptrdiff_t>(seq - pos);
        if (lag == 0) {
            if (head.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed))
                break;
        } else if (lag < 0) {
            return false; // the consumer has not freed this slot yet: full
        } else {
            pos = head.load(std::memory_order_relaxed);
        }
    }
    std::memcpy(s->data, data, static_cast<std::size_t>(len));
    s->len = len;
    // Publishes the line; seq_cst pairs with the consumer's check before it sleeps.
    s->sequence.store(pos + 1, std::memory_order_seq_cst);
    return true;
}

int tx_frame_queue::drain(QByteArray& out)
{
    int n = 0;
    for (;;) {
        slot& s = ring[tail & (capacity - 1)];
        if (s.sequence.load(std::memory_order_acquire) != tail + 1)
            return n;
        out.append(s.data, s.len);
        s.sequence.store(tail + capacity, std::memory_order_release);
        ++tail;
        ++n;
    }
}

bool tx_frame_queue::empty() const
{
    return ring[tail & (capacity - 1)].sequence.load(std::memory_order_seq_cst) != tail + 1;
}
