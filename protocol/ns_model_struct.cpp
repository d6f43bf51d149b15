#include "ns_model_struct.h"

#include "frame_encoding.h"

namespace {
namespace ns_cmd {
// NS boards take the temperature set-point rounded, unlike PS.
constexpr command_def set_temperature{0x12, value_layout::bits16, 10.0f, rounding::round};
constexpr command_def get_pulse_width = request(0xA3);
constexpr command_def set_pulse_width{0x23, value_layout::bits16, 10.0f, rounding::round};
} // namespace ns_cmd
} // namespace

void ns_model_struct::set_temperature(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, ns_cmd::set_temperature, v, buf, len);
}

void ns_model_struct::get_pulse_width(char* buf, uint32_t* len) const
{
    encode_request(can_id, ns_cmd::get_pulse_width, buf, len);
}

void ns_model_struct::set_pulse_width(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, ns_cmd::set_pulse_width, v, buf, len);
}
