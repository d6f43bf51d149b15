#pragma once

#include "serial_message_struct.h"

#include <QByteArray>
#include <cstdint>
#include <cstring>

// Receive side of the adapter line protocol. A line starts at a "t" and ends
// at the first carriage return after it. Only a complete standard data frame
// ("t", 3 hex digits, "8", 16 hex digits, either case) yields a record; bytes
// after the 16th data digit (an adapter timestamp, for example) are ignored.
// Anything else, "T" and "r" lines included, is dropped without a record, so
// a short line can never hand on data of an earlier frame.

// Largest unterminated tail kept between reads; a longer one cannot become a
// frame line any more and is dropped.
constexpr int rx_tail_limit = 1000;

// Shortest well-formed line without its carriage return.
constexpr int rx_line_min_length = 21;

namespace rx_line_detail {

struct hex_table
{
    int8_t value[256];
    constexpr hex_table() : value()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = -1;
        for (int c = '0'; c <= '9'; ++c)
            value[c] = int8_t(c - '0');
        for (int c = 'a'; c <= 'f'; ++c)
            value[c] = int8_t(c - 'a' + 10);
        for (int c = 'A'; c <= 'F'; ++c)
            value[c] = int8_t(c - 'A' + 10);
    }
};

// Value of each byte as a hex digit, or -1.
inline constexpr hex_table hex_digits{};

inline int hex_at(const char* p)
{
    return hex_digits.value[static_cast<unsigned char>(*p)];
}

} // namespace rx_line_detail

// Scans one line (from its "t", carriage return excluded) into msg.
// Returns false and leaves msg untouched unless the line is well formed.
inline bool scan_rx_line(const char* line, int len, serial_message_struct& msg)
{
    using rx_line_detail::hex_at;
    if (len < rx_line_min_length || line[0] != 't' || line[4] != '8')
        return false;
    const int i0 = hex_at(line + 1);
    const int i1 = hex_at(line + 2);
    const int i2 = hex_at(line + 3);
    if ((i0 | i1 | i2) < 0)
        return false;
    uint32_t data[8];
    for (int k = 0; k < 8; ++k) {
        const int hi = hex_at(line + 5 + 2 * k);
        const int lo = hex_at(line + 6 + 2 * k);
        if ((hi | lo) < 0)
            return false;
        data[k] = uint32_t(hi << 4 | lo);
    }
    msg.id = uint32_t(i0 << 8 | i1 << 4 | i2);
    std::memcpy(msg.data, data, sizeof data);
    return true;
}

// Cuts every complete line out of buffer and calls on_frame(const
// serial_message_struct&) for each well-formed one, in arrival order. What
// is left is the unterminated tail from its "t" on (or the bytes after the
// last line when no "t" follows); a tail longer than rx_tail_limit is
// dropped. The buffer is shortened once per call, so the work is linear in
// its size however many lines it holds.
template <typename Emit>
void cut_rx_lines(QByteArray& buffer, Emit&& on_frame)
{
    const char* const begin = buffer.constData();
    const char* const end = begin + buffer.size();
    const char* pos = begin;
    const char* keep = begin; // start of the part that stays in the buffer
    serial_message_struct msg;
    while (pos < end) {
        const auto* t = static_cast<const char*>(std::memchr(pos, 't', size_t(end - pos)));
        if (!t)
            break;
        keep = t;
        const auto* cr = static_cast<const char*>(std::memchr(t, '\r', size_t(end - t)));
        if (!cr)
            break;
        if (scan_rx_line(t, int(cr - t), msg))
            on_frame(static_cast<const serial_message_struct&>(msg));
        pos = cr + 1;
        keep = pos;
    }
    const int kept = int(end - keep);
    if (kept > rx_tail_limit)
        buffer.clear();
    else if (keep != begin)
        buffer.remove(0, int(keep - begin));
}
