#include "ps_model_struct.h"

#include "frame_encoding.h"

namespace {
// PS boards take the temperature set-point truncated.
constexpr command_def ps_set_temperature{0x12, value_layout::bits16, 10.0f, rounding::trunc};
} // namespace

void ps_model_struct::set_temperature(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, ps_set_temperature, v, buf, len);
}
