#include "build_can_frame.h"

namespace {

char hex_digit(unsigned nibble)
{
    nibble &= 0xF;
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

} // namespace

int32_t build_can_frame(int32_t id, int8_t b0, int8_t b1, int8_t b2, int8_t b3,
                        int8_t b4, int8_t b5, int8_t b6, int8_t b7,
                        char* buf, uint32_t* len)
{
    const uint8_t bytes[8] = {uint8_t(b0), uint8_t(b1), uint8_t(b2), uint8_t(b3),
                              uint8_t(b4), uint8_t(b5), uint8_t(b6), uint8_t(b7)};
    const auto uid = static_cast<uint32_t>(id);
    buf[0] = 't';
    buf[1] = hex_digit(uid >> 8);
    buf[2] = hex_digit(uid >> 4);
    buf[3] = hex_digit(uid);
    buf[4] = '8';
    for (int k = 0; k < 8; ++k) {
        buf[5 + 2 * k] = hex_digit(bytes[k] >> 4);
        buf[6 + 2 * k] = hex_digit(bytes[k]);
    }
    buf[21] = '\r';
    *len = can_frame_line_length;
    return 0;
}
