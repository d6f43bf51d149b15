#include "frame_encoding.h"

#include "build_can_frame.h"

#include <cmath>

int64_t scaled_integer(float v, float factor, rounding mode)
{
    const double product = double(v) * double(factor);
    const double whole = mode == rounding::round ? std::round(product) : std::trunc(product);
    // -2^63 and 2^63 are exact doubles; the comparison is false for NaN.
    constexpr double limit = 9223372036854775808.0;
    if (!(whole >= -limit && whole < limit))
        return 0;
    return static_cast<int64_t>(whole);
}

void encode_value(int32_t can_id, const command_def& cmd, int64_t value,
                  char* buf, uint32_t* len)
{
    const auto bits = static_cast<uint64_t>(value);
    uint8_t b[8] = {cmd.code, 0, 0, 0, 0, 0, 0, 0};
    switch (cmd.layout) {
    case value_layout::none:
        break;
    case value_layout::byte:
        b[7] = uint8_t(bits);
        break;
    case value_layout::bits16:
        b[6] = uint8_t(bits >> 8);
        b[7] = uint8_t(bits);
        break;
    case value_layout::bits32:
        b[4] = uint8_t(bits >> 24);
        b[5] = uint8_t(bits >> 16);
        b[6] = uint8_t(bits >> 8);
        b[7] = uint8_t(bits);
        break;
    }
    build_can_frame(can_id, int8_t(b[0]), int8_t(b[1]), int8_t(b[2]), int8_t(b[3]),
                    int8_t(b[4]), int8_t(b[5]), int8_t(b[6]), int8_t(b[7]), buf, len);
}

void encode_scaled(int32_t can_id, const command_def& cmd, float v, char* buf, uint32_t* len)
{
    encode_value(can_id, cmd, scaled_integer(v, cmd.factor, cmd.mode), buf, len);
}

void encode_request(int32_t can_id, const command_def& cmd, char* buf, uint32_t* len)
{
    encode_value(can_id, cmd, 0, buf, len);
}
